#include "KestroCore/KestroStateJson.h"

#include "KestroCore/RecordCoding.h"

namespace kestro {

json::Value toJson(const AuditEntry& entry) {
    return json::encodeValue(entry);
}

AuditEntry auditEntryFromJson(const json::Value& value) {
    return json::decodeValue<AuditEntry>(value);
}

} // namespace kestro
