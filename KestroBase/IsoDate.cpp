#include "KestroBase/IsoDate.h"

#include <cstdint>
#include <cstdio>

namespace kestro {

namespace {

// Days since 1970-01-01 for a proleptic Gregorian date, and back (Howard Hinnant's algorithms).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool isLeap(std::int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(std::int64_t y, unsigned m) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

bool digits(std::string_view s, std::size_t pos, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return false;
        }
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

Date truncatedToSeconds(Date date) {
    return std::chrono::floor<std::chrono::seconds>(date);
}

std::string formatIsoDate(Date date) {
    const std::int64_t seconds =
        std::chrono::floor<std::chrono::seconds>(date).time_since_epoch().count();
    const std::int64_t days = floorDiv(seconds, 86400);
    const std::int64_t secondOfDay = seconds - days * 86400;
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<long long>(y), m, d, static_cast<int>(secondOfDay / 3600),
                  static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
    return buffer;
}

std::optional<Date> parseIsoDate(std::string_view s) {
    // YYYY-MM-DDTHH:MM:SS then Z or +HH:MM / -HH:MM
    if (s.size() != 20 && s.size() != 25) {
        return std::nullopt;
    }
    int year, month, day, hour, minute, second;
    if (!digits(s, 0, 4, year) || s[4] != '-' || !digits(s, 5, 2, month) || s[7] != '-' ||
        !digits(s, 8, 2, day) || s[10] != 'T' || !digits(s, 11, 2, hour) || s[13] != ':' ||
        !digits(s, 14, 2, minute) || s[16] != ':' || !digits(s, 17, 2, second)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 ||
        static_cast<unsigned>(day) > daysInMonth(year, static_cast<unsigned>(month)) || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    int offsetSeconds = 0;
    if (s.size() == 20) {
        if (s[19] != 'Z') {
            return std::nullopt;
        }
    } else {
        int offHours, offMinutes;
        if ((s[19] != '+' && s[19] != '-') || !digits(s, 20, 2, offHours) || s[22] != ':' ||
            !digits(s, 23, 2, offMinutes) || offHours > 23 || offMinutes > 59) {
            return std::nullopt;
        }
        offsetSeconds = (offHours * 3600 + offMinutes * 60) * (s[19] == '+' ? 1 : -1);
    }
    const std::int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const std::int64_t total = days * 86400 + hour * 3600 + minute * 60 + second - offsetSeconds;
    // The clock counts nanoseconds: years far outside 1678-2261 cannot be held.
    using Limits = std::chrono::duration<std::int64_t>;
    const auto limit = std::chrono::duration_cast<Limits>(Date::duration::max()).count() - 1;
    if (total > limit || total < -limit) {
        return std::nullopt;
    }
    return Date(std::chrono::seconds(total));
}

} // namespace kestro
