#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "common/sys/Registry.h"
#include "tests/unit/RegistryFixture.h"

namespace {

using regtest::ErrorValue;
using regtest::Outcome;

class RegistryTest : public regtest::RegistryFixture {};

TEST_F(RegistryTest, EachKindReadsBackByNameWithoutCaseAndOtherKindsAreRefused) {
    sys::Registry key;
    OpenKey(key);
    key.WriteString("TcpAddr", "first");
    key.WriteString("TCPADDR", "mgmt.example.net");
    key.WriteString("", "the default");
    key.WriteDWord("LogSize", 0x100000);
    key.WriteInt("SleepTime", -5);
    key.WriteBool("LogDebug", true);
    key.WriteBool("LogErrors", false);
    key.WriteDWord("Two", 2);
    key.WriteBinary("SecurityKey", "\x01\x02\x0a", 3);
    std::string text;
    std::uint32_t number = 0;
    int integer = 0;
    bool flags[3] = {false, true, true};
    std::string bytes(4, '-');
    std::uint32_t size = 4;
    const auto binary = [&](const char* name, std::uint32_t capacity) {
        size = capacity;
        key.ReadBinary(name, reinterpret_cast<unsigned char*>(bytes.data()), size);
        return bytes + " " + std::to_string(size);
    };
    const struct {
        std::function<std::string()> read;
        std::string expected;
    } rows[] = {
        {[&] { return key.ReadString("tcpaddr", text), text; }, "mgmt.example.net"},
        {[&] { return key.ReadString("", text), text; }, "the default"},
        {[&] { return key.ReadString("@", text), text; }, "the default"},
        {[&] { return key.ReadDWord("LogSize", number), std::to_string(number); }, "1048576"},
        {[&] { return key.ReadDWord("SleepTime", number), std::to_string(number); }, "4294967291"},
        {[&] { return key.ReadInt("SleepTime", integer), std::to_string(integer); }, "-5"},
        {[&] { return key.ReadDWord("LogDebug", number), std::to_string(number); }, "1"},
        {[&] {
             key.ReadBool("LogDebug", flags[0]), key.ReadBool("LogErrors", flags[1]);
             key.ReadBool("Two", flags[2]);
             return std::to_string(flags[0]) + std::to_string(flags[1]) + std::to_string(flags[2]);
         },
         "100"},
        {[&] { return binary("SecurityKey", 4); }, std::string("\x01\x02\x0a-") + " 4"},
        {[&] { return binary("SecurityKey", 2); }, "error 11"},
        {[&] { return bytes + " " + std::to_string(size); }, std::string("\x01\x02\x0a-") + " 3"},
        {[&] { return binary("LogSize", 4); }, "error 9"},
        {[&] { return key.ReadString("SecurityKey", text), text; }, "error 9"},
        {[&] { return key.ReadDWord("TcpAddr", number), std::to_string(number); }, "error 9"},
        {[&] { return key.ReadString("Missing", text), text; }, "error 6"},
        {[&] { return key.ReadDWord("Missing", number), std::to_string(number); }, "error 6"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Outcome(row.read), row.expected);
    }
    const auto missing = regtest::Caught([&] { key.ReadString("Missing", text); });
    ASSERT_TRUE(missing);
    EXPECT_STREQ(missing->Message(), "ReadString() - Read failed.");
    EXPECT_EQ(missing->Line(), 268);
    EXPECT_STREQ(missing->Source(), "common\\sys\\Registry");
    EXPECT_EQ(missing->SystemError(), 2u) << "ENOENT, ERROR_FILE_NOT_FOUND";
}

// What a key refuses in each state, by the error value a caller gets; nothing refused
// changes the store.
TEST_F(RegistryTest, KeysRefuseWhatTheirStateDoesNotAllowAndDeleteSubkeysOnlyWhenAsked) {
    sys::Registry open, closed, readOnly, missing, root;
    OpenKey(open, "Cache\\Deep");
    open.WriteString("Where", "deep key");
    open.Close();
    OpenKey(open);
    open.WriteString("Where", "test key");
    readOnly.SetKey(sys::RegistryRoot::CurrentUser, TestKey("Cache\\Deep"));
    readOnly.Open(false, true, 1);
    root.SetKey(sys::RegistryRoot::CurrentUser, "");
    root.Open(false, false, 0);
    std::string text;
    const struct {
        std::function<void()> call;
        int value;
    } rows[] = {
        {[&] { closed.ReadString("Where", text); }, 8},
        {[&] { closed.WriteDWord("A", 1); }, 8},
        {[&] { closed.Close(); }, 8},
        {[&] { open.SetSubkey("Software\\Elsewhere"); }, 1},
        {[&] { open.Open(true, false, 0); }, 1},
        {[&] { OpenKey(missing, "Missing", false); }, 3},
        {[&] { readOnly.WriteString("Where", "changed"); }, 7},
        {[&] { readOnly.DeleteValue("Where"); }, 5},
        {[&] { readOnly.Delete(false); }, 0},
        {[&] { open.DeleteValue("Missing"); }, 5},
        {[&] { root.Delete(true); }, 0},
        {[&] { open.Delete(false); }, 4},
        {[&] { readOnly.ReadString("Where", text), open.ReadString("Where", text); }, -1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ErrorValue(row.call), row.value);
    }
    EXPECT_EQ(text, "test key") << "the refused calls left key and values as they were";
    EXPECT_FALSE(missing.IsOpen());
    open.DeleteValue("Where");
    EXPECT_EQ(ErrorValue([&] { open.ReadString("Where", text); }), 6);
    open.Delete(true);
    EXPECT_FALSE(open.IsOpen());
    EXPECT_EQ(ErrorValue([&] { OpenKey(open, "Cache", false); }), 3);
}

}  // namespace
