#include "KestroCore/Skill.h"

namespace kestro {

namespace {

constexpr std::array<std::string_view, 2> kModeNames = {"agentic", "replay"};
constexpr std::array<std::string_view, 5> kParameterTypeNames = {"text", "date", "number",
                                                                 "filePath", "searchTerm"};

template <typename E, std::size_t N>
std::optional<E> fromNames(const std::array<std::string_view, N>& names,
                           const std::array<E, N>& cases, std::string_view raw) {
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i] == raw) {
            return cases[i];
        }
    }
    return std::nullopt;
}

} // namespace

std::string_view rawValue(ExecutionMode mode) {
    return kModeNames[static_cast<std::size_t>(mode)];
}

std::optional<ExecutionMode> executionModeFromRawValue(std::string_view raw) {
    return fromNames(kModeNames, allExecutionModes, raw);
}

std::string_view rawValue(ParameterType type) {
    return kParameterTypeNames[static_cast<std::size_t>(type)];
}

std::optional<ParameterType> parameterTypeFromRawValue(std::string_view raw) {
    return fromNames(kParameterTypeNames, allParameterTypes, raw);
}

} // namespace kestro
