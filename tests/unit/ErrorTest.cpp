#include <gtest/gtest.h>
#include <string>

#include "common/err/Errors.h"

namespace {

void ExpectFields(const err::CGeneralError& e, const char* source, const char* message, int line,
                  int value, std::uint32_t systemError) {
    EXPECT_STREQ(e.Source(), source);
    EXPECT_STREQ(e.Message(), message);
    EXPECT_EQ(e.Line(), line);
    EXPECT_EQ(e.Value(), value);
    EXPECT_EQ(e.SystemError(), systemError);
}

TEST(ErrorFamily, SocketErrorIsCaughtByItsBasesAndByNoOtherKind) {
    const ipc::CTCPCSocketError error("common\\ipc\\TcpSocketIpc", "connect", 10, 1, 10061);
    auto caughtAs = [&error]<typename Handler>() {
        try {
            throw error;
        } catch (const Handler&) {
            return true;
        } catch (...) {
            return false;
        }
    };
    EXPECT_TRUE(caughtAs.operator()<ipc::CIPCSocketError>());
    EXPECT_TRUE(caughtAs.operator()<ipc::CIPCError>());
    EXPECT_TRUE(caughtAs.operator()<err::CGeneralError>());
    EXPECT_FALSE(caughtAs.operator()<ipc::CIPAddressError>());
    EXPECT_FALSE(caughtAs.operator()<CAgentError>());
}

TEST(ErrorFamily, CopiesAndReRaisesAsAnotherKindKeepAllFiveFields) {
    try {
        try {
            throw sys::RegistryError("common\\sys\\Registry", "ReadDWord() - Key not open", 212, -3,
                                     0x57);
        } catch (const err::CGeneralError& e) {
            throw err::CGeneralError(e);
        }
    } catch (const sys::RegistryError&) {
        FAIL() << "a re-raise as the plain kind must not keep the derived kind";
    } catch (const err::CGeneralError& e) {
        ExpectFields(e, "common\\sys\\Registry", "ReadDWord() - Key not open", 212, -3, 0x57);
    }
    const util::CFileIOError original("common\\util\\FileUtils", "File not found ", 72, 0, 2);
    const logging::CAgentLogError converted(original);
    ExpectFields(converted, "common\\util\\FileUtils", "File not found ", 72, 0, 2);
}

TEST(ErrorFamily, AComposedMessageOutlivesTheTextItWasMadeFrom) {
    auto raise = [] {
        std::string text = "CQXAgent::Start - caught ";
        text += "common\\ipc\\TcpSocketIpc:120 - connect failed";
        throw CAgentError("agent\\QxAgent", text, 300, 1, 0);
    };
    err::CGeneralError kept("", "", 0, 0, 0);
    try {
        raise();
    } catch (const err::CGeneralError& e) {
        kept = e;
    }
    EXPECT_STREQ(kept.Message(),
                 "CQXAgent::Start - caught common\\ipc\\TcpSocketIpc:120 - connect failed");
}

}  // namespace
