#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestro {

// Ranks items against a typed query over several text fields: an item stays when the query is a
// subsequence of one of its fields, and runs of adjacent matches and a match at the very start
// of a field score higher. Characters are user-perceived characters (grapheme clusters) after
// full Unicode lower-casing and canonical composition, so "é" typed composed finds "é" stored
// decomposed. Pure, no state.
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
        result.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            result[i] = i;
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
