#pragma once

// Typed value holders: one value kept as bytes in its text (or raw binary) form with the
// name of its type. Settings move between message text and the typed settings store
// through them.

#include <cstdint>
#include <memory>
#include <string>

namespace lang {

class IDataConverter {
public:
    // An empty text stores the default "0".
    explicit IDataConverter(const std::string& text);
    IDataConverter(const IDataConverter&) = delete;
    IDataConverter& operator=(const IDataConverter&) = delete;

    virtual void SetDefault();
    virtual void Assign(const std::string& text);
    virtual ~IDataConverter();
    // The data up to its first zero byte; empty when nothing is stored.
    virtual void GetString(std::string& out) const;
    virtual void GetTypeName(std::string& out) const;

    // Stores a copy of the other's bytes; leaves this one unchanged when the other is empty.
    void Assign(const IDataConverter& other);

    const char* GetData() const { return data_.get(); }
    std::uint32_t GetLength() const { return length_; }

protected:
    IDataConverter() = default;
    // Keeps a copy of the bytes followed by one zero byte. When memory runs out nothing is
    // stored and GetData gives null.
    void Store(const void* bytes, std::uint32_t length);

private:
    std::unique_ptr<char[]> data_;
    std::uint32_t length_ = 0;
};

class StdString : public IDataConverter {
public:
    explicit StdString(const char* text);
    using IDataConverter::Assign;
    void SetDefault() override {}
    void GetTypeName(std::string& out) const override { out = "StdString"; }
};

class Bool : public IDataConverter {
public:
    explicit Bool(bool value);
    explicit Bool(const std::string& text) : IDataConverter(text) {}
    // Without this a text literal would be taken as the value true.
    explicit Bool(const char* text) : Bool(std::string(text ? text : "")) {}
    using IDataConverter::Assign;
    void GetTypeName(std::string& out) const override { out = "Bool"; }
    // An empty text counts as "0".
    void Assign(const char* text);
    void Assign(bool value);
    // False for FALSE, 0 and NO in any case; true for anything else, the empty text too.
    bool GetValue() const;
};

class UnsignedInt : public IDataConverter {
public:
    explicit UnsignedInt(unsigned int value);
    explicit UnsignedInt(const std::string& text) : IDataConverter(text) {}
    using IDataConverter::Assign;
    void GetTypeName(std::string& out) const override { out = "UnsignedInt"; }
    void Assign(const unsigned int& value);
    // The decimal number the text starts with; 0 when it starts with none, the largest value
    // for one too large; a negative one counts back from 2^32 (-1 gives the largest value), as
    // a stream extraction does.
    unsigned int GetValue() const;
};

class Int : public IDataConverter {
public:
    explicit Int(int value);
    explicit Int(const std::string& text) : IDataConverter(text) {}
    using IDataConverter::Assign;
    void GetTypeName(std::string& out) const override { out = "Int"; }
    void Assign(const int& value);
    // The decimal number the text starts with; 0 when it starts with none, the nearest end
    // of the range for one beyond it.
    int GetValue() const;
};

class Binary : public IDataConverter {
public:
    // Stores length bytes from data; a null pointer stores nothing.
    Binary(const void* data, std::uint32_t length);
    using IDataConverter::Assign;
    void SetDefault() override {}
    void GetTypeName(std::string& out) const override { out = "Binary"; }
};

}  // namespace lang
