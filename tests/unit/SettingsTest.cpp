#include <string>
#include <utility>
#include <vector>

#include "agent/Settings.h"
#include "common/msg/QXMessage.h"
#include "common/sys/Registry.h"
#include "tests/unit/RegistryFixture.h"

namespace {

using regtest::Caught;
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

// Spot checks of settings that other programs and people read from the store: the port is
// text, the sizes, switches and time-outs are numbers converted from the text given.
TEST_F(SettingsTest, SettingsAreStoredAsTheirKindAndReadBack) {
    for (const char* name : {"TcpAddr", "TcpPort"}) {
        settings_.SetSetting(name, "text");
        EXPECT_EQ(StoredText(name), "text") << name;
        EXPECT_EQ(Get(name), "text") << name;
    }
    settings_.SetSetting("LogDebug", "TRUE");
    EXPECT_EQ(StoredDWord("LogDebug"), 1u);
    settings_.SetSetting("LogDebug", "No");
    EXPECT_EQ(StoredDWord("LogDebug"), 0u);
    EXPECT_EQ(Get("LogDebug"), "0");
    settings_.SetSetting("LogSize", "2048");
    EXPECT_EQ(StoredDWord("LogSize"), 2048u);
    settings_.SetSetting("SleepTime", "-30");
    EXPECT_EQ(Get("SleepTime"), "-30");
    settings_.SetSetting("LogSize", " 4096 ");
    EXPECT_EQ(Get("LogSize"), "4096");
}

TEST_F(SettingsTest, NumberThatIsNoNumberIsRefusedAndTheStoredValueKept) {
    settings_.SetSetting("LogSize", "2048");
    settings_.SetSetting("SleepTime", "10");
    for (const auto& [name, text] :
         std::vector<std::pair<const char*, const char*>>{{"LogSize", "abc"},
                                                          {"LogSize", "12abc"},
                                                          {"LogSize", "4294967296"},
                                                          {"SleepTime", "2147483648"}}) {
        const auto error = Caught([&] { settings_.SetSetting(name, text); });
        ASSERT_TRUE(error) << name << "=" << text;
        EXPECT_EQ(error->Value(), 7);
        EXPECT_NE(std::string(error->Message()).find(name), std::string::npos);
    }
    EXPECT_EQ(Get("LogSize"), "2048");
    EXPECT_EQ(Get("SleepTime"), "10");
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
    settings_.SetSettings(&request);
    EXPECT_EQ(StoredDWord("LogDebug"), 1u);
    EXPECT_EQ(StoredDWord("LogSize"), 2048u);
    for (const char* name : {"Settings", "Colour", "Request"}) {
        EXPECT_EQ(ErrorValue([name] { StoredText(name); }), 6) << name;
    }
}

TEST_F(SettingsTest, SetSettingsStopsAtTheFirstErrorKeepingEarlierWrites) {
    msg::CQXMessage& request = Message("Request", "SetAgentSettings");
    request.SetField("LogDebug", "1");     // stored first (name order)
    request.SetField("LogSize", "lots");   // refused
    request.SetField("TcpAddr", "never");  // not reached
    EXPECT_EQ(ErrorValue([&] { settings_.SetSettings(&request); }), 7);
    EXPECT_EQ(Get("LogDebug"), "1");
    EXPECT_EQ(ErrorValue([&] { Get("TcpAddr"); }), 6);
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
