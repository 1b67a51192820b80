#include "agent/program/SettingsListing.h"

#include "agent/store/Settings.h"
#include "common/msg/QXMessage.h"

namespace {

// A message that notes the order in which its text fields are set. CSettings adds the
// stored settings one by one in the order of its table, while a message keeps its fields
// sorted by name; the noted order gives the table's back.
class COrderNotingMessage final : public msg::IQXMessage {
public:
    const std::vector<std::string>& Order() const { return order_; }

    void SetField(const std::string& name, const std::string& value) override {
        order_.push_back(name);
        inner_.SetField(name, value);
    }

    bool Parse(const char* text, int length) override { return inner_.Parse(text, length); }
    bool ParseFields(const std::string& text) override { return inner_.ParseFields(text); }
    void SetField(const char* name, double value) override { inner_.SetField(name, value); }
    void SetField(const char* name, int value) override { inner_.SetField(name, value); }
    void SetField(const char* name, const char* value) override { inner_.SetField(name, value); }
    void SetLead(const char* name, const char* value) override { inner_.SetLead(name, value); }
    IQXMessage& CopyFrom(const IQXMessage& other) override {
        inner_.CopyFrom(other);
        return *this;
    }
    const char* GetLeadName() const override { return inner_.GetLeadName(); }
    const char* GetLeadValue() const override { return inner_.GetLeadValue(); }
    const char* GetField(const char* name) const override { return inner_.GetField(name); }
    bool GetField(const char* name, bool& out) const override { return inner_.GetField(name, out); }
    std::int64_t GetField(const char* name, std::int64_t& out) const override {
        return inner_.GetField(name, out);
    }
    double GetField(const char* name, double& out) const override {
        return inner_.GetField(name, out);
    }
    int GetField(const char* name, int& out) const override { return inner_.GetField(name, out); }
    const char* GetField(const char* name, std::string& out) const override {
        return inner_.GetField(name, out);
    }
    int GetFieldInt(const char* name) const override { return inner_.GetFieldInt(name); }
    double GetFieldDouble(const char* name) const override { return inner_.GetFieldDouble(name); }
    std::int64_t GetFieldInt64(const char* name) const override {
        return inner_.GetFieldInt64(name);
    }
    bool GetFieldBool(const char* name) const override { return inner_.GetFieldBool(name); }
    void Clear() override { inner_.Clear(); }
    const char* GetText() override { return inner_.GetText(); }
    int GetTextLength() override { return inner_.GetTextLength(); }
    // Lives on the stack only.
    void Release() override {}
    const char* BuildText() override { return inner_.BuildText(); }
    void GetText(std::string& out) override { inner_.GetText(out); }
    IQXMessage& Assign(const std::string& text) override {
        inner_.Assign(text);
        return *this;
    }
    IQXMessage& Append(const std::string& text) override {
        inner_.Append(text);
        return *this;
    }
    const msg::FieldMap* GetFields() const override { return inner_.GetFields(); }

private:
    msg::CQXMessage inner_;
    std::vector<std::string> order_;
};

}  // namespace

std::vector<std::pair<std::string, std::string>> ListStoredSettings() {
    COrderNotingMessage message;
    CSettings().GetSettings(&message);
    std::vector<std::pair<std::string, std::string>> settings;
    for (const std::string& name : message.Order()) {
        settings.emplace_back(name, message.GetField(name.c_str()));
    }
    return settings;
}
