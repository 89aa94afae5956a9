#include "KestroCore/AXTargetJson.h"

#include "KestroCore/RecordCoding.h"

namespace kestro {

json::Value toJson(const AXTarget& target) {
    return json::encodeValue(target);
}
AXTarget axTargetFromJson(const json::Value& value) {
    return json::decodeValue<AXTarget>(value);
}
void writeStored(json::StoredWriter& out, const AXTarget& target) {
    json::writeRecord(out, target);
}
AXTarget axTargetFromStored(json::Element value) {
    return json::readRecord<AXTarget>(value);
}

} // namespace kestro
