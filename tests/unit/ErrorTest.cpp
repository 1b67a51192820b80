#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "common/err/Errors.h"

namespace {

// A catch site logs the five fields of what it caught, often after copying it or raising it
// again as another kind; a message composed at run time must outlive the text it came from.
TEST(ErrorFields, CopiesAndOtherKindsKeepAllFiveFieldsAndTheComposedMessage) {
    err::CGeneralError kept("", "", 0, 0, 0);
    try {
        std::string text = "CQXAgent::Start - caught ";
        text += "common\\ipc\\TcpSocketIpc:120 - connect failed";
        throw ipc::CTCPCSocketError("common\\ipc\\TcpSocketIpc", text, 300, -3, 10061);
    } catch (const err::CGeneralError& e) {
        kept = e;
    }
    const logging::CAgentLogError converted(kept);
    for (const err::CGeneralError* e : std::vector<const err::CGeneralError*>{&kept, &converted}) {
        EXPECT_STREQ(e->Source(), "common\\ipc\\TcpSocketIpc");
        EXPECT_STREQ(e->Message(),
                     "CQXAgent::Start - caught common\\ipc\\TcpSocketIpc:120 - connect failed");
        EXPECT_EQ(e->Line(), 300);
        EXPECT_EQ(e->Value(), -3);
        EXPECT_EQ(e->SystemError(), 10061u);
    }
}

}  // namespace
