#pragma once

#include "KestroCore/Recording.h"
#include "KestroCore/Skill.h"

#include <ostream>

namespace kestro {

// The built-in check of the stored formats and the algorithms, run by "kestro --selftest": a
// sample skill and a sample recording saved and loaded back, the SKILL.md rendering, the fuzzy
// ranking, a run context's slot filling and the synthesizer's schema. It needs no display, no
// key and no network; it writes into the real data folders under fresh ids and removes what it
// wrote, whatever happened.
namespace SelfTest {

// Whether the program's arguments (its path first) ask for the self-test: one of them is exactly
// "--selftest".
bool requested(int argc, const char* const* argv);

// Runs every check, writes the report to standard output (or `out`) and returns the exit status:
// 0 when every check passed, 1 otherwise.
int run();
int run(std::ostream& out);
// The same with the given samples, whose ids name the folders it writes.
int run(std::ostream& out, const Skill& skill, const Recording& recording);

// The samples, with fresh ids at each call.
Skill sampleSkill();
Recording sampleRecording();

} // namespace SelfTest

} // namespace kestro
