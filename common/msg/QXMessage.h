#pragma once

#include <string>

#include <corvane/IQXMessage.h>

namespace msg {

// The one implementation of the message record. Its text form is cached and rebuilt after
// a change; the pointers handed out by the reads stay valid until the next change.
class CQXMessage final : public IQXMessage {
public:
    CQXMessage() = default;
    CQXMessage(const CQXMessage&) = delete;
    CQXMessage& operator=(const CQXMessage&) = delete;
    ~CQXMessage() override = default;

    bool Parse(const char* text, int length) override;
    bool ParseFields(const std::string& text) override;
    void SetField(const char* name, double value) override;
    void SetField(const char* name, int value) override;
    void SetField(const std::string& name, const std::string& value) override;
    void SetField(const char* name, const char* value) override;
    void SetLead(const char* name, const char* value) override;
    IQXMessage& CopyFrom(const IQXMessage& other) override;
    const char* GetLeadName() const override { return leadName_.c_str(); }
    const char* GetLeadValue() const override { return leadValue_.c_str(); }
    const char* GetField(const char* name) const override;
    bool GetField(const char* name, bool& out) const override;
    std::int64_t GetField(const char* name, std::int64_t& out) const override;
    double GetField(const char* name, double& out) const override;
    int GetField(const char* name, int& out) const override;
    const char* GetField(const char* name, std::string& out) const override;
    int GetFieldInt(const char* name) const override;
    double GetFieldDouble(const char* name) const override;
    std::int64_t GetFieldInt64(const char* name) const override;
    bool GetFieldBool(const char* name) const override;
    void Clear() override;
    const char* GetText() override;
    int GetTextLength() override;
    void Release() override { delete this; }
    const char* BuildText() override;
    void GetText(std::string& out) override;
    IQXMessage& Assign(const std::string& text) override;
    IQXMessage& Append(const std::string& text) override;
    const FieldMap* GetFields() const override { return &fields_; }

    // The text form built afresh, without touching the cached one.
    std::string FormatText() const;

private:
    enum class LeadRule { On, Off };
    bool ParseText(const char* text, std::size_t length, LeadRule rule);
    // Takes one name=value line; false when the line has no separator.
    bool TakeLine(const char* line, std::size_t length, bool asLead);
    const std::string& CachedText();

    bool stale_ = true;
    FieldMap fields_;
    std::string text_;
    std::string leadName_;
    std::string leadValue_;
};

}  // namespace msg
