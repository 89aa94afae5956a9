#include "KestroBase/Text.h"

#include <gtest/gtest.h>

#include <string>

using namespace kestro;

namespace {

TEST(Text, TrimmingTakesWhitespaceOffTheEndsOnly) {
    struct Case {
        std::string in;
        std::string trimmed;
        std::string trimmedWithNewlines;
    } cases[] = {
        {"", "", ""},
        {"plain", "plain", "plain"},
        {" \t a b \t ", "a b", "a b"},
        {"   ", "", ""},
        {"\n a \r\n", "\n a \r\n", "a"},
        // Wide spaces count as whitespace, at either end; letters of several bytes are kept.
        {"\u00A0\u2003caf\u00E9\u3000", "caf\u00E9", "caf\u00E9"},
        {"\u00E9", "\u00E9", "\u00E9"},
        {"\u2028x\u2029", "\u2028x\u2029", "x"},
        {" \U0001F600 ", "\U0001F600", "\U0001F600"},
        // Ill-formed bytes become U+FFFD and stay; the whitespace around them goes.
        {" \xFF ", "\uFFFD", "\uFFFD"},
        {"\xC3 a \xE2\x80", "\uFFFD a \uFFFD", "\uFFFD a \uFFFD"},
        {"a\xC3 ", "a\uFFFD", "a\uFFFD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text::trimWhitespace(c.in), c.trimmed) << c.in;
        EXPECT_EQ(text::trimWhitespaceAndNewlines(c.in), c.trimmedWithNewlines) << c.in;
    }
}

} // namespace
