#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestro {

// Ranks items against a typed query over several text fields: an item stays when the query is a
// subsequence of one of its fields, and runs of adjacent matches and a match at the very start
// of a field score higher. Characters are user-perceived characters (grapheme clusters) after
// full Unicode lower-casing and canonical composition, so "é" typed composed finds "é" stored
// decomposed. The functions are pure; Prepared keeps a list's folded fields for repeated queries.
namespace FuzzyMatch {

// The query as the ranker compares it: trimmed of space separators and tabs (never line
// breaks), lower-cased, composed and split into characters.
class Query {
public:
    explicit Query(std::string_view raw);

    bool empty() const { return offsets_.size() <= 1; }
    std::size_t size() const { return offsets_.empty() ? 0 : offsets_.size() - 1; }
    std::u16string_view character(std::size_t i) const {
        return std::u16string_view(text_).substr(offsets_[i], offsets_[i + 1] - offsets_[i]);
    }
    // The character as one ASCII byte, 0x100 for CR LF, or -1 for anything else.
    int asciiCode(std::size_t i) const { return ascii_[i]; }

private:
    std::u16string text_;
    std::vector<std::size_t> offsets_;
    std::vector<int> ascii_;
};

// Score of a prepared query in a field; the field is lower-cased and composed here, not trimmed.
std::optional<std::int64_t> score(const Query& query, std::string_view text);

// Score of an already normalised query in an already normalised text (both UTF-8), or nothing
// when the query is not a subsequence of the text.
std::optional<std::int64_t> score(std::string_view query, std::string_view text);

// Indices of the kept items in ranked order: best score first, ties in input order. `fields(i)`
// gives item i's texts as any range of things convertible to std::string_view. An empty query
// keeps every item in input order.
template <class Fields>
std::vector<std::size_t> rankIndices(std::size_t count, std::string_view rawQuery,
                                     Fields&& fields) {
    const Query query(rawQuery);
    std::vector<std::size_t> result;
    if (query.empty()) {
        // Appended one by one: GCC 12 at -O3 reports a null dereference in resize() that
        // cannot happen.
        result.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            result.push_back(i);
        }
        return result;
    }
    std::vector<std::pair<std::int64_t, std::size_t>> scored;
    for (std::size_t i = 0; i < count; ++i) {
        std::optional<std::int64_t> best;
        for (const auto& field : fields(i)) {
            const auto s = score(query, std::string_view(field));
            if (s && (!best || *s > *best)) {
                best = s;
            }
        }
        if (best) {
            scored.emplace_back(*best, i);
        }
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& l, const auto& r) { return l.first > r.first; });
    result.reserve(scored.size());
    for (const auto& entry : scored) {
        result.push_back(entry.second);
    }
    return result;
}

// A list of items whose fields are lower-cased, composed and split into characters once, when the
// list is made, so that ranking on each keystroke compares numbers and touches no Unicode
// tables. It ranks exactly as rankIndices does over the same fields: same survivors, same order,
// same scores. Immutable once built; safe to share between threads.
class Prepared {
public:
    Prepared() = default;

    // `fields(i)` as for rankIndices; it is asked twice for each item, once to size the
    // storage (growing it piecemeal costs far more than the folding) and once to fill it. The
    // texts are not kept.
    template <class Fields> Prepared(std::size_t count, Fields&& fields) {
        std::size_t fieldCount = 0;
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < count; ++i) {
            for (const auto& field : fields(i)) {
                ++fieldCount;
                bytes += std::string_view(field).size();
            }
        }
        items_.reserve(count + 1);
        fields_.reserve(fieldCount);
        // Nearly always one character for each byte or fewer.
        characters_.reserve(bytes);
        for (std::size_t i = 0; i < count; ++i) {
            items_.push_back(fields_.size());
            for (const auto& field : fields(i)) {
                addField(std::string_view(field));
            }
        }
        items_.push_back(fields_.size());
    }

    std::size_t size() const { return items_.empty() ? 0 : items_.size() - 1; }

    // The first `limit` of the ranked order (every kept item when `limit` is larger): best score
    // first, ties in input order; an empty query keeps every item in input order.
    std::vector<std::size_t> rankIndices(std::string_view rawQuery,
                                         std::size_t limit = static_cast<std::size_t>(-1)) const;

    // Item `item` (below size()): its best score over its fields for the query as typed
    // (trimmed and folded here), or nothing when no field matches.
    std::optional<std::int64_t> score(std::size_t item, std::string_view rawQuery) const;

private:
    // One character of a field: its code point when it is a single one, otherwise the number
    // of its text in `clusters_` offset past the last code point.
    using Key = std::uint32_t;

    struct Field {
        std::size_t begin = 0;
        std::size_t length = 0;
        // One bit for each character present (many characters share a bit): a field lacking a
        // bit the query needs cannot match.
        std::uint64_t present = 0;
    };

    struct Keys {
        std::vector<Key> keys;
        std::uint64_t present = 0;
    };

    void addField(std::string_view text);
    // Adds a character made of several code points to `clusters_` when it is new.
    Key keyOf(std::u16string_view character);
    // For the query: a character that no field holds gets a key no field has.
    Key lookUp(std::u16string_view character) const;
    Keys queryKeys(const Query& query) const;
    std::optional<std::int64_t> bestScore(std::size_t item, const Keys& query) const;

    std::vector<Key> characters_;
    std::vector<Field> fields_;
    std::vector<std::size_t> items_; // first field of each item, then the end
    std::unordered_map<std::u16string, Key> clusters_;
};

// The kept items themselves, in ranked order.
template <class T, class Fields>
std::vector<T> rank(const std::vector<T>& items, std::string_view query, Fields&& fields) {
    std::vector<T> result;
    const auto order =
        rankIndices(items.size(), query, [&](std::size_t i) { return fields(items[i]); });
    result.reserve(order.size());
    for (std::size_t i : order) {
        result.push_back(items[i]);
    }
    return result;
}

} // namespace FuzzyMatch

} // namespace kestro
