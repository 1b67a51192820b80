#include "agent/service/linux/ServiceUnit.h"

namespace {

// One word of an ExecStart line as systemd reads it back: specifiers and variables are
// doubled, and a word with blanks or quotes is quoted with its backslashes and quotes
// escaped.
std::string ExecWord(const std::string& word) {
    std::string escaped;
    bool quote = word.empty();
    for (const char c : word) {
        if (c == '%' || c == '$') {
            escaped += c;
        } else if (c == '\\' || c == '"') {
            escaped += '\\';
            quote = true;
        } else if (c == ' ' || c == '\t' || c == '\'') {
            quote = true;
        }
        escaped += c;
    }
    return quote ? "\"" + escaped + "\"" : escaped;
}

}  // namespace

std::string UnitText(const std::string& name, const std::string& programPath,
                     const std::string& argumentText) {
    return "[Unit]\n"
           "Description=" +
           name +
           "\n"
           "Wants=network-online.target\n"
           "After=network-online.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "Restart=on-failure\n"
           "ExecStart=" +
           ExecWord(programPath) + " " + ExecWord(argumentText) +
           "\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}
