#include "KestroBase/IsoDate.h"
#include "KestroBase/Uuid.h"
#include "KestroCore/Json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using kestro::Uuid;
namespace json = kestro::json;

TEST(StoredJson, SortsKeysAtEveryLevelAndEscapesSlashes) {
    json::Value v = json::Value::object();
    v["zeta"] = 1;
    v["alpha"] = json::Value{{"y", "frames/000001.png"}, {"b", json::Value::array()}};
    v["Mid"] = json::Value::object();
    const std::string out = json::writeStored(v);
    EXPECT_EQ(out, "{\n  \"Mid\" : {},\n  \"alpha\" : {\n    \"b\" : [],\n    \"y\" : "
                   "\"frames\\/000001.png\"\n  },\n  \"zeta\" : 1\n}");
    EXPECT_EQ(json::parse(out)["alpha"]["y"], "frames/000001.png");
}

TEST(StoredJson, NumbersUseTheShortestFormThatReadsBack) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {{10.0, "10"},
                 {-0.0, "-0"},
                 {0.1, "0.1"},
                 {1.5, "1.5"},
                 {1e21, "1e+21"},
                 {-3.25, "-3.25"},
                 {1.0 / 3, "0.3333333333333333"},
                 {123456789.0, "123456789"}};
    for (const auto& c : cases) {
        EXPECT_EQ(json::writeCompact(json::Value(c.value)), c.text) << c.value;
        EXPECT_EQ(json::parse(c.text).get<double>(), c.value);
    }
}

TEST(StoredJson, NonFiniteNumbersFailTheWholeDocument) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        json::Value doc{{"events", json::Value::array({json::Value{{"x", bad}}})}};
        EXPECT_THROW(json::writeStored(doc), json::EncodingError);
        EXPECT_THROW(json::writeCompact(doc), json::EncodingError);
    }
}

TEST(StoredJson, IllFormedUtf8IsReplacedNotLost) {
    json::Value v{{"title", std::string("caf\xE9 \xFF!")}, {"ok", "é€"}};
    const std::string out = json::writeCompact(v);
    EXPECT_EQ(out, "{\"ok\":\"é€\",\"title\":\"caf\xEF\xBF\xBD \xEF\xBF\xBD!\"}");
    EXPECT_NO_THROW(json::parse(out));
}

TEST(StoredJson, ControlCharactersAreEscaped) {
    EXPECT_EQ(json::writeCompact(json::Value(std::string("a\n\t\"\\\x01", 6))),
              "\"a\\n\\t\\\"\\\\\\u0001\"");
}

TEST(JsonReader, MalformedTextThrowsDecodingError) {
    for (const char* text : {"", "{", "[1,]", "{\"a\":}", "\xFF", "{\"a\":\"\xC3\"}", "nul"}) {
        EXPECT_THROW(json::parse(text), json::DecodingError) << text;
    }
}

TEST(JsonReader, IntegersAreCheckedForKindAndRange) {
    struct Case {
        const char* value;
        bool ok;
    } u16Cases[] = {{"0", true},   {"65535", true}, {"65536", false},
                    {"-1", false}, {"1.5", false},  {"2.0", true},
                    {"1e2", true}, {"true", false}, {"\"5\"", false}};
    for (const auto& c : u16Cases) {
        json::Value doc = json::parse(std::string("{\"k\":") + c.value + "}");
        json::ObjectReader r(doc, "Test");
        if (c.ok) {
            EXPECT_NO_THROW(r.requiredInt<std::uint16_t>("k")) << c.value;
        } else {
            EXPECT_THROW(r.requiredInt<std::uint16_t>("k"), json::DecodingError) << c.value;
        }
    }
    json::Value big = json::parse("{\"u\":18446744073709551615,\"i\":-9223372036854775808}");
    json::ObjectReader r(big, "Test");
    EXPECT_EQ(r.requiredInt<std::uint64_t>("u"), std::numeric_limits<std::uint64_t>::max());
    EXPECT_THROW(r.requiredInt<std::int64_t>("u"), json::DecodingError);
    EXPECT_EQ(r.requiredInt<std::int64_t>("i"), std::numeric_limits<std::int64_t>::min());
    EXPECT_THROW(r.requiredInt<std::uint64_t>("i"), json::DecodingError);
    // Numbers beyond both 64-bit ranges are read as doubles and round onto the range's ends.
    for (const char* outside : {"-9223372036854775809", "-9223372036854776000", "-1e19"}) {
        json::Value doc = json::parse(std::string("{\"i\":") + outside + "}");
        EXPECT_THROW(json::ObjectReader(doc, "Test").requiredInt<std::int64_t>("i"),
                     json::DecodingError)
            << outside;
    }
    json::Value over = json::parse("{\"u\":18446744073709551616}");
    EXPECT_THROW(json::ObjectReader(over, "Test").requiredInt<std::uint64_t>("u"),
                 json::DecodingError);
}

TEST(JsonReader, NullIsAbsentForOptionalAndMissingForRequired) {
    json::Value doc = json::parse(R"({"a":null,"b":"x"})");
    json::ObjectReader r(doc, "Test");
    EXPECT_EQ(r.optionalString("a"), std::nullopt);
    EXPECT_EQ(r.optionalString("missing"), std::nullopt);
    EXPECT_EQ(r.optionalString("b"), "x");
    EXPECT_THROW(r.requiredString("a"), json::DecodingError);
    EXPECT_THROW(r.optionalDouble("b"), json::DecodingError); // present but of the wrong type
    EXPECT_THROW(json::ObjectReader(json::parse("[]"), "Test"), json::DecodingError);
}

TEST(Uuid, ParsesEitherCaseAndPrintsUpperCase) {
    auto id = Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->uuidString(), "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
    EXPECT_EQ(Uuid::parse("6BA7B810-9DAD-11D1-80B4-00C04FD430C8"), id);
    for (const char* bad :
         {"", "6ba7b8109dad11d180b400c04fd430c8", "6ba7b810-9dad-11d1-80b4-00c04fd430c",
          "6ba7b810-9dad-11d1-80b4-00c04fd430c8 ", "{6ba7b810-9dad-11d1-80b4-00c04fd430c8}",
          "6ba7b810-9dad-11d1-80b4_00c04fd430c8", "gba7b810-9dad-11d1-80b4-00c04fd430c8",
          "6ba7b81-09dad-11d1-80b4-00c04fd430c8"}) {
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    }
    EXPECT_NE(Uuid::random(), Uuid::random());
    EXPECT_EQ(Uuid::random().uuidString()[14], '4');
}

TEST(IsoDate, FormatsWholeSecondsInUtcDroppingTheFraction) {
    using namespace std::chrono;
    kestro::Date d =
        kestro::Date(seconds(1780738200)) + milliseconds(250); // 2026-06-06 09:30:00.25
    EXPECT_EQ(kestro::formatIsoDate(d), "2026-06-06T09:30:00Z");
    EXPECT_EQ(kestro::formatIsoDate(kestro::Date{}), "1970-01-01T00:00:00Z");
    EXPECT_EQ(kestro::formatIsoDate(kestro::Date(milliseconds(-500))), "1969-12-31T23:59:59Z");
}

TEST(IsoDate, ParsesOnlyTheWholeSecondInternetForm) {
    using namespace std::chrono;
    struct Case {
        const char* text;
        std::optional<long long> seconds;
    } cases[] = {
        {"2026-06-06T09:30:00Z", 1780738200},      {"2026-06-06T11:30:00+02:00", 1780738200},
        {"2026-06-06T09:30:00-00:30", 1780740000}, {"2024-02-29T00:00:00Z", 1709164800},
        {"2026-06-06T09:30:00.5Z", std::nullopt},  {"2026-06-06T09:30:00", std::nullopt},
        {"2026-06-06 09:30:00Z", std::nullopt},    {"2026-6-06T09:30:00Z", std::nullopt},
        {"2023-02-29T00:00:00Z", std::nullopt},    {"2026-13-01T00:00:00Z", std::nullopt},
        {"2026-06-06T24:00:00Z", std::nullopt},    {"2026-06-06T09:30:60Z", std::nullopt},
        {"2026-06-06T09:30:00z", std::nullopt},    {"", std::nullopt},
        {"1013-06-06T09:30:00Z", std::nullopt}, // beyond what the clock can hold
        {"9999-12-31T23:59:59Z", std::nullopt},    {"2200-01-01T00:00:00Z", 7258118400},
    };
    for (const auto& c : cases) {
        auto parsed = kestro::parseIsoDate(c.text);
        if (c.seconds) {
            ASSERT_TRUE(parsed) << c.text;
            EXPECT_EQ(duration_cast<seconds>(parsed->time_since_epoch()).count(), *c.seconds)
                << c.text;
        } else {
            EXPECT_FALSE(parsed) << c.text;
        }
    }
}

TEST(JsonReader, DeepNestingIsRejectedOrReadWithoutExhaustingTheStack) {
    EXPECT_THROW(json::parse(std::string(1000000, '[')), json::DecodingError);
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_NO_THROW(json::parse(deep));
}

TEST(JsonReader, ForeignJsonIsRefusedBeyondTheNestingLimit) {
    auto nested = [](std::size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    EXPECT_NO_THROW(json::parseForeign(nested(json::maxForeignNesting)));
    EXPECT_THROW(json::parseForeign(nested(json::maxForeignNesting + 1)), json::DecodingError);
    EXPECT_THROW(json::parseForeign("{\"a\":" + nested(json::maxForeignNesting) + "}"),
                 json::DecodingError);
    // Brackets inside strings, escaped quotes included, are text.
    const std::string text = R"({"s":"\"[[[[{{{{"})";
    EXPECT_EQ(json::parseForeign(text, 1)["s"], "\"[[[[{{{{");
    EXPECT_THROW(json::parseForeign("[1,", 4), json::DecodingError);
}
