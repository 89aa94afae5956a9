#include "Kestro/text/FuzzyMatch.h"

#include "Kestro/text/UnicodeFold.h"
#include "KestroBase/Text.h"

#include <algorithm>

namespace kestro::FuzzyMatch {

namespace {

constexpr std::int64_t prefixBonus = 20;
constexpr int crlfCode = 0x100;

// Keys of characters made of several code points start past the last code point; a query
// character that no field holds gets the largest key, which no field has.
constexpr std::uint32_t firstClusterKey = 0x110000;
constexpr std::uint32_t absentKey = 0xFFFFFFFF;

// The bit a character sets in a field's summary: one each for the lower-case letters and
// digits, the rest spread over the remaining bits.
std::uint64_t presenceBit(std::uint32_t key) {
    if (key >= 'a' && key <= 'z') {
        return std::uint64_t{1} << (key - 'a');
    }
    if (key >= '0' && key <= '9') {
        return std::uint64_t{1} << (26 + key - '0');
    }
    return std::uint64_t{1} << (36 + ((key * 2654435761u) >> 8) % 28);
}

// A character given by a single code unit or a surrogate pair is its code point; the UTF-16
// form of a code point is unique, so equal keys mean equal characters.
bool singleCodePoint(std::u16string_view character, std::uint32_t& codePoint) {
    if (character.size() == 1) {
        codePoint = character[0];
        return true;
    }
    if (character.size() == 2 && character[0] >= 0xD800 && character[0] < 0xDC00 &&
        character[1] >= 0xDC00 && character[1] < 0xE000) {
        codePoint = 0x10000 + ((std::uint32_t{character[0]} - 0xD800) << 10) +
                    (std::uint32_t{character[1]} - 0xDC00);
        return true;
    }
    return false;
}

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

Prepared::Key Prepared::keyOf(std::u16string_view character) {
    std::uint32_t codePoint = 0;
    if (singleCodePoint(character, codePoint)) {
        return codePoint;
    }
    const auto next = static_cast<Key>(firstClusterKey + clusters_.size());
    return clusters_.try_emplace(std::u16string(character), next).first->second;
}

Prepared::Key Prepared::lookUp(std::u16string_view character) const {
    std::uint32_t codePoint = 0;
    if (singleCodePoint(character, codePoint)) {
        return codePoint;
    }
    const auto found = clusters_.find(std::u16string(character));
    return found == clusters_.end() ? absentKey : found->second;
}

void Prepared::addField(std::string_view text) {
    Field field;
    field.begin = characters_.size();
    if (isAscii(text)) {
        // As in the direct path: one byte is one character, except CR LF.
        for (std::size_t pos = 0; pos < text.size(); ++pos) {
            const auto c = static_cast<unsigned char>(text[pos]);
            Key key = 0;
            if (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') {
                ++pos;
                key = keyOf(u"\r\n");
            } else {
                key = (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
            }
            characters_.push_back(key);
            field.present |= presenceBit(key);
        }
    } else {
        const std::u16string folded = unicode::foldedUtf16(text);
        const std::vector<std::size_t> bounds = unicode::graphemeBoundaries(folded);
        const std::u16string_view view(folded);
        for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
            const Key key = keyOf(view.substr(bounds[i], bounds[i + 1] - bounds[i]));
            characters_.push_back(key);
            field.present |= presenceBit(key);
        }
    }
    field.length = characters_.size() - field.begin;
    fields_.push_back(field);
}

Prepared::Keys Prepared::queryKeys(const Query& query) const {
    Keys result;
    result.keys.reserve(query.size());
    for (std::size_t i = 0; i < query.size(); ++i) {
        const Key key = lookUp(query.character(i));
        result.keys.push_back(key);
        result.present |= presenceBit(key);
    }
    return result;
}

std::optional<std::int64_t> Prepared::bestScore(std::size_t item, const Keys& query) const {
    const Key* const q = query.keys.data();
    const std::size_t n = query.keys.size();
    std::optional<std::int64_t> best;
    for (std::size_t f = items_[item]; f < items_[item + 1]; ++f) {
        const Field& field = fields_[f];
        // Too short, or lacking one of the query's characters: it cannot match.
        if (field.length < n || (query.present & ~field.present) != 0) {
            continue;
        }
        // The direct path's pass, taken a match at a time: each query character takes its
        // first occurrence after the previous match; a match right after the previous one
        // extends the run, any other starts a new run of 1.
        const Key* const t = characters_.data() + field.begin;
        const std::size_t length = field.length;
        std::int64_t total = 0;
        std::int64_t run = 0;
        std::size_t j = 0;
        std::size_t lastMatch = 0;
        std::size_t cursor = 0;
        for (; cursor < n; ++cursor, ++j) {
            j = static_cast<std::size_t>(std::find(t + j, t + length, q[cursor]) - t);
            if (j == length) {
                break;
            }
            // A first match never extends a run; a later one does when it follows the last.
            run = (cursor > 0 && j == lastMatch + 1) ? run + 1 : 1;
            total += run == 1 ? 1 : 1 + run;
            lastMatch = j;
        }
        if (cursor < n) {
            continue;
        }
        // Matches at 0 to n - 1 mean no other character came first: the field starts with
        // the query (as every field starts with the empty one).
        if (n == 0 || lastMatch + 1 == n) {
            total += prefixBonus;
        }
        if (!best || total > *best) {
            best = total;
        }
    }
    return best;
}

std::vector<std::size_t> Prepared::rankIndices(std::string_view rawQuery, std::size_t limit) const {
    const Query query(rawQuery);
    const std::size_t count = size();
    std::vector<std::size_t> result;
    if (query.empty()) {
        result.resize(std::min(count, limit));
        for (std::size_t i = 0; i < result.size(); ++i) {
            result[i] = i;
        }
        return result;
    }
    const Keys keys = queryKeys(query);
    // No score passes a run as long as the query plus the prefix bonus, which a field starting
    // with the query scores. Later items can at best tie with those and ties keep input order,
    // so once `limit` items score that, the rest cannot enter the first `limit`.
    const auto n = static_cast<std::int64_t>(keys.keys.size());
    const std::int64_t highest = n - 1 + n * (n + 1) / 2 + prefixBonus;
    std::vector<std::pair<std::int64_t, std::size_t>> scored;
    scored.reserve(count);
    std::size_t atHighest = 0;
    for (std::size_t i = 0; i < count && atHighest < limit; ++i) {
        if (const auto best = bestScore(i, keys)) {
            scored.emplace_back(*best, i);
            atHighest += *best == highest ? 1 : 0;
        }
    }
    // Scores are small: place the kept items by score, highest first, keeping input order
    // within a score: the order a stable sort would give, in linear time.
    const std::size_t kept = std::min(scored.size(), limit);
    if (highest <= 4096) {
        std::vector<std::size_t> start(static_cast<std::size_t>(highest) + 2, 0);
        for (const auto& entry : scored) {
            ++start[static_cast<std::size_t>(highest - entry.first) + 1];
        }
        for (std::size_t k = 1; k < start.size(); ++k) {
            start[k] += start[k - 1];
        }
        result.resize(scored.size());
        for (const auto& entry : scored) {
            result[start[static_cast<std::size_t>(highest - entry.first)]++] = entry.second;
        }
        result.resize(kept);
        return result;
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& l, const auto& r) { return l.first > r.first; });
    result.reserve(kept);
    for (std::size_t i = 0; i < kept; ++i) {
        result.push_back(scored[i].second);
    }
    return result;
}

std::optional<std::int64_t> Prepared::score(std::size_t item, std::string_view rawQuery) const {
    return bestScore(item, queryKeys(Query(rawQuery)));
}

} // namespace kestro::FuzzyMatch
