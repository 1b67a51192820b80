#include "common/msg/QXMessage.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "common/util/StringUtils.h"

namespace msg {

namespace {

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// The first two bytes of a line are never the separator, so a name is at least two bytes
// long and a line of fewer than three bytes has none.
constexpr std::size_t kFirstSeparatorPosition = 2;

template <typename T>
std::string ToText(const T& value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

}  // namespace

bool CQXMessage::Parse(const char* text, int length) {
    return ParseText(text, length > 0 ? static_cast<std::size_t>(length) : 0, LeadRule::On);
}

bool CQXMessage::ParseFields(const std::string& text) {
    return ParseText(text.c_str(), text.size(), LeadRule::Off);
}

// Lines end in CR or LF; a line end may swallow one more CR or LF, so CR LF (and LF LF)
// end one line. A further line end is an empty line and is skipped. The length bounds only
// where a line may begin: a line that has begun runs to its line end or to the zero byte
// that ends the text, which also ends the parse wherever it is.
bool CQXMessage::ParseText(const char* text, std::size_t length, LeadRule rule) {
    if (!text) {
        return true;
    }
    const char* const lineStartLimit = text + length;
    bool leadTaken = false;
    const char* position = text;
    while (position < lineStartLimit && *position != '\0') {
        const char* end = position;
        while (*end != '\0' && !IsLineEnd(*end)) {
            ++end;
        }
        if (end == position) {
            ++position;
            continue;
        }
        const bool asLead = rule == LeadRule::On && !leadTaken;
        if (!TakeLine(position, static_cast<std::size_t>(end - position), asLead)) {
            return false;
        }
        leadTaken = leadTaken || asLead;
        if (*end == '\0') {
            return true;
        }
        position = end + 1;
        if (IsLineEnd(*position)) {
            ++position;
        }
    }
    return true;
}

bool CQXMessage::TakeLine(const char* line, std::size_t length, bool asLead) {
    if (length <= kFirstSeparatorPosition) {
        return false;
    }
    const void* separator =
        std::memchr(line + kFirstSeparatorPosition, '=', length - kFirstSeparatorPosition);
    if (!separator) {
        return false;
    }
    const auto nameLength = static_cast<std::size_t>(static_cast<const char*>(separator) - line);
    const std::string name(line, nameLength);
    const std::string value(line + nameLength + 1, length - nameLength - 1);
    if (asLead) {
        SetLead(name.c_str(), value.c_str());
    } else {
        SetField(name, value);
    }
    return true;
}

void CQXMessage::SetField(const char* name, double value) {
    SetField(name, ToText(value).c_str());
}

void CQXMessage::SetField(const char* name, int value) {
    SetField(name, ToText(value).c_str());
}

void CQXMessage::SetField(const std::string& name, const std::string& value) {
    stale_ = true;
    fields_.insert_or_assign(name, value);
}

void CQXMessage::SetField(const char* name, const char* value) {
    SetField(std::string(name ? name : ""), std::string(value ? value : ""));
}

void CQXMessage::SetLead(const char* name, const char* value) {
    stale_ = true;
    leadName_ = name ? name : "";
    leadValue_ = value ? value : "";
}

IQXMessage& CQXMessage::CopyFrom(const IQXMessage& other) {
    if (&other == this) {
        return *this;
    }
    Clear();
    SetLead(other.GetLeadName(), other.GetLeadValue());
    for (const auto& [name, value] : *other.GetFields()) {
        SetField(name, value);
    }
    return *this;
}

const char* CQXMessage::GetField(const char* name) const {
    const std::string key = name ? name : "";
    if (const auto found = fields_.find(key); found != fields_.end()) {
        return found->second.c_str();
    }
    return key == leadName_ ? leadValue_.c_str() : "";
}

bool CQXMessage::GetField(const char* name, bool& out) const {
    const std::string value = util::ToUpper(GetField(name));
    out = !(value.empty() || value == "FALSE" || value == "0" || value == "NO");
    return out;
}

// The numeric reads take the number the text starts with, as atoi does, and 0 for none.
std::int64_t CQXMessage::GetField(const char* name, std::int64_t& out) const {
    out = std::strtoll(GetField(name), nullptr, 10);
    return out;
}

double CQXMessage::GetField(const char* name, double& out) const {
    out = std::strtod(GetField(name), nullptr);
    return out;
}

int CQXMessage::GetField(const char* name, int& out) const {
    out = static_cast<int>(std::strtol(GetField(name), nullptr, 10));
    return out;
}

const char* CQXMessage::GetField(const char* name, std::string& out) const {
    out = GetField(name);
    return out.c_str();
}

int CQXMessage::GetFieldInt(const char* name) const {
    int value = 0;
    return GetField(name, value);
}

double CQXMessage::GetFieldDouble(const char* name) const {
    double value = 0.0;
    return GetField(name, value);
}

std::int64_t CQXMessage::GetFieldInt64(const char* name) const {
    std::int64_t value = 0;
    return GetField(name, value);
}

bool CQXMessage::GetFieldBool(const char* name) const {
    bool value = false;
    return GetField(name, value);
}

void CQXMessage::Clear() {
    stale_ = true;
    fields_.clear();
    leadName_.clear();
    leadValue_.clear();
    text_.clear();
}

const char* CQXMessage::GetText() {
    return CachedText().c_str();
}

int CQXMessage::GetTextLength() {
    return static_cast<int>(CachedText().size()) + 1;
}

const char* CQXMessage::BuildText() {
    text_ = FormatText();
    stale_ = false;
    return text_.c_str();
}

// Nothing is escaped: a name or value is written byte for byte, and each line ends in a
// single line feed. The lead line is written only when both its name and value are set.
std::string CQXMessage::FormatText() const {
    std::string text;
    if (!leadName_.empty() && !leadValue_.empty()) {
        text.append(leadName_).append(1, '=').append(leadValue_).append(1, '\n');
    }
    for (const auto& [name, value] : fields_) {
        text.append(name).append(1, '=').append(value).append(1, '\n');
    }
    return text;
}

void CQXMessage::GetText(std::string& out) {
    out = GetText();
}

IQXMessage& CQXMessage::Assign(const std::string& text) {
    Clear();
    ParseText(text.c_str(), text.size(), LeadRule::On);
    return *this;
}

IQXMessage& CQXMessage::Append(const std::string& text) {
    ParseText(text.c_str(), text.size(), LeadRule::Off);
    return *this;
}

const std::string& CQXMessage::CachedText() {
    if (stale_) {
        BuildText();
    }
    return text_;
}

}  // namespace msg
