#pragma once

// The message record as toolboxes see it. The order of the virtual operations below is the
// binary contract between the agent and every toolbox built against it: never reorder,
// insert or remove one, or toolboxes already in the field call the wrong operation.

#include <cstdint>
#include <map>
#include <string>

namespace msg {

// Field names mapped to values, ordered byte by byte ("ID" < "Password" < "Status-Code").
using FieldMap = std::map<std::string, std::string>;

// A message is one lead pair naming its kind (for example Request=GetState) and any number
// of further name=value fields. Its text form is the lead line and then one line per field
// in name order, each ended by a line feed; on the wire the text is followed by one zero
// byte. Whoever holds a message pointer owns the message and ends it with Release.
class IQXMessage {
public:
    // Parses zero-terminated text; the first line holding a separator becomes the lead
    // pair. A line may begin only within the first length bytes, and one that has begun
    // runs to its line end or the zero byte. Returns false at the first line without a
    // separator, keeping what came before.
    virtual bool Parse(const char* text, int length) = 0;  // slot 0
    // Parses text in which every line becomes a field.
    virtual bool ParseFields(const std::string& text) = 0;                         // slot 1
    virtual void SetField(const char* name, double value) = 0;                     // slot 2
    virtual void SetField(const char* name, int value) = 0;                        // slot 3
    virtual void SetField(const std::string& name, const std::string& value) = 0;  // slot 4
    virtual void SetField(const char* name, const char* value) = 0;                // slot 5
    virtual void SetLead(const char* name, const char* value) = 0;                 // slot 6
    // Replaces the content with a copy of the other message's; returns this message.
    virtual IQXMessage& CopyFrom(const IQXMessage& other) = 0;  // slot 7
    virtual const char* GetLeadName() const = 0;                // slot 8
    virtual const char* GetLeadValue() const = 0;               // slot 9
    // The field's value; the lead value when only the lead name matches; else "". Never null.
    virtual const char* GetField(const char* name) const = 0;                      // slot 10
    virtual bool GetField(const char* name, bool& out) const = 0;                  // slot 11
    virtual std::int64_t GetField(const char* name, std::int64_t& out) const = 0;  // slot 12
    virtual double GetField(const char* name, double& out) const = 0;              // slot 13
    virtual int GetField(const char* name, int& out) const = 0;                    // slot 14
    virtual const char* GetField(const char* name, std::string& out) const = 0;    // slot 15
    virtual int GetFieldInt(const char* name) const = 0;                           // slot 16
    virtual double GetFieldDouble(const char* name) const = 0;                     // slot 17
    virtual std::int64_t GetFieldInt64(const char* name) const = 0;                // slot 18
    virtual bool GetFieldBool(const char* name) const = 0;                         // slot 19
    virtual void Clear() = 0;                                                      // slot 20
    virtual const char* GetText() = 0;                                             // slot 21
    // Length of the text form plus one: the zero byte that ends the message on the wire.
    virtual int GetTextLength() = 0;             // slot 22
    virtual void Release() = 0;                  // slot 23
    virtual const char* BuildText() = 0;         // slot 24
    virtual void GetText(std::string& out) = 0;  // slot 25
    // Clears, then parses with the lead rule; returns this message.
    virtual IQXMessage& Assign(const std::string& text) = 0;  // slot 26
    // Parses text in which every line becomes a field, keeping the content; returns this.
    virtual IQXMessage& Append(const std::string& text) = 0;  // slot 27
    virtual const FieldMap* GetFields() const = 0;            // slot 28
    virtual ~IQXMessage() = default;                          // slot 29

protected:
    IQXMessage() = default;
    IQXMessage(const IQXMessage&) = default;
    IQXMessage& operator=(const IQXMessage&) = default;
};

}  // namespace msg
