#include "config/ConfigFile.h"

#include <strings.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace tbx {
namespace {

enum class Section { kNone, kSettings, kActions };

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r";
    const std::string::size_type first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool Equals(const std::string& a, const char* b) {
    return ::strcasecmp(a.c_str(), b) == 0;
}

class Reader {
public:
    explicit Reader(std::string path) : path_(std::move(path)) {}

    Configuration Read() {
        std::ifstream file(path_);
        if (!file) {
            throw ConfigFileError("cannot open " + path_ + ": " + std::strerror(errno));
        }
        for (std::string line; std::getline(file, line);) {
            ++lineNumber_;
            ReadLine(Trim(line));
        }
        return std::move(configuration_);
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw ConfigFileError(path_ + ":" + std::to_string(lineNumber_) + ": " + what);
    }

    void ReadLine(const std::string& line) {
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            return;
        }
        if (line[0] == '[') {
            OpenSection(line);
            return;
        }
        const std::string::size_type equals = line.find('=');
        if (equals == std::string::npos || Trim(line.substr(0, equals)).empty()) {
            Fail("expected name = value");
        }
        Assign(Trim(line.substr(0, equals)), Unquote(Trim(line.substr(equals + 1))));
    }

    void OpenSection(const std::string& line) {
        if (line.back() != ']') {
            Fail("a section name ends with ]");
        }
        const std::string name = Trim(line.substr(1, line.size() - 2));
        if (Equals(name, "Settings")) {
            section_ = Section::kSettings;
        } else if (Equals(name, "Actions")) {
            section_ = Section::kActions;
        } else {
            Fail("unknown section [" + name + "]; expected [Settings] or [Actions]");
        }
    }

    std::string Unquote(const std::string& value) const {
        if (value.empty() || value.front() != '"') {
            return value;
        }
        if (value.size() < 2 || value.back() != '"') {
            Fail("a quoted value ends with \"");
        }
        return value.substr(1, value.size() - 2);
    }

    void Assign(const std::string& name, const std::string& value) {
        switch (section_) {
            case Section::kNone:
                Fail("name = value before the first section");
            case Section::kSettings:
                configuration_.settings.emplace_back(name, value);
                return;
            case Section::kActions:
                AssignAction(name, value);
                return;
        }
    }

    void AssignAction(const std::string& name, const std::string& value) {
        if (!Equals(name, "Reboot")) {
            Fail("unknown action " + name + "; expected Reboot");
        }
        if (Equals(value, "yes") || Equals(value, "true") || value == "1") {
            configuration_.reboot = true;
        } else if (Equals(value, "no") || Equals(value, "false") || value == "0") {
            configuration_.reboot = false;
        } else {
            Fail("Reboot takes yes or no, not " + value);
        }
    }

    std::string path_;
    int lineNumber_ = 0;
    Section section_ = Section::kNone;
    Configuration configuration_;
};

}  // namespace

Configuration ReadConfigFile(const std::string& path) {
    return Reader(path).Read();
}

}  // namespace tbx
