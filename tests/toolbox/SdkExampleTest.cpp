// The example toolbox project, built outside this tree against the installed SDK, loaded and
// called by the agent's loader and dispatcher.

#include "agent/toolbox/TbxDispatch.h"
#include "common/msg/QXMessage.h"
#include "tests/support/RecordingAgent.h"
#include "tests/support/TestBasics.h"
#include "tests/toolbox/ToolboxFiles.h"

namespace {

const std::string kExample = WARDEX_SDK_EXAMPLE;

// A toolbox of another contract version would be skipped, so the echo shows the example
// built with the SDK's.
TEST(SdkExample, AnswersItsRequestThroughTheAgentAndPassesOthersOn) {
    testsupport::RecordingAgent agent;
    util::ParamList toolboxes;
    toolboxes.Add(kExample);
    toolboxes.Add(tbxtest::File("testtbx_success"));
    const TbxDispatch dispatch(toolboxes);

    msg::CQXMessage echo;
    echo.SetLead("Request", "Echo");
    echo.SetField("Text", "hello");
    dispatch.HandleMessage(&echo, &agent);
    EXPECT_EQ(agent.Sent(), std::vector<std::string>{"Reply=Echo\nText=hello\n"});
    EXPECT_STREQ(echo.GetField("Trail"), "");
    EXPECT_EQ(agent.CountLines("echo - answering hello"), 1u);

    msg::CQXMessage other;
    other.SetLead("Request", "GetState");
    dispatch.HandleMessage(&other, &agent);
    EXPECT_STREQ(other.GetField("Trail"), "testtbx_success;");
    EXPECT_EQ(agent.Sent().size(), 1u);
    EXPECT_FALSE(tbxtest::IsLoaded(kExample));
}

}  // namespace
