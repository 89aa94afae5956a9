#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

using Date = std::chrono::system_clock::time_point;

// Whole-second UTC internet date-time: "2026-06-06T09:30:00Z". The fraction is dropped
// (towards the past), never rounded.
std::string formatIsoDate(Date date);

// Accepts exactly the whole-second internet date-time form with "Z" or a "+HH:MM" offset;
// a fraction of a second, or any other form, gives nothing.
std::optional<Date> parseIsoDate(std::string_view text);

Date truncatedToSeconds(Date date);

} // namespace kestro
