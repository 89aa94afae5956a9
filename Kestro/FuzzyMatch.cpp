#include "Kestro/FuzzyMatch.h"

#include "Kestro/UnicodeFold.h"
#include "KestroBase/Text.h"

namespace kestro::FuzzyMatch {

namespace {

constexpr std::int64_t prefixBonus = 20;
constexpr int crlfCode = 0x100;

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

int asciiCodeOf(std::u16string_view character) {
    if (character.size() == 1 && character[0] < 0x80) {
        return character[0];
    }
    if (character == u"\r\n") {
        return crlfCode;
    }
    return -1;
}

// The matching pass shared by both text paths. `next` yields the text's characters one by one
// and returns false at the end; `equal(i)` tells whether the current text character equals query
// character i. Matching stops once the query is used up: later characters change nothing but
// the run, and the prefix test only needs to know whether a mismatch came first.
template <class Next, class Equal>
std::optional<std::int64_t> scorePass(std::size_t querySize, Next&& next, Equal&& equal) {
    std::int64_t total = 0;
    std::int64_t run = 0;
    bool previousMatched = false;
    bool mismatchSeen = false;
    std::size_t cursor = 0;
    while (cursor < querySize && next()) {
        if (equal(cursor)) {
            ++run;
            total += previousMatched ? 1 + run : 1;
            ++cursor;
            previousMatched = true;
        } else {
            run = 0;
            previousMatched = false;
            mismatchSeen = true;
        }
    }
    if (cursor < querySize) {
        return std::nullopt;
    }
    if (!mismatchSeen) {
        total += prefixBonus;
    }
    return total;
}

} // namespace

Query::Query(std::string_view raw) {
    text_ = unicode::foldedUtf16(text::trimWhitespace(raw));
    offsets_ = unicode::graphemeBoundaries(text_);
    for (std::size_t i = 0; i + 1 < offsets_.size(); ++i) {
        ascii_.push_back(asciiCodeOf(character(i)));
    }
}

std::optional<std::int64_t> score(const Query& query, std::string_view text) {
    const std::size_t n = query.size();
    if (isAscii(text)) {
        // Lower-casing, composition and clusters are trivial for ASCII: one byte is one
        // character, except CR LF, which is one.
        std::size_t pos = 0;
        int code = 0;
        auto next = [&] {
            if (pos >= text.size()) {
                return false;
            }
            unsigned char c = static_cast<unsigned char>(text[pos++]);
            if (c == '\r' && pos < text.size() && text[pos] == '\n') {
                ++pos;
                code = crlfCode;
            } else {
                code = (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
            }
            return true;
        };
        return scorePass(n, next, [&](std::size_t i) { return query.asciiCode(i) == code; });
    }
    const std::u16string folded = unicode::foldedUtf16(text);
    const std::vector<std::size_t> bounds = unicode::graphemeBoundaries(folded);
    const std::u16string_view view(folded);
    std::size_t index = 0;
    std::u16string_view current;
    auto next = [&] {
        if (index + 1 >= bounds.size()) {
            return false;
        }
        current = view.substr(bounds[index], bounds[index + 1] - bounds[index]);
        ++index;
        return true;
    };
    return scorePass(n, next, [&](std::size_t i) { return query.character(i) == current; });
}

std::optional<std::int64_t> score(std::string_view query, std::string_view text) {
    const std::u16string q = unicode::composedUtf16(query);
    const std::u16string t = unicode::composedUtf16(text);
    const auto qb = unicode::graphemeBoundaries(q);
    const auto tb = unicode::graphemeBoundaries(t);
    const std::u16string_view qv(q);
    const std::u16string_view tv(t);
    const std::size_t n = qb.empty() ? 0 : qb.size() - 1;
    std::size_t index = 0;
    std::u16string_view current;
    auto next = [&] {
        if (index + 1 >= tb.size()) {
            return false;
        }
        current = tv.substr(tb[index], tb[index + 1] - tb[index]);
        ++index;
        return true;
    };
    return scorePass(n, next,
                     [&](std::size_t i) { return qv.substr(qb[i], qb[i + 1] - qb[i]) == current; });
}

} // namespace kestro::FuzzyMatch
