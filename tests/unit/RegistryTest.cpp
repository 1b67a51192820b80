#include <utility>

#include "common/sys/Registry.h"
#include "common/util/StringUtils.h"
#include "tests/support/TestBasics.h"
#include "tests/unit/StoreFixture.h"

namespace {

using regtest::kServiceKey;
using regtest::Outcome;

class RegistryTest : public regtest::StoreFixture {};

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
    // Through a key of their own, as text, else as a DWORD.
    const std::pair<const char*, const char*> stored[] = {
        {"tcpaddr", "mgmt.example.net"},   {"", "the default"},        {"@", "the default"},
        {"LogSize", "dword:1048576"},      {"LogDebug", "dword:1"},    {"LogErrors", "dword:0"},
        {"SleepTime", "dword:4294967291"}, {"SecurityKey", "error 9"}, {"Missing", "error 6"}};
    for (const auto& [name, expected] : stored) {
        EXPECT_EQ(Stored(name), expected) << name;
    }
    int integer = 0;
    bool flags[3] = {false, true, true};
    key.ReadInt("SleepTime", integer);
    key.ReadBool("LogDebug", flags[0]), key.ReadBool("LogErrors", flags[1]);
    key.ReadBool("Two", flags[2]);
    EXPECT_EQ(integer, -5);
    EXPECT_TRUE(flags[0]);
    EXPECT_FALSE(flags[1]);
    EXPECT_FALSE(flags[2]) << "a DWORD of 2 does not read as true";
    std::string bytes(4, '-');
    std::uint32_t size = 4;
    const auto binary = [&](const char* name, std::uint32_t capacity) {
        size = capacity;
        return Outcome([&] {
            key.ReadBinary(name, reinterpret_cast<unsigned char*>(bytes.data()), size);
            return bytes + " " + std::to_string(size);
        });
    };
    EXPECT_EQ(binary("SecurityKey", 4), std::string("\x01\x02\x0a-") + " 4");
    EXPECT_EQ(binary("SecurityKey", 2), "error 11");
    EXPECT_EQ(size, 3u) << "a refused read gives the size it needs";
    EXPECT_EQ(binary("LogSize", 4), "error 9");
    std::uint32_t number = 0;
    EXPECT_EQ(Outcome([&] { key.ReadDWord("TcpAddr", number); }), "error 9");
    std::string text;
    const auto missing = regtest::Caught([&] { key.ReadString("Missing", text); });
    ASSERT_TRUE(missing);
    // The system's error is ENOENT, or ERROR_FILE_NOT_FOUND on Windows: both are 2.
    EXPECT_EQ(util::Format("%s %d %s %u", missing->Message(), missing->Line(), missing->Source(),
                           missing->SystemError()),
              "ReadString() - Read failed. 268 common\\sys\\Registry 2");
}

// What a key refuses in each state, by the error a caller gets; nothing refused changes the
// store.
TEST_F(RegistryTest, KeysRefuseWhatTheirStateDoesNotAllowAndDeleteSubkeysOnlyWhenAsked) {
    const std::string deep = std::string(kServiceKey) + "\\Cache\\Deep";
    sys::Registry open, closed, readOnly, missing, root;
    OpenKey(open, deep);
    open.WriteString("Where", "deep key");
    open.Close();
    OpenKey(open);
    open.WriteString("Where", "test key");
    readOnly.SetKey(sys::RegistryRoot::LocalMachine, deep);
    readOnly.Open(false, true, sys::Registry::kView32);
    root.SetKey(sys::RegistryRoot::CurrentUser, "");
    root.Open(false, false, 0);
    std::string text;
    const struct {
        std::function<void()> call;
        std::string outcome;
    } rows[] = {
        {[&] { closed.ReadString("Where", text); }, "error 8"},
        {[&] { closed.WriteDWord("A", 1); }, "error 8"},
        {[&] { closed.Close(); }, "error 8"},
        {[&] { open.SetSubkey("Software\\Elsewhere"); }, "error 1"},
        {[&] { open.Open(true, false, 0); }, "error 1"},
        {[&] { OpenKey(missing, std::string(kServiceKey) + "\\Missing", false); }, "error 3"},
        {[&] { readOnly.WriteString("Where", "changed"); }, "error 7"},
        {[&] { readOnly.DeleteValue("Where"); }, "error 5"},
        {[&] { readOnly.Delete(false); }, "error 0"},
        {[&] { open.DeleteValue("Missing"); }, "error 5"},
        {[&] { root.Delete(true); }, "error 0"},
        {[&] { open.Delete(false); }, "error 4"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Outcome(row.call), row.outcome);
    }
    EXPECT_EQ(Stored("Where", deep) + ", " + Stored("Where"), "deep key, test key")
        << "the refused calls left keys and values as they were";
    EXPECT_FALSE(missing.IsOpen());
    open.DeleteValue("Where");
    EXPECT_EQ(Stored("Where"), "error 6");
    open.Delete(true);
    EXPECT_FALSE(open.IsOpen());
    EXPECT_EQ(Stored("Where", deep), "error 3");
}

}  // namespace
