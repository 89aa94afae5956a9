#include "KestroCore/KestroState.h"

namespace kestro {

RunContext::RunContext(Skill skill, std::map<std::string, std::string> parameters)
    : skill_(std::move(skill)), parameters_(std::move(parameters)) {}

void RunContext::abort() {
    std::lock_guard guard(lock_);
    aborted_.store(true);
}

void RunContext::record(const AuditEntry& entry) {
    std::lock_guard guard(lock_);
    auditLog_.push_back(entry);
}

std::vector<AuditEntry> RunContext::auditLog() const {
    std::lock_guard guard(lock_);
    return auditLog_;
}

std::string RunContext::fill(const std::string& text) const {
    std::string result = text;
    for (const auto& [name, value] : parameters_) {
        const std::string slot = "{{" + name + "}}";
        std::string next;
        next.reserve(result.size());
        std::size_t from = 0;
        for (std::size_t at = result.find(slot); at != std::string::npos;
             at = result.find(slot, from)) {
            next.append(result, from, at - from);
            next.append(value);
            from = at + slot.size();
        }
        next.append(result, from, std::string::npos);
        result = std::move(next);
    }
    return result;
}

} // namespace kestro
