#include "KestroCore/KeyConversion.h"

#include <vector>

namespace kestro::json {

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::string convertFromSnakeCase(std::string_view key) {
    const std::size_t first = key.find_first_not_of('_');
    if (first == std::string_view::npos) {
        return std::string(key);
    }
    const std::size_t last = key.find_last_not_of('_');
    const std::string_view core = key.substr(first, last - first + 1);

    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= core.size()) {
        std::size_t end = core.find('_', start);
        if (end == std::string_view::npos) {
            end = core.size();
        }
        if (end > start) {
            pieces.push_back(core.substr(start, end - start));
        }
        start = end + 1;
    }
    if (pieces.size() <= 1) {
        return std::string(key);
    }

    std::string out(key.substr(0, first));
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        for (std::size_t j = 0; j < pieces[i].size(); ++j) {
            const char c = pieces[i][j];
            out.push_back(i > 0 && j == 0 ? upper(c) : lower(c));
        }
    }
    out.append(key.substr(last + 1));
    return out;
}

Value convertingKeysFromSnakeCase(const Value& value) {
    if (value.is_object()) {
        Value out = Value::object();
        for (auto it = value.begin(); it != value.end(); ++it) {
            const std::string key = convertFromSnakeCase(it.key());
            // Two spellings of one key: the first one met stays.
            if (!out.contains(key)) {
                out[key] = convertingKeysFromSnakeCase(it.value());
            }
        }
        return out;
    }
    if (value.is_array()) {
        Value out = Value::array();
        for (const Value& element : value) {
            out.push_back(convertingKeysFromSnakeCase(element));
        }
        return out;
    }
    return value;
}

} // namespace kestro::json
