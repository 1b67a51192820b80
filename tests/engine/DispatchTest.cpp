#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/err/Errors.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

// Whatever escapes a handler is logged with what it tells, and the message is still released.
TEST(DispatchTest, WhateverEscapesTheHandlerIsLoggedAndTheMessageStillReleased) {
    struct Case {
        std::function<void()> raise;
        std::vector<std::string> logged;
    };
    const std::vector<Case> cases = {
        {[] { throw CToolBoxError("Toolbox", "HandleMessage - access violation", 63, 5, 2); },
         {"Toolbox:63 - HandleMessage - access violation", "value=5", "0x00000002"}},
        {[] { throw std::runtime_error("toolbox bug"); }, {"toolbox bug"}},
        {[] { throw 42; }, {"unknown exception"}},
        {[] {}, {}},
    };
    const int count = static_cast<int>(cases.size());
    enginetest::QueuedDispatch run(count);
    run.agent.SetHandler([&](msg::IQXMessage& message) {
        cases[static_cast<std::size_t>(message.GetFieldInt("Seq") - 1)].raise();
    });
    run.dispatch.Run(0);
    EXPECT_EQ(run.agent.Handled(), (std::map<int, int>{{1, 1}, {2, 1}, {3, 1}, {4, 1}}))
        << "sequence number: times handled";
    const std::vector<testsupport::LogLine> lines = run.agent.Lines();
    for (int sequence = 1; sequence <= count; ++sequence) {
        const std::string job = "Request=Job" + std::to_string(sequence);
        SCOPED_TRACE(job);
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const auto& logLine) {
            return logLine.level == 0 && logLine.text.find(job) != std::string::npos;
        });
        const std::vector<std::string>& logged =
            cases[static_cast<std::size_t>(sequence - 1)].logged;
        ASSERT_EQ(line != lines.end(), !logged.empty());
        for (const std::string& part : logged) {
            EXPECT_NE(line->text.find(part), std::string::npos) << line->text;
        }
    }
}

}  // namespace
