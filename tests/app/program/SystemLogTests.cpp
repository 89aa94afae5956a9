#include "Kestro/app/SystemLog.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kestro;

TEST(SystemLog, LinesReachTheSinkVerbatim) {
    std::vector<std::string> lines;
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    systemLog("Kestro: 100% done %s %n");
    setLogSink({});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Kestro: 100% done %s %n");
}

TEST(SystemLog, ControlCharactersFromOutsideAreEscaped) {
    struct Case {
        std::string given;
        std::string logged;
    };
    const std::vector<Case> cases{
        // What an error body can carry: a forged line of its own.
        {"Kestro: run \"x\" failed: 500\nKestro: synthesized skill \"Evil\"",
         "Kestro: run \"x\" failed: 500\\nKestro: synthesized skill \"Evil\""},
        {"a\r\tb", "a\\r\\tb"},
        {"title \x1b[2J\x1b]0;owned\x07", "title \\x1b[2J\\x1b]0;owned\\x07"},
        {std::string("name\0cut", 8), "name\\x00cut"},
        {"del\x7f", "del\\x7f"},
        // Ordinary lines stay byte for byte, their own punctuation and UTF-8 included.
        {"Kestro: recorded 3 events \u2192 1234, but no key \u2014 100% \\n {}",
         "Kestro: recorded 3 events \u2192 1234, but no key \u2014 100% \\n {}"},
        {"caf\xc3\xa9 \xff\xfe", "caf\xc3\xa9 \xff\xfe"},
    };
    std::vector<std::string> lines;
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    for (const Case& c : cases) {
        systemLog(c.given);
    }
    setLogSink({});
    ASSERT_EQ(lines.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(lines[i], cases[i].logged) << "case " << i;
    }
}
