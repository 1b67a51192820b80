#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "common/sys/Registry.h"
#include "tests/unit/RegistryFixture.h"

namespace {

using regtest::Caught;
using regtest::ErrorValue;
using regtest::kServiceKey;

class RegistryTest : public regtest::RegistryFixture {};

TEST_F(RegistryTest, EachValueKindReadsBackAndOtherKindsAreRefused) {
    sys::Registry key;
    OpenKey(key);
    key.WriteString("TcpAddr", "mgmt.example.net");
    key.WriteDWord("LogSize", 0x100000);
    key.WriteInt("SleepTime", -5);
    key.WriteBool("LogDebug", true);
    const unsigned char bytes[] = {1, 2, 0x0a};
    key.WriteBinary("SecurityKey", bytes, sizeof bytes);

    std::string text;
    key.ReadString("TcpAddr", text);
    EXPECT_EQ(text, "mgmt.example.net");
    std::uint32_t number = 0;
    key.ReadDWord("LogSize", number);
    EXPECT_EQ(number, 0x100000u);
    key.ReadDWord("SleepTime", number);
    EXPECT_EQ(number, 0xFFFFFFFBu);
    int signedNumber = 0;
    key.ReadInt("SleepTime", signedNumber);
    EXPECT_EQ(signedNumber, -5);
    for (const auto& [stored, expected] :
         std::vector<std::pair<std::uint32_t, bool>>{{0, false}, {1, true}, {2, false}}) {
        key.WriteDWord("Flag", stored);
        bool flag = !expected;
        key.ReadBool("Flag", flag);
        EXPECT_EQ(flag, expected) << "a switch is on only for 1, not for " << stored;
    }
    key.ReadDWord("LogDebug", number);
    EXPECT_EQ(number, 1u);

    EXPECT_EQ(ErrorValue([&] { key.ReadString("SecurityKey", text); }), 9);
    EXPECT_EQ(ErrorValue([&] { key.ReadDWord("TcpAddr", number); }), 9);
    std::uint32_t size = 64;
    unsigned char buffer[64];
    EXPECT_EQ(ErrorValue([&] { key.ReadBinary("LogSize", buffer, size); }), 9);
    EXPECT_EQ(text, "mgmt.example.net") << "a refused read leaves its output alone";

    const auto missing = Caught([&] { key.ReadString("Missing", text); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->Value(), 6);
    EXPECT_STREQ(missing->Message(), "ReadString() - Read failed.");
    EXPECT_EQ(missing->Line(), 268);
    EXPECT_STREQ(missing->Source(), "common\\sys\\Registry");
    EXPECT_EQ(missing->SystemError(), static_cast<std::uint32_t>(ENOENT));
}

TEST_F(RegistryTest, NamesMatchWithoutCaseAndKeepTheCaseTheyWereGiven) {
    {
        sys::Registry key;
        OpenKey(key);
        key.WriteString("TcpAddr", "first");
        key.WriteString("TCPADDR", "second");
    }
    sys::Registry key;
    OpenKey(key, "SOFTWARE\\corvane\\CLIENT service", false);
    std::string text;
    key.ReadString("tcpaddr", text);
    EXPECT_EQ(text, "second");

    const std::string store = ReadStore();
    EXPECT_NE(store.find("[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
                         "\"TcpAddr\"=\"second\"\n"),
              std::string::npos)
        << store;
    EXPECT_EQ(store.find("TCPADDR"), std::string::npos);
    EXPECT_EQ(store.find("SOFTWARE"), std::string::npos);
}

TEST_F(RegistryTest, EmptyNameIsTheDefaultValueAndReadStringTakesShortNamesForIt) {
    sys::Registry key;
    OpenKey(key);
    key.WriteString("", "the default");
    key.WriteString("X", "named");
    for (const char* name : {"", "X", "@"}) {
        std::string text;
        key.ReadString(name, text);
        EXPECT_EQ(text, "the default") << name;
    }
    EXPECT_NE(ReadStore().find("@=\"the default\"\n"), std::string::npos);
    key.DeleteValue("");
    std::string text;
    EXPECT_EQ(ErrorValue([&] { key.ReadString("", text); }), 6);
}

TEST_F(RegistryTest, ReadBinaryReportsTheSizeNeededThenReads) {
    const std::vector<unsigned char> stored = {0, 0x11, 0xab, 0xff};
    sys::Registry key;
    OpenKey(key);
    key.WriteBinary("Blob", stored.data(), 4);

    std::uint32_t size = 0;
    const auto probe = Caught([&] { key.ReadBinary("Blob", nullptr, size); });
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->Value(), 11);
    EXPECT_STREQ(probe->Message(), "ReadBinary() - Not enough memory, please allocate.");
    EXPECT_EQ(size, 4u);

    std::vector<unsigned char> exact(size);
    key.ReadBinary("Blob", exact.data(), size);
    EXPECT_EQ(exact, stored);
    // A larger buffer keeps its size and its bytes after the value.
    std::vector<unsigned char> larger(8, 0xEE);
    size = 8;
    key.ReadBinary("Blob", larger.data(), size);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(larger, (std::vector<unsigned char>{0, 0x11, 0xab, 0xff, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST_F(RegistryTest, OpenAndClosedStatesRefuseWhatTheyMust) {
    sys::Registry key;
    std::string text;
    EXPECT_EQ(ErrorValue([&] { key.ReadString("A", text); }), 8);
    EXPECT_EQ(ErrorValue([&] { key.WriteDWord("A", 1); }), 8);
    EXPECT_EQ(ErrorValue([&] { key.Close(); }), 8);

    OpenKey(key);
    EXPECT_TRUE(key.IsOpen());
    EXPECT_EQ(ErrorValue([&] { key.SetSubkey("Software\\Elsewhere"); }), 1);
    EXPECT_EQ(ErrorValue([&] { key.Open(true, false, 0); }), 1);
    key.WriteString("Where", "service key");
    key.Close();
    EXPECT_FALSE(key.IsOpen());

    // The refused SetSubkey left the subkey as it was.
    key.Open(false, false, 0);
    key.ReadString("Where", text);
    EXPECT_EQ(text, "service key");
    key.Close();

    key.SetKey(HKEY_LOCAL_MACHINE, "");
    key.Open(false, false, 0);
    EXPECT_EQ(ErrorValue([&] { key.Delete(true); }), 0) << "a root key cannot be deleted";
}

TEST_F(RegistryTest, OpeningAMissingKeyWithoutCreateFailsAndWritesNothing) {
    sys::Registry key;
    key.SetKey(HKEY_LOCAL_MACHINE, kServiceKey);
    const auto error = Caught([&] { key.Open(false, true, 0); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Value(), 3);
    EXPECT_STREQ(error->Message(), "OpenIntern() - Cannot open key.");
    EXPECT_EQ(error->Line(), 813);
    EXPECT_EQ(error->SystemError(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(StorePath()));
}

TEST_F(RegistryTest, ReadOnlyKeyReadsButNeverWrites) {
    {
        sys::Registry writer;
        OpenKey(writer);
        writer.WriteString("TcpAddr", "kept");
    }
    const std::string before = ReadStore();
    sys::Registry key;
    key.SetKey(HKEY_LOCAL_MACHINE, kServiceKey);
    key.Open(false, true, 1);
    std::string text;
    key.ReadString("TcpAddr", text);
    EXPECT_EQ(text, "kept");
    const auto error = Caught([&] { key.WriteString("TcpAddr", "changed"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Value(), 7);
    EXPECT_EQ(error->SystemError(), static_cast<std::uint32_t>(EACCES));
    EXPECT_EQ(ErrorValue([&] { key.DeleteValue("TcpAddr"); }), 5);
    EXPECT_EQ(ErrorValue([&] { key.Delete(true); }), 0);
    EXPECT_EQ(ReadStore(), before);
}

TEST_F(RegistryTest, DeleteRemovesSubkeysOnlyWhenAskedTo) {
    sys::Registry key;
    OpenKey(key, "Software\\Corvane\\Client Service\\Cache\\Deep");
    key.WriteString("Leaf", "value");
    key.Close();

    OpenKey(key, "Software\\Corvane");
    const auto refused = Caught([&] { key.Delete(false); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->Value(), 4);
    EXPECT_STREQ(refused->Message(), "Delete() - Cannot delete children");
    EXPECT_TRUE(key.IsOpen());
    key.Close();

    OpenKey(key, "Software\\Corvane\\Client Service\\Cache\\Deep", false);
    key.Delete(false);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(
        ErrorValue([&] { OpenKey(key, "Software\\Corvane\\Client Service\\Cache\\Deep", false); }),
        3);

    OpenKey(key, "Software\\Corvane", false);
    key.Delete(true);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(ErrorValue([&] { OpenKey(key, kServiceKey, false); }), 3);
    OpenKey(key, "Software", false);
    EXPECT_EQ(ReadStore().find("Corvane"), std::string::npos);
}

TEST_F(RegistryTest, KeyDeletedByAnotherHandleFailsReadsAndWrites) {
    sys::Registry key;
    OpenKey(key);
    key.WriteString("TcpAddr", "x");
    sys::Registry other;
    OpenKey(other);
    other.Delete(true);

    std::string text;
    EXPECT_EQ(ErrorValue([&] { key.ReadString("TcpAddr", text); }), 6);
    EXPECT_EQ(ErrorValue([&] { key.WriteString("TcpAddr", "y"); }), 7);
    EXPECT_EQ(ReadStore().find("Client Service"), std::string::npos);
}

TEST_F(RegistryTest, StoreIsCreatedPrivateAndKeepsAnAdministratorsMode) {
    sys::Registry key;
    OpenKey(key);
    struct stat status {};
    ASSERT_EQ(::stat(StoreFolder().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat(StorePath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    ASSERT_EQ(::chmod(StorePath().c_str(), 0640), 0);
    key.WriteString("TcpAddr", "x");
    ASSERT_EQ(::stat(StorePath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST_F(RegistryTest, NameWithALineBreakIsRefusedAndTheStoreStaysReadable) {
    sys::Registry key;
    OpenKey(key);
    EXPECT_EQ(ErrorValue([&] { key.WriteString("Two\nLines", "x"); }), 7);
    key.WriteString("Multi", "line one\nline two");
    std::string text;
    key.ReadString("Multi", text);
    EXPECT_EQ(text, "line one\nline two");
    sys::Registry sub;
    EXPECT_EQ(ErrorValue([&] { OpenKey(sub, "Software\\Bad\nKey"); }), 3);
}

}  // namespace
