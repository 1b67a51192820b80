// Reads arbitrary bytes as the two local files that carry commands: the settings input file
// "mireton.inp" and a configuration file such as "mireton.cfg". Every settings line kept is a
// "name=value" line of text within the length bound; every configuration setting has a name.

#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/store/SettingsInputFile.h"
#include "common/msg/QXMessage.h"
#include "config/ConfigFile.h"
#include "tests/support/ScratchFiles.h"

namespace {

void CheckKeptLines(const std::string& kept) {
    for (const std::string& line : scratch::Lines(kept)) {
        for (const unsigned char c : line) {
            if ((c < 0x20 && c != '\t') || c == 0x7F) {
                __builtin_trap();
            }
        }
        if (line.find('=') == std::string::npos || line.size() > kLongestSettingsLine) {
            __builtin_trap();
        }
    }
    msg::CQXMessage message;
    message.ParseFields(kept);
}

void CheckConfiguration(const std::string& path) {
    try {
        for (const auto& [name, value] : tbx::ReadConfigFile(path).settings) {
            if (name.empty()) {
                __builtin_trap();
            }
        }
    } catch (const tbx::ConfigFileError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const scratch::ScratchFolder folder;
    static const std::string path = folder / "mireton.inp";
    scratch::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
    CheckKeptLines(ReadSettingsLines(path));
    CheckConfiguration(path);
    return 0;
}
