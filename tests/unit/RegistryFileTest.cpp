#include <unistd.h>

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "common/sys/Registry.h"
#include "tests/support/Unprivileged.h"
#include "tests/unit/RegistryFixture.h"

namespace {

using regtest::Caught;
using regtest::ErrorValue;
using regtest::kServiceKey;
using testsupport::kNobody;

class RegistryFileTest : public regtest::RegistryFixture {};

// ASCII text as little-endian UTF-16 with CRLF line ends.
std::string Widen(const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii) {
        if (c == '\n') {
            bytes += std::string("\r\0", 2);
        }
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

// The form in which regedit exports: UTF-16 with a byte order mark.
std::string AsWindowsExport(const std::string& ascii) {
    return "\xFF\xFE" + Widen(ascii);
}

TEST_F(RegistryFileTest, ReadsAVersion5ExportFromWindows) {
    WriteStore(AsWindowsExport(
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane]\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Client Service]\n"
        "@=\"default text\"\n"
        "\"TcpAddr\"=\"mgmt.example.net\"\n"
        "\"InstallDir\"=\"C:\\\\Program Files\\\\Corvane \\\"Agent\\\"\"\n"
        "\"LogSize\"=dword:00100000\n"
        "\"SecurityKey\"=hex:01,02,0a\n"
        "\"LogPath\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\n"
        "  74,00,25,00,5c,00,6c,00,6f,00,67,00,00,00\n"
        "\"Servers\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
        "\n"));
    EXPECT_EQ(StoredText(""), "default text");
    EXPECT_EQ(StoredText("TcpAddr"), "mgmt.example.net");
    EXPECT_EQ(StoredText("InstallDir"), "C:\\Program Files\\Corvane \"Agent\"");
    EXPECT_EQ(StoredText("LogPath"), "%SystemRoot%\\log");
    EXPECT_EQ(StoredDWord("LogSize"), 0x100000u);

    sys::Registry key;
    OpenKey(key, kServiceKey, false);
    unsigned char bytes[3] = {};
    std::uint32_t size = sizeof bytes;
    key.ReadBinary("SecurityKey", bytes, size);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 3), "\x01\x02\x0a");
    std::string text;
    EXPECT_EQ(ErrorValue([&] { key.ReadString("Servers", text); }), 9);

    // The first change rewrites the file as UTF-8 text and keeps every value.
    key.WriteDWord("LogSize", 2048);
    const std::string rewritten = ReadStore();
    EXPECT_EQ(rewritten.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
    EXPECT_NE(rewritten.find("\"Servers\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"),
              std::string::npos);
    EXPECT_EQ(StoredText("LogPath"), "%SystemRoot%\\log");
    EXPECT_EQ(StoredText("InstallDir"), "C:\\Program Files\\Corvane \"Agent\"");
}

TEST_F(RegistryFileTest, TextBeyondAsciiSurvivesTheWayFromUtf16AndBack) {
    // "Zürich € 😀": a Latin-1 letter, a character beyond it and one beyond 16 bits.
    const std::string wide("Z\0\xFC\0r\0i\0c\0h\0 \0\xAC\x20 \0\x3D\xD8\x00\xDE", 22);
    const std::string utf8 = "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x98\x80";
    WriteStore(AsWindowsExport("Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
                               "\"City\"=\"") +
               wide +
               Widen("\"\n\"Expand\"=hex(2):5a,00,fc,00,72,00,69,00,63,00,68,00,20,00,ac,20,20,00,"
                     "3d,d8,00,de,00,00\n"));
    EXPECT_EQ(StoredText("City"), utf8);
    EXPECT_EQ(StoredText("Expand"), utf8);

    sys::Registry key;
    OpenKey(key, kServiceKey, false);
    key.WriteString("Other", utf8);
    EXPECT_NE(ReadStore().find("\"City\"=\"" + utf8 + "\"\n"), std::string::npos);
    EXPECT_EQ(StoredText("Expand"), utf8);
    EXPECT_EQ(StoredText("Other"), utf8);
}

TEST_F(RegistryFileTest, ReadsARegedit4Export) {
    WriteStore(
        "REGEDIT4\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\r\n"
        "\"TcpPort\"=\"4040\"\r\n"
        "\"LogPath\"=hex(2):25,54,45,4d,50,25,00\r\n"
        "\"UseMCast\"=dword:00000001\r\n");
    EXPECT_EQ(StoredText("TcpPort"), "4040");
    EXPECT_EQ(StoredText("LogPath"), "%TEMP%");
    EXPECT_EQ(StoredDWord("UseMCast"), 1u);

    // Rewritten in version 5 form, where the expandable text is UTF-16.
    sys::Registry key;
    OpenKey(key, kServiceKey, false);
    key.WriteString("TcpPort", "4041");
    EXPECT_NE(ReadStore().find("\"LogPath\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\n"),
              std::string::npos);
    EXPECT_EQ(StoredText("LogPath"), "%TEMP%");
}

TEST_F(RegistryFileTest, DeletionsInAnImportFileTakeEffect) {
    WriteStore(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service\\Old]\n"
        "\"Gone\"=\"soon\"\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
        "\"Kept\"=\"yes\"\n"
        "\"Dropped\"=\"no\"\n"
        "\"Dropped\"=-\n"
        "[-HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service\\Old]\n");
    EXPECT_EQ(StoredText("Kept"), "yes");
    EXPECT_EQ(ErrorValue([] { StoredText("Dropped"); }), 6);
    sys::Registry old;
    EXPECT_EQ(ErrorValue([&] { OpenKey(old, "Software\\Corvane\\Client Service\\Old", false); }),
              3);
}

TEST_F(RegistryFileTest, WritesAFileAPersonCanReadAndEdit) {
    {
        sys::Registry key;
        OpenKey(key);
        key.WriteString("TcpAddr", "mgmt.example.net");
        key.WriteString("InstallDir", "C:\\Agent \"new\"");
        key.WriteDWord("LogSize", 0x100000);
        const std::string blob(30, '\xab');
        key.WriteBinary("SecurityKey", blob.data(), static_cast<std::uint32_t>(blob.size()));
        key.WriteString("", "default");
    }
    EXPECT_EQ(ReadStore(),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvane]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
              "\"TcpAddr\"=\"mgmt.example.net\"\n"
              "\"InstallDir\"=\"C:\\\\Agent \\\"new\\\"\"\n"
              "\"LogSize\"=dword:00100000\n"
              "\"SecurityKey\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\n"
              "  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab\n"
              "@=\"default\"\n"
              "\n");

    // A person changes a value and adds one, with a comment and CRLF line ends.
    std::string edited = ReadStore();
    edited.replace(edited.find("mgmt.example.net"), 16, "backup.example.net");
    edited +=
        "; added by hand\r\n[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\r\n"
        "\"TcpPort\"=\"4040\"\r\n";
    WriteStore(edited);
    EXPECT_EQ(StoredText("TcpAddr"), "backup.example.net");
    EXPECT_EQ(StoredText("TcpPort"), "4040");
}

struct Malformed {
    const char* line;
    const char* reason;
};

class MalformedStoreTest : public RegistryFileTest,
                           public ::testing::WithParamInterface<Malformed> {};

// The bad line is line 4 of the file; nothing may write over it.
TEST_P(MalformedStoreTest, FailsWithFileAndLineAndIsNeverWrittenOver) {
    const std::string original =
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
        "\"TcpAddr\"=\"kept\"\n" +
        std::string(GetParam().line) + "\n\"After\"=\"x\"\n";
    WriteStore(original);

    sys::Registry key;
    key.SetKey(HKEY_LOCAL_MACHINE, kServiceKey);
    const auto error = Caught([&] { key.Open(true, false, 0); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Value(), 3);
    EXPECT_EQ(error->Line(), 813);
    const std::string message = error->Message();
    EXPECT_EQ(message.rfind("OpenIntern() - Cannot open key. " + StorePath() + " line 4: ", 0), 0u)
        << message;
    EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
    EXPECT_EQ(error->SystemError(), static_cast<std::uint32_t>(EBADMSG));
    EXPECT_EQ(ReadStore(), original);
}

INSTANTIATE_TEST_SUITE_P(
    BadLines, MalformedStoreTest,
    ::testing::Values(Malformed{"\"LogSize\"=dword:1234567890", "dword: needs 1 to 8 hex digits"},
                      Malformed{"\"Key\"=hex:01,2,03", "\"2\" is not a byte of two hex digits"},
                      Malformed{"\"Key\"=hex:01,02,", "ends with a comma"},
                      Malformed{"\"Path\"=hex(2):41,00,42", "even number of bytes"},
                      Malformed{"\"TcpAddr\"=\"no end", "no closing quote"},
                      Malformed{"\"Dir\"=\"C:\\Temp\"", "unknown escape \\T"},
                      Malformed{"\"Port\"=4040", "unknown value data"},
                      Malformed{"[HKEY_NOWHERE\\Software]", "unknown root key"},
                      Malformed{"[HKEY_LOCAL_MACHINE\\Software", "must end with \"]\""},
                      Malformed{"TcpAddr=mgmt", "expected a [key]"}));

TEST_F(RegistryFileTest, MalformedStoreFailsEveryOperationOnAnOpenKey) {
    sys::Registry key;
    OpenKey(key);
    key.WriteString("TcpAddr", "kept");
    const std::string broken = ReadStore() + "\"Bad\"=dword:xyz\n";
    WriteStore(broken);

    std::string text;
    const auto read = Caught([&] { key.ReadString("TcpAddr", text); });
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Value(), 6);
    EXPECT_NE(std::string(read->Message()).find(StorePath() + " line 10: "), std::string::npos)
        << read->Message();
    EXPECT_EQ(ErrorValue([&] { key.WriteString("TcpAddr", "lost?"); }), 7);
    EXPECT_EQ(ErrorValue([&] { key.DeleteValue("TcpAddr"); }), 5);
    EXPECT_EQ(ErrorValue([&] { key.Delete(true); }), 0);
    EXPECT_EQ(ReadStore(), broken);
}

TEST_F(RegistryFileTest, FileWithoutHeaderIsMalformedButAnEmptyFileIsAnEmptyStore) {
    WriteStore("[HKEY_LOCAL_MACHINE\\Software]\n");
    sys::Registry key;
    const auto error = Caught([&] { OpenKey(key, "Software", false); });
    ASSERT_TRUE(error);
    EXPECT_NE(std::string(error->Message()).find(" line 1: the first line must be"),
              std::string::npos);

    WriteStore("\n\n");
    OpenKey(key);
    key.WriteString("TcpAddr", "fresh");
    EXPECT_EQ(StoredText("TcpAddr"), "fresh");
}

TEST_F(RegistryFileTest, FolderWithoutWritePermissionRefusesChangesAndKeepsValues) {
    {
        sys::Registry key;
        OpenKey(key);
        key.WriteString("TcpAddr", "kept");
    }
    const std::string before = ReadStore();
    if (::geteuid() == 0) {
        for (const std::string& folder : {folder_.Path().string(), folder_ / "etc"}) {
            ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
        }
        ASSERT_EQ(::chown(StoreFolder().c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown(StorePath().c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chmod(StoreFolder().c_str(), 0500), 0);

    // Each check returns its own code so that a failure names the step.
    const int result = testsupport::RunWithoutPrivileges([] {
        sys::Registry key;
        key.SetKey(HKEY_LOCAL_MACHINE, kServiceKey);
        key.Open(true, false, 0);  // exists: nothing to write
        std::string text;
        key.ReadString("TcpAddr", text);
        if (text != "kept") {
            return 1;
        }
        const auto write = Caught([&] { key.WriteString("TcpAddr", "changed"); });
        if (!write || write->Value() != 7 || write->SystemError() != EACCES) {
            return 2;
        }
        sys::Registry other;
        other.SetKey(HKEY_LOCAL_MACHINE, "Software\\Other");
        if (ErrorValue([&] { other.Open(true, false, 0); }) != 3) {
            return 3;
        }
        return 0;
    });
    ::chmod(StoreFolder().c_str(), 0700);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadStore(), before);
    EXPECT_EQ(StoredText("TcpAddr"), "kept");
}

}  // namespace
