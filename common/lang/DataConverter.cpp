#include "common/lang/DataConverter.h"

#include <cstring>
#include <new>
#include <sstream>

#include "common/util/StringUtils.h"

namespace lang {

namespace {

// Default stream formatting, as the stored text of a typed value is defined.
template <typename T>
std::string ToText(const T& value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

// What a stream extraction leaves: the decimal number the text begins with, 0 when it begins
// with none, the nearest end of the range for one beyond it. Text is never refused.
template <typename T>
T FromText(const IDataConverter& converter) {
    std::string text;
    converter.GetString(text);
    std::istringstream stream(text);
    T value{};
    stream >> value;
    return value;
}

}  // namespace

IDataConverter::IDataConverter(const std::string& text) {
    if (text.empty()) {
        SetDefault();
    } else {
        Assign(text);
    }
}

IDataConverter::~IDataConverter() = default;

void IDataConverter::SetDefault() {
    Store("0", 1);
}

void IDataConverter::Assign(const std::string& text) {
    Store(text.data(), static_cast<std::uint32_t>(text.size()));
}

void IDataConverter::Assign(const IDataConverter& other) {
    if (other.data_ && &other != this) {
        Store(other.data_.get(), other.length_);
    }
}

void IDataConverter::GetString(std::string& out) const {
    out = data_ ? data_.get() : "";
}

void IDataConverter::GetTypeName(std::string& out) const {
    out = "IDataConverter";
}

void IDataConverter::Store(const void* bytes, std::uint32_t length) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[std::size_t{length} + 1]());
    if (!buffer) {
        data_.reset();
        return;
    }
    if (length != 0) {
        std::memcpy(buffer.get(), bytes, length);
    }
    data_ = std::move(buffer);
    length_ = length;
}

StdString::StdString(const char* text) {
    const std::string bytes = text ? text : "";
    IDataConverter::Assign(bytes);
}

Bool::Bool(bool value) {
    Assign(value);
}

void Bool::Assign(const char* text) {
    IDataConverter::Assign(Bool(text));
}

void Bool::Assign(bool value) {
    IDataConverter::Assign(Bool(ToText(value)));
}

bool Bool::GetValue() const {
    std::string text;
    GetString(text);
    const std::string upper = util::ToUpper(text);
    return upper != "FALSE" && upper != "0" && upper != "NO";
}

UnsignedInt::UnsignedInt(unsigned int value) {
    Assign(value);
}

void UnsignedInt::Assign(const unsigned int& value) {
    IDataConverter::Assign(ToText(value));
}

unsigned int UnsignedInt::GetValue() const {
    return FromText<unsigned int>(*this);
}

Int::Int(int value) {
    Assign(value);
}

void Int::Assign(const int& value) {
    IDataConverter::Assign(ToText(value));
}

int Int::GetValue() const {
    return FromText<int>(*this);
}

Binary::Binary(const void* data, std::uint32_t length) {
    if (data) {
        Store(data, length);
    }
}

}  // namespace lang
