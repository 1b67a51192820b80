#include "common/err/Errors.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestBasics.h"

namespace {

// Whatever escapes a handler is logged once as an error with what it tells, and the dispatch
// goes on with the next message. Job<n> meets the n-th case.
TEST(DispatchTest, WhateverEscapesTheHandlerIsLoggedAndTheNextMessageHandled) {
    struct Case {
        std::function<void()> raise;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {[] { throw CToolBoxError("Toolbox", "HandleMessage - access violation", 63, 5, 2); },
         "error while handling Request=Job1\n\tToolbox:63 - HandleMessage - access "
         "violation\n\tvalue=5, GetLastError() = 0x00000002"},
        {[] { throw std::runtime_error("toolbox bug"); },
         "exception while handling Request=Job2: toolbox bug"},
        {[] { throw 42; }, "exception while handling Request=Job3: unknown exception"},
        {[] {}, ""},
    };
    enginetest::QueuedDispatch run(static_cast<int>(cases.size()));
    run.agent.SetHandler([&](msg::IQXMessage& message) {
        cases[static_cast<std::size_t>(message.GetFieldInt("Seq") - 1)].raise();
    });
    run.Run();
    EXPECT_EQ(run.agent.CountLines("", 0), cases.size() - 1) << "error lines, none for Job4";
    for (std::size_t job = 0; job + 1 < cases.size(); ++job) {
        EXPECT_EQ(run.agent.CountLines(cases[job].logged, 0), 1u) << cases[job].logged;
    }
}

}  // namespace
