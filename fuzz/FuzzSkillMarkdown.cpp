#include "fuzz/FuzzChecks.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestro::fuzz::checkSkillMarkdown(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
