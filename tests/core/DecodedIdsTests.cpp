// Reading stored records takes their ids from the document and draws none: this executable
// counts every draw from the kernel's random source by standing in for getrandom.

#include "KestroCore/RecordingJson.h"
#include "KestroCore/SkillJson.h"
#include "KestroCore/SkillStore.h"

#include <gtest/gtest.h>

#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace {
std::atomic<int> draws{0};
}

extern "C" ssize_t getrandom(void* buffer, size_t length, unsigned int flags) {
    draws.fetch_add(1);
    return syscall(SYS_getrandom, buffer, length, flags);
}

using namespace kestro;

TEST(DecodedIds, ReadingRecordsDrawsNoRandomId) {
    Recording r{.startedAt = Date(std::chrono::seconds(1000))};
    for (int i = 0; i < 3; ++i) {
        r.events.push_back(ActionEvent{.type = ActionType::click});
        r.frames.push_back(FrameRef{.relativePath = "frames/000001.png", .pixelSize = Size{1, 1}});
    }
    ExecutionPlanDocument plan{{Parameter{.name = "n"}}, {PlanStep{}, PlanStep{}}};
    ASSERT_GT(draws.load(), 0) << "the stand-in for getrandom is not the one Uuid calls";

    const std::string recordingBytes = encodeRecording(r);
    const std::string planBytes = encodeExecutionPlan(plan);
    const json::Value recordingValue = json::parse(recordingBytes);
    const json::Value planValue = json::parse(planBytes);
    draws = 0;
    const Recording back = decodeRecording(recordingBytes);
    const Recording fromValue = recordingFromJson(recordingValue);
    const ExecutionPlanDocument planBack = decodeExecutionPlan(planBytes);
    const ExecutionPlanDocument planFromValue = executionPlanDocumentFromJson(planValue);
    EXPECT_EQ(draws.load(), 0);
    EXPECT_EQ(back.events[2].id, r.events[2].id);
    EXPECT_EQ(fromValue.frames[1].id, r.frames[1].id);
    EXPECT_EQ(planBack.plan[1].id, plan.plan[1].id);
    EXPECT_EQ(planFromValue.parameters[0].id, plan.parameters[0].id);
}
