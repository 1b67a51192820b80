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

// Which handler of a chain that lists every kind, most specific first, takes the error.
template <typename Thrown>
std::string FirstHandlerFor(const Thrown& error) {
    try {
        throw error;
    } catch (const ipc::CTCPCSocketError&) {
        return "CTCPCSocketError";
    } catch (const ipc::CIPCSocketError&) {
        return "CIPCSocketError";
    } catch (const ipc::CIPCError&) {
        return "CIPCError";
    } catch (const ipc::CIPAddressError&) {
        return "CIPAddressError";
    } catch (const CAgentError&) {
        return "CAgentError";
    } catch (const logging::CAgentLogError&) {
        return "CAgentLogError";
    } catch (const util::CFileIOError&) {
        return "CFileIOError";
    } catch (const lang::CThreadError&) {
        return "CThreadError";
    } catch (const QueueError&) {
        return "QueueError";
    } catch (const CToolBoxError&) {
        return "CToolBoxError";
    } catch (const sys::RegistryError&) {
        return "RegistryError";
    } catch (const sys::CWmiError&) {
        return "CWmiError";
    } catch (const WindowsServices::ServiceControlError&) {
        return "ServiceControlError";
    } catch (const err::CGeneralError&) {
        return "CGeneralError";
    }
}

TEST(ErrorFamily, EachKindIsCaughtByItsOwnHandlerFirst) {
    EXPECT_EQ(FirstHandlerFor(ipc::CTCPCSocketError("s", "m", 1, 2, 3)), "CTCPCSocketError");
    EXPECT_EQ(FirstHandlerFor(ipc::CIPCSocketError("s", "m", 1, 2, 3)), "CIPCSocketError");
    EXPECT_EQ(FirstHandlerFor(ipc::CIPCError("s", "m", 1, 2, 3)), "CIPCError");
    EXPECT_EQ(FirstHandlerFor(sys::RegistryError("s", "m", 1, 2, 3)), "RegistryError");
    EXPECT_EQ(FirstHandlerFor(CToolBoxError("s", "m", 1, 2, 3)), "CToolBoxError");
    EXPECT_EQ(FirstHandlerFor(err::CGeneralError("s", "m", 1, 2, 3)), "CGeneralError");
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
    EXPECT_TRUE(caughtAs.operator()<ipc::CTCPCSocketError>());
    EXPECT_TRUE(caughtAs.operator()<ipc::CIPCSocketError>());
    EXPECT_TRUE(caughtAs.operator()<ipc::CIPCError>());
    EXPECT_TRUE(caughtAs.operator()<err::CGeneralError>());
    EXPECT_FALSE(caughtAs.operator()<ipc::CIPAddressError>());
    EXPECT_FALSE(caughtAs.operator()<CAgentError>());
    EXPECT_FALSE(caughtAs.operator()<QueueError>());
    EXPECT_FALSE(caughtAs.operator()<WindowsServices::ServiceControlError>());
}

TEST(ErrorFamily, CopiesAndReRaisesKeepAllFiveFields) {
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
        const err::CGeneralError copy = e;
        ExpectFields(copy, e.Source(), e.Message(), e.Line(), e.Value(), e.SystemError());
    }
}

TEST(ErrorFamily, AnErrorCanBeRaisedAgainAsAnotherKind) {
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
