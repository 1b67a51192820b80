#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>

#include "common/sys/Registry.h"
#include "common/util/StringUtils.h"
#include "tests/support/TestBasics.h"
#include "tests/unit/StoreFixture.h"

namespace {

using regtest::Outcome;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";
const std::string kServiceSection = "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n";

class RegistryStoreTest : public regtest::StoreFixture {};

// ASCII text as little-endian UTF-16 with CRLF line ends.
std::string Widen(const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii) {
        bytes += c == '\n' ? std::string("\r\0\n\0", 4) : std::string{c, '\0'};
    }
    return bytes;
}

// Exports in UTF-16 or in the old single-byte form, with deletions, read as the values they
// leave; a change writes the store back as a private UTF-8 export that keeps the names' case
// and an administrator's mode.
TEST_F(RegistryStoreTest, ReadsExportsOfEachFormAndWritesThemBackAsAPrivateUtf8Export) {
    // "Zürich €": a Latin-1 letter and a character beyond it.
    const std::string city =
        Widen("\"City\"=\"") + std::string("Z\0\xFC\0r\0i\0c\0h\0 \0\xAC\x20", 16);
    const std::string utf16 =
        "\xFF\xFE" +
        Widen(std::string(kHeader) + kServiceSection +
              "\"InstallDir\"=\"C:\\\\Program Files\\\\\\\"Agent\\\"\"\n"
              "\"Servers\"=hex(7):61,00,00,00,00,00\n\"Gone\"=\"soon\"\n\"Gone\"=-\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Old]\n"
              "[-HKEY_LOCAL_MACHINE\\Software\\Corvane\\Old]\n" +
              kServiceSection) +
        city + Widen("\"\n");
    const std::string regedit4 =
        "REGEDIT4\r\n\r\n" + kServiceSection +
        "; a comment\r\n"
        "\"LogPath\"=hex(2):25,54,45,4d,50,25,00\r\n\"LogSize\"=dword:00100000\r\n"
        "\"Odd\"=hex(4):01,02,03,04,05\r\n\"Wrapped\"=hex(4):01,00,\\\r\n  00,80\r\n";
    const struct {
        const std::string* store;
        const char* name;
        std::string expected;
        const char* key = regtest::kServiceKey;
    } rows[] = {
        {&utf16, "City", "Z\xC3\xBCrich \xE2\x82\xAC"},
        {&utf16, "InstallDir", "C:\\Program Files\\\"Agent\""},
        {&utf16, "Gone", "error 6"},
        {&utf16, "Servers", "error 9"},
        {&utf16, "", "error 3", "Software\\Corvane\\Old"},
        {&regedit4, "LogPath", "%TEMP%"},
        {&regedit4, "LogSize", "dword:1048576"},
        {&regedit4, "Odd", "error 6"},
        {&regedit4, "Wrapped", "dword:2147483649"},
    };
    for (const auto& row : rows) {
        WriteStore(*row.store);
        EXPECT_EQ(Stored(row.name, row.key), row.expected) << row.name;
    }
    std::filesystem::remove_all(StoreFolder());
    sys::Registry key;
    OpenKey(key);
    EXPECT_EQ(std::filesystem::status(StoreFolder()).permissions(), std::filesystem::perms(0700));
    EXPECT_EQ(std::filesystem::status(StorePath()).permissions(), std::filesystem::perms(0600));
    WriteStore(utf16);
    ASSERT_EQ(::chmod(StorePath().c_str(), 0640), 0);
    key.WriteString("CITY", "Z\xC3\xBCrich \xE2\x82\xAC");
    key.WriteString("", "the default");
    key.WriteBinary("SecurityKey", std::string(22, '\xab').data(), 22);
    EXPECT_EQ(ReadStore(), std::string(kHeader) +
                               "\n[HKEY_LOCAL_MACHINE\\Software]\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Corvane]\n\n" +
                               kServiceSection +
                               "\"InstallDir\"=\"C:\\\\Program Files\\\\\\\"Agent\\\"\"\n"
                               "\"Servers\"=hex(7):61,00,00,00,00,00\n"
                               "\"City\"=\"Z\xC3\xBCrich \xE2\x82\xAC\"\n@=\"the default\"\n"
                               "\"SecurityKey\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,"
                               "ab,ab,ab,ab,ab,ab,\\\n  ab,ab\n\n");
    EXPECT_EQ(std::filesystem::status(StorePath()).permissions(), std::filesystem::perms(0640));
}

// Each row is the bad line 4 of a file: it fails with the file and line, and nothing may
// write over it.
TEST_F(RegistryStoreTest, MalformedStoreNamesFileAndLineAndIsNeverWrittenOver) {
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
        const std::string original =
            kHeader + kServiceSection + "\"TcpAddr\"=\"kept\"\n" + row.line + "\n\"After\"=\"x\"\n";
        WriteStore(original);
        sys::Registry key;
        const auto error = regtest::Caught([&] { OpenKey(key); });
        ASSERT_TRUE(error) << row.line;
        const std::string where = "OpenIntern() - Cannot open key. " + StorePath() + " line 4: ";
        const std::string message = error->Message();
        EXPECT_EQ(util::Format("%d %d %u ", error->Value(), error->Line(), error->SystemError()) +
                      message.substr(0, where.size()),
                  util::Format("3 813 %d ", EBADMSG) + where);
        EXPECT_NE(message.find(row.reason), std::string::npos) << message;
        EXPECT_EQ(Outcome([&] { opened.WriteString("TcpAddr", "lost?"); }), "error 7");
        EXPECT_EQ(ReadStore(), original) << row.line;
    }
    WriteStore("[HKEY_LOCAL_MACHINE\\Software]\n");
    EXPECT_EQ(Stored("TcpAddr"), "error 3") << "a file needs its header";
    WriteStore("\n\n");
    sys::Registry fresh;
    OpenKey(fresh);
    EXPECT_EQ(Outcome([&] { fresh.WriteString("Line\nbreak", "x"); }), "error 7");
    fresh.WriteString("TcpAddr", "fresh");
    EXPECT_EQ(Stored("TcpAddr"), "fresh") << "an empty file is an empty store";
}

// A child process and two threads of this one write at once, and no update is lost. A
// reader that takes no lock (an administrator's editor) sees the store before a change or
// after it, never in between, and a writer killed at any moment leaves nothing behind.
TEST_F(RegistryStoreTest, ConcurrentWritersLoseNoUpdateAndReadersNeverSeeAHalfWrittenStore) {
    constexpr int kEach = 40;
    // A refused write in a child process ends it with 1.
    const auto writer = [](const std::string& prefix) {
        return Outcome([&] {
            sys::Registry key;
            OpenKey(key);
            for (int i = 0; i < kEach; ++i) {
                key.WriteString(prefix + std::to_string(i), std::string(256, 'v'));
            }
        });
    };
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(writer("Process").empty() ? 0 : 1);
    }
    std::thread first(writer, "First");
    std::thread second(writer, "Second");
    first.join();
    second.join();
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    for (const std::string prefix : {"Process", "First", "Second"}) {
        for (int i = 0; i < kEach; ++i) {
            const std::string name = prefix + std::to_string(i);
            EXPECT_EQ(Stored(name), std::string(256, 'v')) << name;
        }
    }

    const pid_t endless = ::fork();
    while (endless == 0) {
        writer("Again");
    }
    int partial = 0;
    for (int read = 0; read < 300; ++read) {
        const std::string seen = ReadStore();
        partial += seen.size() > 2 && seen.compare(seen.size() - 2, 2, "\n\n") == 0 ? 0 : 1;
    }
    ::kill(endless, SIGKILL);
    ::waitpid(endless, nullptr, 0);
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(writer("After"), "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(StoreFolder()), {}), 1)
        << "the store file alone is left";
}

}  // namespace
