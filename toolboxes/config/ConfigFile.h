#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tbx {

// What a configuration file asks for: settings to store, in file order, and whether the
// computer should restart once they are stored.
struct Configuration {
    std::vector<std::pair<std::string, std::string>> settings;
    bool reboot = false;
};

// A file that cannot be read or does not follow the format; what() is the text for the
// "Result" field, for example "site.cfg:4: expected name = value".
class ConfigFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a configuration file:
//
//   # comment (also ;)
//   [Settings]
//   TcpAddr = mgmt.example.net
//   ConsoleName = "Build farm"
//   [Actions]
//   Reboot = yes
//
// Section names compare without regard to case, setting names are kept as written. Blanks
// around names and values are dropped; a value in double quotes keeps them. "Reboot" takes
// yes/no, true/false or 1/0.
Configuration ReadConfigFile(const std::string& path);

}  // namespace tbx
