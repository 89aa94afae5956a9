#include "KestroCore/ActionEventJson.h"

#include "KestroCore/RecordCoding.h"

namespace kestro {

json::Value toJson(ActionType type) {
    return std::string(rawValue(type));
}
ActionType actionTypeFromJson(const json::Value& value) {
    return json::enumFromValue<ActionType>(value);
}
ActionType actionTypeFromStored(json::Element value) {
    return json::enumFromStored<ActionType>(value);
}

json::Value toJson(const ActionEvent& event) {
    return json::encodeValue(event);
}
ActionEvent actionEventFromJson(const json::Value& value) {
    return json::decodeValue<ActionEvent>(value);
}
void writeStored(json::StoredWriter& out, const ActionEvent& event) {
    json::writeRecord(out, event);
}
ActionEvent actionEventFromStored(json::Element value) {
    return json::readRecord<ActionEvent>(value);
}

} // namespace kestro
