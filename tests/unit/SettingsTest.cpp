#include <string>

#include "agent/store/Settings.h"
#include "common/sys/Registry.h"
#include "tests/unit/StoreFixture.h"

namespace {

using regtest::ErrorValue;
using regtest::kServiceKey;

class SettingsTest : public regtest::StoreFixture {
protected:
    std::string Get(const std::string& name) const {
        std::string value = "<unset>";
        settings_.GetSetting(name, value);
        return value;
    }

    CSettings settings_;
};

// Per kind, the texts a setting is given and what is stored for them, read back as text;
// text settings are stored as strings, the others as DWORDs. A number setting stores the
// decimal number its text begins with (0 for none, the nearest end of the range for one
// beyond it), so no text is ever refused. Each row changes the stored value, so a text that
// was not stored shows.
TEST_F(SettingsTest, EachKindStoresWhatItsTextReadsAs) {
    const struct {
        const char* name;
        const char* text;
        const char* stored;
    } rows[] = {
        // clang-format off
        {"TcpPort", "4040", "4040"}, {"TcpPort", "15s", "15s"}, {"TcpPort", " spaced ", " spaced "},
        {"TcpPort", "", ""},
        {"LogDebug", "TRUE", "1"}, {"LogDebug", "No", "0"}, {"LogDebug", "yes", "1"},
        {"LogDebug", "false", "0"}, {"LogDebug", "15s", "1"}, {"LogDebug", "0", "0"},
        {"LogDebug", "", "1"},
        {"SleepTime", "-30", "-30"}, {"SleepTime", "abc", "0"}, {"SleepTime", " 42 ", "42"},
        {"SleepTime", "0x1F", "0"}, {"SleepTime", "+7", "7"}, {"SleepTime", "", "0"},
        {"SleepTime", "15s", "15"}, {"SleepTime", "2147483648", "2147483647"},
        {"SleepTime", "-2147483649", "-2147483648"},
        {"LogSize", "2048", "2048"}, {"LogSize", "abc", "0"}, {"LogSize", "15s", "15"},
        {"LogSize", "4294967296", "4294967295"}, {"LogSize", "1e3", "1"},
        {"LogSize", "-1", "4294967295"}, {"SecondsToWait", "15s", "15"},
        // clang-format on
    };
    for (const auto& [name, text, stored] : rows) {
        const std::string row = std::string(name) + "=" + text;
        EXPECT_EQ(ErrorValue([&] { settings_.SetSetting(name, text); }), -1) << row;
        EXPECT_EQ(Get(name), stored) << row;
        if (std::string(name) == "TcpPort") {  // the one text setting here
            EXPECT_EQ(StoredText(name), stored) << row;
        } else {
            EXPECT_EQ(StoredDWord(name), static_cast<std::uint32_t>(std::stoll(stored))) << row;
        }
    }
}

TEST_F(SettingsTest, UnknownNamesAreIgnoredAndAValueNotStoredOrOfAnotherKindRaises) {
    settings_.SetSetting("NoSuchSetting", "1");
    settings_.SetSetting("logsize", "1");  // names are compared byte for byte
    EXPECT_EQ(Get("NoSuchSetting"), "<unset>");
    EXPECT_EQ(ErrorValue([] { StoredDWord("logsize"); }), 6);
    EXPECT_EQ(ErrorValue([&] { Get("TcpAddr"); }), 6);
    sys::Registry key;
    OpenKey(key);
    key.WriteString("LogSize", "2048");
    std::string value = "caller's";
    EXPECT_EQ(ErrorValue([&] { settings_.GetSetting("LogSize", value); }), 9);
    EXPECT_EQ(value, "caller's");
}

TEST_F(SettingsTest, DeleteAllSettingsKeepsTheParentWhenSomethingElseIsBelowIt) {
    settings_.SetSetting("TcpAddr", "x");
    settings_.DeleteSetting("TcpAddr");
    EXPECT_EQ(ErrorValue([&] { settings_.DeleteSetting("TcpAddr"); }), 5);
    sys::Registry sibling;
    OpenKey(sibling, "Software\\Corvane\\Other Product");
    sibling.WriteString("Keep", "me");
    sibling.Close();

    EXPECT_EQ(ErrorValue([&] { settings_.DeleteAllSettings(); }), 4);
    EXPECT_EQ(ErrorValue([&] { OpenKey(sibling, kServiceKey, false); }), 3);
    EXPECT_EQ(StoredText("Keep", "Software\\Corvane\\Other Product"), "me");
}

}  // namespace
