#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "common/sys/Registry.h"
#include "common/sys/linux/RegistryDefs.h"
#include "tests/unit/RegistryFixture.h"

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";

// ASCII text as little-endian UTF-16 with CRLF line ends.
std::string Widen(const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii) {
        bytes += c == '\n' ? std::string("\r\0\n\0", 4) : std::string{c, '\0'};
    }
    return bytes;
}

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
    for (const std::uint32_t stored : {0u, 1u, 2u}) {
        key.WriteDWord("Flag", stored);
        bool flag = stored != 1;
        key.ReadBool("Flag", flag);
        EXPECT_EQ(flag, stored == 1) << "a switch is on only for 1, not for " << stored;
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

TEST_F(RegistryTest, NamesMatchWithoutCaseAndTheEmptyNameIsTheDefaultValue) {
    {
        sys::Registry key;
        OpenKey(key);
        key.WriteString("TcpAddr", "first");
        key.WriteString("TCPADDR", "second");
        key.WriteString("", "the default");
    }
    sys::Registry key;
    OpenKey(key, "SOFTWARE\\corvane\\CLIENT service", false);
    std::string text;
    key.ReadString("tcpaddr", text);
    EXPECT_EQ(text, "second");
    for (const char* name : {"", "@"}) {
        key.ReadString(name, text);
        EXPECT_EQ(text, "the default") << name;
    }
    EXPECT_EQ(ReadStore(), std::string(kHeader) +
                               "\n[HKEY_LOCAL_MACHINE\\Software]\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Corvane]\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
                               "\"TcpAddr\"=\"second\"\n@=\"the default\"\n\n");
    key.DeleteValue("");
    EXPECT_EQ(ErrorValue([&] { key.ReadString("", text); }), 6);
}

TEST_F(RegistryTest, ReadBinaryReportsTheSizeNeededThenReads) {
    const std::vector<unsigned char> stored = {0, 0x11, 0xab, 0xff};
    sys::Registry key;
    OpenKey(key);
    key.WriteBinary("Blob", stored.data(), 4);

    std::vector<unsigned char> buffer(8, 0xEE);
    std::uint32_t size = 3;
    const auto probe = Caught([&] { key.ReadBinary("Blob", buffer.data(), size); });
    ASSERT_TRUE(probe) << "a buffer one byte short is refused";
    EXPECT_EQ(probe->Value(), 11);
    EXPECT_STREQ(probe->Message(), "ReadBinary() - Not enough memory, please allocate.");
    EXPECT_EQ(size, 4u);
    // A larger buffer keeps its size and its bytes after the value.
    size = 8;
    key.ReadBinary("Blob", buffer.data(), size);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(buffer, (std::vector<unsigned char>{0, 0x11, 0xab, 0xff, 0xEE, 0xEE, 0xEE, 0xEE}));
}

// What a key refuses in each state, by the error value a caller gets.
TEST_F(RegistryTest, KeysRefuseWhatTheirStateDoesNotAllow) {
    {
        sys::Registry writer;
        OpenKey(writer);
        writer.WriteString("Where", "service key");
    }
    sys::Registry closed, open, readOnly, missing, gone;
    OpenKey(open);
    readOnly.SetKey(HKEY_LOCAL_MACHINE, kServiceKey);
    readOnly.Open(false, true, 1);
    std::string text;
    struct Row {
        const char* name;
        std::function<void()> call;
        int value;
    };
    const Row rows[] = {
        {"read while closed", [&] { closed.ReadString("A", text); }, 8},
        {"write while closed", [&] { closed.WriteDWord("A", 1); }, 8},
        {"close while closed", [&] { closed.Close(); }, 8},
        {"subkey while open", [&] { open.SetSubkey("Software\\Elsewhere"); }, 1},
        {"open while open", [&] { open.Open(true, false, 0); }, 1},
        {"missing key", [&] { OpenKey(missing, "Software\\Missing", false); }, 3},
        {"line break in a key", [&] { OpenKey(missing, "Software\\Bad\nKey"); }, 3},
        {"line break in a name", [&] { open.WriteString("Two\nLines", "x"); }, 7},
        {"write read-only", [&] { readOnly.WriteString("Where", "changed"); }, 7},
        {"delete value read-only", [&] { readOnly.DeleteValue("Where"); }, 5},
        {"delete key read-only", [&] { readOnly.Delete(true); }, 0},
    };
    const std::string before = ReadStore();
    for (const Row& row : rows) {
        EXPECT_EQ(ErrorValue(row.call), row.value) << row.name;
    }
    EXPECT_EQ(ReadStore(), before);
    EXPECT_FALSE(missing.IsOpen());
    // The refused SetSubkey left the subkey as it was.
    open.ReadString("Where", text);
    EXPECT_EQ(text, "service key");

    open.Close();
    open.SetKey(HKEY_LOCAL_MACHINE, "");
    open.Open(false, false, 0);
    EXPECT_EQ(ErrorValue([&] { open.Delete(true); }), 0) << "a root key cannot be deleted";
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
    key.Delete(true);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(ErrorValue([&] { OpenKey(key, kServiceKey, false); }), 3);
    EXPECT_EQ(ReadStore().find("Corvane"), std::string::npos);
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

TEST_F(RegistryTest, ReadsExportsInUtf16AndRegedit4FormAndRewritesThemAsUtf8) {
    // "Zürich €": a Latin-1 letter and a character beyond it.
    const std::string wide("Z\0\xFC\0r\0i\0c\0h\0 \0\xAC\x20", 16);
    const std::string utf8 = "Z\xC3\xBCrich \xE2\x82\xAC";
    WriteStore("\xFF\xFE" +
               Widen(std::string(kHeader) +
                     "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Client Service]\n"
                     "\"InstallDir\"=\"C:\\\\Program Files\\\\\\\"Agent\\\"\"\n"
                     "\"Servers\"=hex(7):61,00,00,00,00,00\n"
                     "\"Gone\"=\"soon\"\n\"Gone\"=-\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Old]\n"
                     "[-HKEY_LOCAL_MACHINE\\Software\\Corvane\\Old]\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Client Service]\n"
                     "\"City\"=\"") +
               wide + Widen("\"\n"));
    EXPECT_EQ(StoredText("City"), utf8);
    EXPECT_EQ(StoredText("InstallDir"), "C:\\Program Files\\\"Agent\"");
    EXPECT_EQ(ErrorValue([] { StoredText("Gone"); }), 6);
    sys::Registry key;
    EXPECT_EQ(ErrorValue([&] { OpenKey(key, "Software\\Corvane\\Old", false); }), 3);
    OpenKey(key, kServiceKey, false);
    std::string text;
    EXPECT_EQ(ErrorValue([&] { key.ReadString("Servers", text); }), 9);

    key.WriteString("Other", "x");
    EXPECT_EQ(ReadStore(), std::string(kHeader) +
                               "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane]\n\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Client Service]\n"
                               "\"InstallDir\"=\"C:\\\\Program Files\\\\\\\"Agent\\\"\"\n"
                               "\"Servers\"=hex(7):61,00,00,00,00,00\n\"City\"=\"" +
                               utf8 + "\"\n\"Other\"=\"x\"\n\n");

    // An old export with CRLF line ends, whose expandable text is single-byte.
    WriteStore(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\r\n"
        "; a comment\r\n\"LogPath\"=hex(2):25,54,45,4d,50,25,00\r\n\"LogSize\"=dword:00100000\r\n");
    EXPECT_EQ(StoredText("LogPath"), "%TEMP%");
    std::uint32_t number = 0;
    key.ReadDWord("LogSize", number);
    EXPECT_EQ(number, 0x100000u);
    key.WriteBinary("Key", "\xab", 1);
    EXPECT_EQ(ReadStore(), std::string(kHeader) +
                               "\n[HKEY_LOCAL_MACHINE\\Software]\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Corvane]\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
                               "\"LogPath\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\n"
                               "\"LogSize\"=dword:00100000\n\"Key\"=hex:ab\n\n");
}

TEST_F(RegistryTest, LongBinaryValuesAreWrappedAndReadBack) {
    const std::string blob(30, '\xab');
    sys::Registry key;
    OpenKey(key);
    key.WriteBinary("SecurityKey", blob.data(), static_cast<std::uint32_t>(blob.size()));
    const std::string line =
        "\"SecurityKey\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\n"
        "  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab\n";
    EXPECT_NE(ReadStore().find(line), std::string::npos) << ReadStore();
    WriteStore(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n" +
               line + "\"Odd\"=hex(4):01,02,03,04,05\n");
    std::string read(30, '\0');
    std::uint32_t size = 30;
    key.ReadBinary("SecurityKey", reinterpret_cast<unsigned char*>(read.data()), size);
    EXPECT_EQ(read, blob);
    std::uint32_t number = 0;
    EXPECT_EQ(ErrorValue([&] { key.ReadDWord("Odd", number); }), 6)
        << "a number of five bytes is not read";
}

// Each row is the bad line 4 of a file: it fails with the file and line, and nothing may
// write over it.
TEST_F(RegistryTest, MalformedStoreNamesFileAndLineAndIsNeverWrittenOver) {
    const struct {
        const char* line;
        const char* reason;
    } rows[] = {
        {"\"LogSize\"=dword:1234567890", "dword: needs 1 to 8 hex digits"},
        {"\"Key\"=hex:01,2,03", "\"2\" is not a byte of two hex digits"},
        {"\"Key\"=hex:01,02,", "ends with a comma"},
        {"\"Path\"=hex(2):41,00,42", "even number of bytes"},
        {"\"TcpAddr\"=\"no end", "no closing quote"},
        {"\"Dir\"=\"C:\\Temp\"", "unknown escape \\T"},
        {"\"Port\"=4040", "unknown value data"},
        {"[HKEY_NOWHERE\\Software]", "unknown root key"},
        {"[HKEY_LOCAL_MACHINE\\Software", "must end with \"]\""},
        {"TcpAddr=mgmt", "expected a [key]"},
    };
    sys::Registry opened;
    OpenKey(opened);
    for (const auto& row : rows) {
        const std::string original = std::string(kHeader) +
                                     "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
                                     "\"TcpAddr\"=\"kept\"\n" +
                                     row.line + "\n\"After\"=\"x\"\n";
        WriteStore(original);
        sys::Registry key;
        const auto error = Caught([&] { OpenKey(key); });
        ASSERT_TRUE(error) << row.line;
        EXPECT_EQ(error->Value(), 3) << row.line;
        EXPECT_EQ(error->Line(), 813) << row.line;
        const std::string message = error->Message();
        EXPECT_EQ(message.rfind("OpenIntern() - Cannot open key. " + StorePath() + " line 4: ", 0),
                  0u)
            << message;
        EXPECT_NE(message.find(row.reason), std::string::npos) << message;
        EXPECT_EQ(error->SystemError(), static_cast<std::uint32_t>(EBADMSG)) << row.line;
        EXPECT_EQ(ErrorValue([&] { opened.WriteString("TcpAddr", "lost?"); }), 7) << row.line;
        EXPECT_EQ(ReadStore(), original) << row.line;
    }
    WriteStore("[HKEY_LOCAL_MACHINE\\Software]\n");
    const auto headless = Caught([] { StoredText("TcpAddr"); });
    ASSERT_TRUE(headless);
    EXPECT_NE(std::string(headless->Message()).find(" line 1: the first line must be"),
              std::string::npos);
    WriteStore("\n\n");
    sys::Registry fresh;
    OpenKey(fresh);
    fresh.WriteString("TcpAddr", "fresh");
    EXPECT_EQ(StoredText("TcpAddr"), "fresh") << "an empty file is an empty store";
}

// Runs body in a child process, whose exit code is 0 when body returns normally.
pid_t Spawn(const std::function<void()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            body();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    return child;
}

// A child process and two threads of this one write at once, and no update is lost. A
// reader that takes no lock (an administrator's editor) sees the store before a change or
// after it, never in between, and a writer killed at any moment leaves nothing behind.
TEST_F(RegistryTest, ConcurrentWritersLoseNoUpdateAndReadersNeverSeeAHalfWrittenStore) {
    constexpr int kEach = 40;
    const auto writer = [](const std::string& prefix) {
        sys::Registry key;
        OpenKey(key);
        for (int i = 0; i < kEach; ++i) {
            key.WriteString(prefix + std::to_string(i), std::string(256, 'v'));
        }
    };
    const pid_t child = Spawn([&] { writer("Process"); });
    std::thread first(writer, "First");
    std::thread second(writer, "Second");
    first.join();
    second.join();
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    for (const std::string prefix : {"Process", "First", "Second"}) {
        for (int i = 0; i < kEach; ++i) {
            EXPECT_EQ(ErrorValue([&] { StoredText(prefix + std::to_string(i)); }), -1)
                << prefix << i;
        }
    }

    const pid_t endless = Spawn([&] {
        for (;;) {
            writer("Again");
        }
    });
    int partial = 0;
    for (int read = 0; read < 300; ++read) {
        const std::string seen = ReadStore();
        partial += seen.size() > 2 && seen.compare(seen.size() - 2, 2, "\n\n") == 0 ? 0 : 1;
    }
    ::kill(endless, SIGKILL);
    ::waitpid(endless, nullptr, 0);
    EXPECT_EQ(partial, 0);
    writer("After");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(StoreFolder())) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"registry.reg"});
}

}  // namespace
