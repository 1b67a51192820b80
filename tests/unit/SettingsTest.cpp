#include <string>
#include <utility>
#include <vector>

#include "agent/Settings.h"
#include "common/msg/QXMessage.h"
#include "common/sys/Registry.h"
#include "tests/unit/RegistryFixture.h"

namespace {

using regtest::ErrorValue;
using regtest::kServiceKey;

class SettingsTest : public regtest::RegistryFixture {
protected:
    // The message, ended by Release when the test ends.
    msg::CQXMessage& Message(const char* leadName, const char* leadValue) {
        auto* message = new msg::CQXMessage();
        message->SetLead(leadName, leadValue);
        messages_.emplace_back(message);
        return *message;
    }

    std::string Get(const std::string& name) const {
        std::string value = "<unset>";
        settings_.GetSetting(name, value);
        return value;
    }

    CSettings settings_;

private:
    struct Releaser {
        void operator()(msg::CQXMessage* message) const { message->Release(); }
    };
    std::vector<std::unique_ptr<msg::CQXMessage, Releaser>> messages_;
};

// Per kind, the texts a setting is given and what is stored for them, read back as text.
// A number setting stores the decimal number its text begins with (0 for none, the
// nearest end of the range for one beyond it), so no text is ever refused. Each row changes
// the stored value, so a text that was not stored shows.
TEST_F(SettingsTest, EachKindStoresWhatItsTextReadsAs) {
    struct Stored {
        const char* text;
        const char* stored;
    };
    const std::vector<std::pair<const char*, std::vector<Stored>>> kinds = {
        {"TcpPort",  // text
         {{"4040", "4040"}, {"15s", "15s"}, {" spaced ", " spaced "}, {"", ""}}},
        {"LogDebug",  // boolean
         {{"TRUE", "1"},
          {"No", "0"},
          {"yes", "1"},
          {"false", "0"},
          {"15s", "1"},
          {"0", "0"},
          {"", "1"}}},
        {"SleepTime",  // integer
         {{"-30", "-30"},
          {"abc", "0"},
          {" 42 ", "42"},
          {"0x1F", "0"},
          {"+7", "7"},
          {"", "0"},
          {"15s", "15"},
          {"2147483648", "2147483647"},
          {"-2147483649", "-2147483648"}}},
        {"LogSize",  // unsigned
         {{"2048", "2048"},
          {"abc", "0"},
          {"15s", "15"},
          {"4294967296", "4294967295"},
          {"1e3", "1"},
          {"-1", "4294967295"}}},
    };
    for (const auto& [name, rows] : kinds) {
        for (const auto& [text, stored] : rows) {
            EXPECT_EQ(ErrorValue([&] { settings_.SetSetting(name, text); }), -1)
                << name << "=" << text;
            EXPECT_EQ(Get(name), stored) << name << "=" << text;
        }
    }
}

TEST_F(SettingsTest, UnknownNamesAreNeverAnError) {
    settings_.SetSetting("NoSuchSetting", "1");
    settings_.SetSetting("logsize", "1");  // names are compared byte for byte
    EXPECT_EQ(Get("NoSuchSetting"), "<unset>");
    EXPECT_EQ(Get("logsize"), "<unset>");
    EXPECT_EQ(ErrorValue([] { StoredText("NoSuchSetting"); }), 6);
    EXPECT_EQ(ErrorValue([] { StoredDWord("logsize"); }), 6);
}

TEST_F(SettingsTest, SettingNotStoredOrStoredAsAnotherKindRaises) {
    EXPECT_EQ(ErrorValue([&] { Get("TcpAddr"); }), 6);
    sys::Registry key;
    OpenKey(key);
    key.WriteString("LogSize", "2048");
    std::string value = "caller's";
    EXPECT_EQ(ErrorValue([&] { settings_.GetSetting("LogSize", value); }), 9);
    EXPECT_EQ(value, "caller's");
}

TEST_F(SettingsTest, SpecifiedRequestFillsOnlyItsOwnFields) {
    settings_.SetSetting("LogFile", "/var/log/wardex.log");
    settings_.SetSetting("LogSize", "2048");
    settings_.SetSetting("TcpAddr", "not asked for");
    for (const char* lead : {"Specified", "specified"}) {
        msg::CQXMessage& request = Message("Settings", lead);
        request.SetField("LogFile", "");
        request.SetField("LogSize", "");
        request.SetField("TestConnectionEvery", "15");
        request.SetField("Colour", "blue");
        settings_.GetSettings(&request);
        EXPECT_STREQ(request.GetLeadName(), "Settings");
        EXPECT_STREQ(request.GetLeadValue(), lead);
        const msg::FieldMap expected = {{"Colour", "blue"},
                                        {"LogFile", "/var/log/wardex.log"},
                                        {"LogSize", "2048"},
                                        {"TestConnectionEvery", "15"}};
        EXPECT_EQ(*request.GetFields(), expected) << lead;
    }
}

// "Specific" is not "Specified": such a request is answered like any other.
TEST_F(SettingsTest, OtherRequestsGetEveryStoredSettingAndKeepTheirFields) {
    settings_.SetSetting("TcpAddr", "mgmt.example.net");
    settings_.SetSetting("TcpPort", "4040");
    settings_.SetSetting("LogDebug", "yes");
    const msg::FieldMap expected = {
        {"Own", "field"}, {"LogDebug", "1"}, {"TcpAddr", "mgmt.example.net"}, {"TcpPort", "4040"}};
    msg::CQXMessage& plain = Message("Settings", "Specific");
    plain.SetField("Own", "field");
    settings_.GetSettings(&plain);
    EXPECT_EQ(*plain.GetFields(), expected);
}

TEST_F(SettingsTest, SetSettingsStoresTheFieldsThatNameSettings) {
    msg::CQXMessage& request = Message("Request", "SetAgentSettings");
    request.SetField("LogDebug", "TRUE");
    request.SetField("LogSize", "2048");
    request.SetField("Settings", "Specified");
    request.SetField("Colour", "blue");
    int failures = 0;
    settings_.SetSettings(&request, [&](const std::exception_ptr&) { ++failures; });
    EXPECT_EQ(failures, 0) << "names that are not settings are no failure";
    EXPECT_EQ(StoredDWord("LogDebug"), 1u);
    EXPECT_EQ(StoredDWord("LogSize"), 2048u);
    for (const char* name : {"Settings", "Colour", "Request"}) {
        EXPECT_EQ(ErrorValue([name] { StoredText(name); }), 6) << name;
    }
}

TEST_F(SettingsTest, DeleteRemovesAValueAndDeleteAllTheKeysEvenWhenValuesAreGone) {
    settings_.SetSetting("TcpAddr", "x");
    settings_.SetSetting("TcpPort", "4040");
    settings_.DeleteSetting("TcpAddr");
    EXPECT_EQ(ErrorValue([&] { Get("TcpAddr"); }), 6);
    EXPECT_EQ(ErrorValue([&] { settings_.DeleteSetting("TcpAddr"); }), 5);
    settings_.DeleteAllSettings();
    sys::Registry key;
    EXPECT_EQ(ErrorValue([&] { OpenKey(key, kServiceKey, false); }), 3);
    EXPECT_EQ(ErrorValue([&] { OpenKey(key, "Software\\Corvane", false); }), 3);

    settings_.DeleteAllSettings();
    EXPECT_EQ(ErrorValue([&] { OpenKey(key, "Software\\Corvane", false); }), 3);
}

TEST_F(SettingsTest, DeleteAllSettingsKeepsTheParentWhenSomethingElseIsBelowIt) {
    settings_.SetSetting("TcpAddr", "x");
    sys::Registry sibling;
    OpenKey(sibling, "Software\\Corvane\\Other Product");
    sibling.WriteString("Keep", "me");
    sibling.Close();

    EXPECT_EQ(ErrorValue([&] { settings_.DeleteAllSettings(); }), 4);
    EXPECT_EQ(ErrorValue([&] { OpenKey(sibling, kServiceKey, false); }), 3);
    OpenKey(sibling, "Software\\Corvane\\Other Product", false);
    std::string text;
    sibling.ReadString("Keep", text);
    EXPECT_EQ(text, "me");
}

TEST_F(SettingsTest, MalformedStoreIsReportedAndLeftAlone) {
    const std::string broken =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
        "\"TcpAddr\"=\"mgmt\"\n"
        "\"LogSize\"=dword:\n";
    WriteStore(broken);
    EXPECT_EQ(ErrorValue([&] { Get("TcpAddr"); }), 3);
    EXPECT_EQ(ErrorValue([&] { settings_.SetSetting("TcpAddr", "other"); }), 3);

    msg::CQXMessage& all = Message("Request", "GetAgentSettings");
    settings_.GetSettings(&all);
    EXPECT_TRUE(all.GetFields()->empty());
    EXPECT_EQ(ReadStore(), broken);
}

}  // namespace
