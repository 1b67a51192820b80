#include "common/sys/linux/RegistryText.h"

#include <cctype>
#include <string_view>
#include <vector>

#include "common/sys/Utf16.h"
#include "common/util/StringUtils.h"

namespace sys {

namespace {

constexpr const char* kSource = "common\\sys\\RegistryText";
constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRegedit4 = "REGEDIT4";
// Hex lists are wrapped as regedit wraps them: no line longer than 80 characters with the
// "\" that continues it.
constexpr std::size_t kWrapColumn = 79;

enum class Format { Regedit4, Version5 };

bool IsTextKind(std::uint32_t type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_LINK || type == REG_MULTI_SZ;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           util::CompareNoCase(std::string(text.substr(0, prefix.size())), std::string(prefix)) ==
               0;
}

bool IsHexText(std::string_view text) {
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return !text.empty();
}

// The file's text in UTF-8, whatever byte order mark it starts with.
std::string DecodeFile(const std::string& bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        if (bytes.size() % 2 != 0) {
            throw RegistryParseError(kSource, "UTF-16 file with an odd number of bytes", 1, 0, 0);
        }
        return Utf16LeToUtf8(std::string_view(bytes).substr(2));
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
        return bytes.substr(3);
    }
    return bytes;
}

class Parser {
public:
    explicit Parser(const std::string& bytes) : text_(DecodeFile(bytes)) {
        std::string_view rest = text_;
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            lines_.push_back(line);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    }

    RegistryKey Run() {
        while (next_ < lines_.size() && Trim(lines_[next_]).empty()) {
            ++next_;
        }
        if (next_ == lines_.size()) {
            return std::move(store_);
        }
        const std::string_view header = Trim(TakeLine());
        if (header == kVersion5) {
            format_ = Format::Version5;
        } else if (header == kRegedit4) {
            format_ = Format::Regedit4;
        } else {
            Fail("the first line must be \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"");
        }
        while (next_ < lines_.size()) {
            ParseLine(Trim(TakeLine()));
        }
        return std::move(store_);
    }

private:
    std::string_view TakeLine() {
        lineNumber_ = static_cast<int>(next_ + 1);
        return lines_[next_++];
    }

    [[noreturn]] void Fail(const std::string& reason) const {
        throw RegistryParseError(kSource, reason, lineNumber_, 0, 0);
    }

    void ParseLine(std::string_view line) {
        if (line.empty() || line.front() == ';') {
            return;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                Fail("a key line must end with \"]\"");
            }
            ParseSection(line.substr(1, line.size() - 2));
        } else if (line.front() == '"' || line.front() == '@') {
            ParseValue(line);
        } else {
            Fail("expected a [key], a \"value\"=, @=, a ; comment or an empty line");
        }
    }

    void ParseSection(std::string_view inside) {
        const bool remove = !inside.empty() && inside.front() == '-';
        if (remove) {
            inside.remove_prefix(1);
        }
        const std::vector<std::string> parts = SplitKeyPath(std::string(inside));
        if (parts.empty()) {
            Fail("the key has no name");
        }
        if (store_.FindSubkey(parts.front()) == nullptr) {
            Fail("unknown root key \"" + parts.front() + "\"");
        }
        key_ = nullptr;
        if (!remove) {
            bool created = false;
            key_ = &store_.CreatePath(std::string(inside), created);
            return;
        }
        if (parts.size() == 1) {
            Fail("a root key cannot be deleted");
        }
        RegistryKey* parent = &store_;
        for (std::size_t i = 0; parent != nullptr && i + 1 < parts.size(); ++i) {
            parent = parent->FindSubkey(parts[i]);
        }
        if (parent != nullptr) {
            parent->DeleteSubkey(parts.back());
        }
    }

    void ParseValue(std::string_view line) {
        if (key_ == nullptr) {
            Fail("a value must follow a [key] line");
        }
        std::size_t pos = 1;
        const std::string name = line.front() == '@' ? std::string() : ParseQuoted(line, pos);
        const std::string_view rest = Trim(line.substr(pos));
        if (rest.empty() || rest.front() != '=') {
            Fail("expected \"=\" after the value name");
        }
        const std::string_view data = Trim(rest.substr(1));
        if (data == "-") {
            key_->DeleteValue(name);
        } else if (!data.empty() && data.front() == '"') {
            std::size_t end = 1;
            const std::string text = ParseQuoted(data, end);
            if (!Trim(data.substr(end)).empty()) {
                Fail("unexpected text after the closing quote");
            }
            key_->SetValue(name, REG_SZ, text + '\0');
        } else if (StartsWithNoCase(data, "dword:")) {
            key_->SetValue(name, REG_DWORD, ParseDword(Trim(data.substr(6))));
        } else if (StartsWithNoCase(data, "hex")) {
            ParseHexValue(name, data.substr(3));
        } else {
            Fail("unknown value data; expected \"text\", dword:, hex: or hex(kind):");
        }
    }

    // pos is just past the opening quote; leaves it just past the closing one.
    std::string ParseQuoted(std::string_view line, std::size_t& pos) const {
        std::string out;
        for (;;) {
            const auto special = line.find_first_of("\"\\", pos);
            if (special == std::string_view::npos ||
                (special + 1 == line.size() && line[special] == '\\')) {
                Fail("the text in quotes has no closing quote");
            }
            out.append(line.substr(pos, special - pos));
            pos = special + 1;
            if (line[special] == '"') {
                return out;
            }
            const char escaped = line[pos++];
            if (escaped != '\\' && escaped != '"') {
                Fail(std::string("unknown escape \\") + escaped +
                     " in quotes; write \\\\ for a backslash");
            }
            out.push_back(escaped);
        }
    }

    std::string ParseDword(std::string_view digits) const {
        if (digits.size() > 8 || !IsHexText(digits)) {
            Fail("dword: needs 1 to 8 hex digits");
        }
        return DWordBytes(static_cast<std::uint32_t>(std::stoul(std::string(digits), nullptr, 16)));
    }

    // kind is what follows "hex": ":" or "(n):" and the byte list.
    void ParseHexValue(const std::string& name, std::string_view kind) {
        std::uint32_t type = REG_BINARY;
        if (!kind.empty() && kind.front() == '(') {
            const auto close = kind.find(')');
            const std::string_view number =
                close == std::string_view::npos ? std::string_view() : kind.substr(1, close - 1);
            if (number.size() > 8 || !IsHexText(number)) {
                Fail("hex(kind) needs the kind as 1 to 8 hex digits");
            }
            type = static_cast<std::uint32_t>(std::stoul(std::string(number), nullptr, 16));
            kind.remove_prefix(close + 1);
        }
        if (kind.empty() || kind.front() != ':') {
            Fail("expected \":\" and a list of bytes after hex");
        }
        std::string bytes = ParseByteList(kind.substr(1));
        if (IsTextKind(type) && format_ == Format::Version5) {
            if (bytes.size() % 2 != 0) {
                Fail("text of kind hex(" + util::Format("%x", type) +
                     ") needs an even number of bytes (UTF-16)");
            }
            bytes = Utf16LeToUtf8(bytes);
        }
        key_->SetValue(name, type, bytes);
    }

    // A list that ends in "\" goes on at the next line.
    std::string ParseByteList(std::string_view segment) {
        std::string bytes;
        for (;;) {
            segment = Trim(segment);
            const bool more = !segment.empty() && segment.back() == '\\';
            if (more) {
                segment.remove_suffix(1);
            }
            AppendBytes(segment, more, bytes);
            if (!more) {
                return bytes;
            }
            if (next_ == lines_.size()) {
                Fail("the list of bytes goes on past the end of the file");
            }
            segment = TakeLine();
        }
    }

    void AppendBytes(std::string_view segment, bool continued, std::string& bytes) const {
        segment = Trim(segment);
        while (!segment.empty()) {
            const auto comma = segment.find(',');
            const std::string_view item = Trim(segment.substr(0, comma));
            const bool last = comma == std::string_view::npos;
            segment = last ? std::string_view() : segment.substr(comma + 1);
            if (item.empty() && continued && Trim(segment).empty()) {
                return;
            }
            if (item.size() != 2 || !IsHexText(item)) {
                Fail("\"" + std::string(item) + "\" is not a byte of two hex digits");
            }
            bytes.push_back(static_cast<char>(std::stoul(std::string(item), nullptr, 16)));
            if (!last && !continued && Trim(segment).empty()) {
                Fail("the list of bytes ends with a comma");
            }
        }
    }

    std::string text_;
    std::vector<std::string_view> lines_;
    std::size_t next_ = 0;
    int lineNumber_ = 0;
    Format format_ = Format::Version5;
    RegistryKey store_ = RegistryKey::MakeStore();
    RegistryKey* key_ = nullptr;
};

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out + "\"";
}

// Text that a pair of quotes can hold: one line, one zero byte, at the end.
bool IsQuotable(const std::string& data) {
    return !data.empty() && data.find('\0') == data.size() - 1 &&
           data.find_first_of("\r\n") == std::string::npos;
}

void AppendHexList(const std::string& bytes, std::string& line) {
    std::size_t column = line.size();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string piece = util::Format("%02x", static_cast<unsigned char>(bytes[i]));
        if (i + 1 < bytes.size()) {
            piece += ',';
        }
        if (column + piece.size() > kWrapColumn) {
            line += "\\\n  ";
            column = 2;
        }
        line += piece;
        column += piece.size();
    }
}

std::string FormatValue(const RegistryValue& value) {
    std::string line = value.name.empty() ? "@=" : Quote(value.name) + "=";
    if (value.type == REG_SZ && IsQuotable(value.data)) {
        return line + Quote(value.data.substr(0, value.data.size() - 1));
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        return line + util::Format("dword:%08x", DWordFromBytes(value.data));
    }
    line += value.type == REG_BINARY ? "hex:" : util::Format("hex(%x):", value.type);
    AppendHexList(IsTextKind(value.type) ? Utf8ToUtf16Le(value.data) : value.data, line);
    return line;
}

void FormatKey(const RegistryKey& key, const std::string& path, bool isRoot, std::string& out) {
    if (!isRoot || !key.Values().empty()) {
        out += "[" + path + "]\n";
        for (const RegistryValue& value : key.Values()) {
            out += FormatValue(value) + "\n";
        }
        out += "\n";
    }
    for (const auto& subkey : key.Subkeys()) {
        FormatKey(*subkey, path + "\\" + subkey->Name(), false, out);
    }
}

}  // namespace

RegistryKey ParseRegistryText(const std::string& bytes) {
    return Parser(bytes).Run();
}

std::string FormatRegistryText(const RegistryKey& store) {
    std::string out(kVersion5);
    out += "\n\n";
    for (const auto& root : store.Subkeys()) {
        FormatKey(*root, root->Name(), true, out);
    }
    return out;
}

}  // namespace sys
