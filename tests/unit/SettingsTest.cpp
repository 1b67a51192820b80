#include <string>

#include "agent/store/Settings.h"
#include "common/sys/Registry.h"
#include "tests/unit/StoreFixture.h"

namespace {

using regtest::Outcome;

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
        const bool isText = std::string(name) == "TcpPort";  // the one text setting here
        EXPECT_EQ(Outcome([&] { settings_.SetSetting(name, text); }), "") << row;
        EXPECT_EQ(Get(name), stored) << row;
        EXPECT_EQ(Stored(name),
                  isText
                      ? stored
                      : "dword:" + std::to_string(static_cast<std::uint32_t>(std::stoll(stored))))
            << row;
    }
}

TEST_F(SettingsTest, UnknownNamesAreIgnoredMissingOrOtherKindValuesRaiseAndOthersKeysStay) {
    settings_.SetSetting("NoSuchSetting", "1");
    settings_.SetSetting("logsize", "1");  // names are compared byte for byte
    EXPECT_EQ(Get("NoSuchSetting"), "<unset>");
    EXPECT_EQ(Stored("logsize"), "error 6");
    EXPECT_EQ(Outcome([&] { return Get("TcpAddr"); }), "error 6");
    sys::Registry key;
    OpenKey(key);
    key.WriteString("LogSize", "2048");
    std::string value = "caller's";
    EXPECT_EQ(Outcome([&] { settings_.GetSetting("LogSize", value); }), "error 9");
    EXPECT_EQ(value, "caller's");

    // Deleting every setting keeps the parent key when another product's key is below it.
    settings_.SetSetting("TcpAddr", "x");
    settings_.DeleteSetting("TcpAddr");
    EXPECT_EQ(Outcome([&] { settings_.DeleteSetting("TcpAddr"); }), "error 5");
    key.Close();
    OpenKey(key, "Software\\Corvane\\Other Product");
    key.WriteString("Keep", "me");
    key.Close();

    EXPECT_EQ(Outcome([&] { settings_.DeleteAllSettings(); }), "error 4");
    EXPECT_EQ(Stored("Keep", "Software\\Corvane\\Other Product") + ", " + Stored("TcpPort"),
              "me, error 3");
}

}  // namespace
