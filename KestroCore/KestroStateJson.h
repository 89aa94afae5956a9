#pragma once

#include "KestroCore/ActionEventJson.h"
#include "KestroCore/KestroState.h"

namespace kestro {

// "timestamp" in the stored date form, the action by its case name.
json::Value toJson(const AuditEntry& entry);
// All five keys are required. Throws json::DecodingError.
AuditEntry auditEntryFromJson(const json::Value& value);

} // namespace kestro

template <> struct kestro::json::Fields<kestro::AuditEntry> {
    static constexpr std::string_view name = "AuditEntry";
    static constexpr auto members = std::tuple{
        field("timestamp", &AuditEntry::timestamp), field("intent", &AuditEntry::intent),
        field("action", &AuditEntry::action),       field("detail", &AuditEntry::detail),
        field("agentic", &AuditEntry::agentic),
    };
};
