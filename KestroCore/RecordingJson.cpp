#include "KestroCore/RecordingJson.h"

#include "KestroCore/RecordCoding.h"

namespace kestro {

json::Value toJson(const FrameRef& frame) {
    return json::encodeValue(frame);
}
json::Value toJson(const AppContextSnapshot& context) {
    return json::encodeValue(context);
}
json::Value toJson(const Recording& recording) {
    return json::encodeValue(recording);
}

FrameRef frameRefFromJson(const json::Value& value) {
    return json::decodeValue<FrameRef>(value);
}
AppContextSnapshot appContextSnapshotFromJson(const json::Value& value) {
    return json::decodeValue<AppContextSnapshot>(value);
}
Recording recordingFromJson(const json::Value& value) {
    return json::decodeValue<Recording>(value);
}

std::string encodeRecording(const Recording& recording) {
    // Each event takes about a kilobyte; growing from there copies less.
    return json::encodeStored(recording, 4096 + recording.events.size() * 1024 +
                                             recording.frames.size() * 512);
}

Recording decodeRecording(std::string_view bytes) {
    return json::decodeStored<Recording>(bytes);
}

} // namespace kestro
