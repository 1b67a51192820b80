#include "common/msg/QXMessage.h"
#include "tests/support/TestBasics.h"
#include "tests/support/VirtualSlot.h"

namespace {

using testsupport::SlotOf;

using msg::CQXMessage;
using msg::IQXMessage;

// The fields of a message as name=value texts, in map order.
std::vector<std::string> FieldsOf(const CQXMessage& message) {
    std::vector<std::string> fields;
    for (const auto& [name, value] : *message.GetFields()) {
        fields.push_back(name + "=" + value);
    }
    return fields;
}

using Fields = std::vector<std::string>;

TEST(MessageText, TheLeadLineComesFirstFieldsFollowInByteOrderAndTheTextFollowsChanges) {
    CQXMessage message;
    message.SetLead("Request", "GetState");
    message.SetField("Status-Code", "0");
    message.SetField("ID", 7);
    message.SetField("id", "lower");
    message.SetField("\xc3\xa9", "high");  // bytes above seven bits sort after ASCII
    EXPECT_STREQ(message.GetText(),
                 "Request=GetState\nID=7\nStatus-Code=0\nid=lower\n\xc3\xa9=high\n");
    EXPECT_EQ(message.GetTextLength(), static_cast<int>(std::strlen(message.GetText())) + 1);
    message.SetField("ID", "8");
    std::string text;
    message.GetText(text);
    EXPECT_EQ(text, "Request=GetState\nID=8\nStatus-Code=0\nid=lower\n\xc3\xa9=high\n");

    message.Clear();
    EXPECT_STREQ(message.GetText(), "");
    EXPECT_EQ(message.GetTextLength(), 1) << "an empty message is one zero byte on the wire";
    message.SetLead("Internal", "");
    message.SetField("a1", "b");
    EXPECT_STREQ(message.GetText(), "a1=b\n") << "a lead without a value writes no lead line";
    EXPECT_STREQ(message.GetLeadName(), "Internal");
}

// Numbers are the number the text starts with, 0 for none; only the empty text and the
// words of false read as false; a field wins over the lead of its name.
TEST(MessageFields, ReadsTakeTheLeadTheLeadingNumberAndFalseOnlyForFalseWords) {
    const struct {
        const char* text;
        int number;
        double real;
        bool flag;
    } rows[] = {
        {"12abc", 12, 12, true}, {"2.5x", 2, 2.5, true}, {"1", 1, 1, true}, {" 0", 0, 0, true},
        {"FALSE ", 0, 0, true},  {"00", 0, 0, true},     {"", 0, 0, false}, {"False", 0, 0, false},
        {"No", 0, 0, false},     {"0", 0, 0, false},
    };
    CQXMessage message;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        message.SetField("Field", row.text);
        EXPECT_EQ(message.GetFieldInt("Field"), row.number);
        EXPECT_EQ(message.GetFieldInt64("Field"), row.number);
        EXPECT_DOUBLE_EQ(message.GetFieldDouble("Field"), row.real);
        EXPECT_EQ(message.GetFieldBool("Field"), row.flag);
        std::string text;
        EXPECT_STREQ(message.GetField("Field", text), row.text);
        EXPECT_EQ(text, row.text);
    }
    message.SetField("Big", "9000000000");
    EXPECT_EQ(message.GetFieldInt64("Big"), 9000000000LL);
    EXPECT_FALSE(message.GetFieldBool("Missing"));
    message.SetField("Double", 3.14159265);
    message.SetField("Large", 1234567.0);
    message.SetLead("Reply", "CreateSession");
    EXPECT_EQ(FieldsOf(message),
              (Fields{"Big=9000000000", "Double=3.14159", "Field=0", "Large=1.23457e+06"}));
    EXPECT_STREQ(message.GetField("Reply"), "CreateSession");
    message.SetField("Reply", "Other");
    EXPECT_STREQ(message.GetField("Reply"), "Other");
    EXPECT_STREQ(message.GetField(nullptr), "");
}

// Texts, the length handed to Parse and the text form they give: the first line with a
// separator is the lead, one line end may swallow one more carriage return or line feed, no
// white space is trimmed, a later line with the same name wins, a zero byte ends the text,
// a line without separator ends the parse as a failure, and the length bounds where a line
// may begin, not where it ends.
TEST(MessageParse, TextsAndLengthsGiveTheseMessages) {
    constexpr std::optional<int> kWhole;
    struct Case {
        std::string text;
        std::optional<int> length;
        bool parsed;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"\n\r\nReply=Create\nResult=Success\nCode=0\n", kWhole, true,
         "Reply=Create\nCode=0\nResult=Success\n"},
        {"ab=1\r\ncd=2", kWhole, true, "ab=1\ncd=2\n"},
        {"ab=1\n\n\ncd=2", kWhole, true, "ab=1\ncd=2\n"},
        {"ab=1\n\rcd=2", kWhole, true, "ab=1\ncd=2\n"},
        {"ab=1\r\rcd=2", kWhole, true, "ab=1\ncd=2\n"},
        {"Lead=x\n name = value \n", kWhole, true, "Lead=x\n name = value \n"},
        {"Lead=x\nab=1\nab=2\n", kWhole, true, "Lead=x\nab=2\n"},
        {std::string("Internal=Ping\nab=1\0cd=2\n", 24), kWhole, true, "Internal=Ping\nab=1\n"},
        {"Internal=Ping\nname=1\nbroken line\nlater=2\n", kWhole, false, "Internal=Ping\nname=1\n"},
        {"ab=1\ncd=2\n", 3, true, "ab=1\n"},
        {"ab=1\ncd=2\n", 5, true, "ab=1\n"},
        {"ab=1\ncd=2\n", 6, true, "ab=1\ncd=2\n"},
        {"ab=1\r\ncd=2\n", 6, true, "ab=1\n"},
        {"ab=1\n", 0, true, ""},
        {"ab=1\n", -5, true, ""},
        // The separator is never in the first two bytes of a line.
        {"a=b\n", kWhole, false, ""},
        {"=ab=c\nxy==z=1\n", kWhole, true, "=ab=c\nxy==z=1\n"},
    };
    for (const auto& [text, length, parsed, expected] : cases) {
        CQXMessage message;
        const int given = length.value_or(static_cast<int>(text.size()));
        const std::string what = testing::PrintToString(text) + " length " + std::to_string(given);
        EXPECT_EQ(message.Parse(text.c_str(), given), parsed) << what;
        EXPECT_EQ(message.GetText(), expected) << what;
    }
    CQXMessage nothing;
    EXPECT_TRUE(nothing.Parse(nullptr, 10));
    EXPECT_STREQ(nothing.GetText(), "");
}

TEST(MessageParse, AppendAddsFieldsAndKeepsTheLeadAssignAndCopyFromStartAfresh) {
    CQXMessage message;
    message.Assign("First=Lead\nkept=1\n");
    EXPECT_EQ(&message.Append("Lead=Less\nmore=2\n"), &message);
    EXPECT_STREQ(message.GetLeadName(), "First");
    EXPECT_EQ(FieldsOf(message), (Fields{"Lead=Less", "kept=1", "more=2"}));
    CQXMessage copy;
    copy.Assign("Old=Lead\nStale=1\n");
    EXPECT_EQ(&copy.CopyFrom(message), &copy);
    EXPECT_EQ(&copy.CopyFrom(copy), &copy) << "a message copied onto itself stays whole";
    EXPECT_STREQ(copy.GetText(), "First=Lead\nLead=Less\nkept=1\nmore=2\n");
    EXPECT_EQ(&message.Assign("Internal=Ping\nab=1\n"), &message);
    EXPECT_STREQ(message.GetText(), "Internal=Ping\nab=1\n");
    EXPECT_FALSE(message.ParseFields("cd=2\nabc")) << "a line without a separator fails";
}

// A toolbox built elsewhere calls a message's operations by their slot in its table.
TEST(MessageSlots, EveryOperationKeepsItsSlot) {
    using M = IQXMessage;
    using S = std::string;
    const std::vector<std::ptrdiff_t> slots = {
        // clang-format off
        SlotOf(&M::Parse), SlotOf(&M::ParseFields),
        SlotOf(static_cast<void (M::*)(const char*, double)>(&M::SetField)),
        SlotOf(static_cast<void (M::*)(const char*, int)>(&M::SetField)),
        SlotOf(static_cast<void (M::*)(const S&, const S&)>(&M::SetField)),
        SlotOf(static_cast<void (M::*)(const char*, const char*)>(&M::SetField)),
        SlotOf(&M::SetLead), SlotOf(&M::CopyFrom), SlotOf(&M::GetLeadName),
        SlotOf(&M::GetLeadValue),
        SlotOf(static_cast<const char* (M::*)(const char*) const>(&M::GetField)),
        SlotOf(static_cast<bool (M::*)(const char*, bool&) const>(&M::GetField)),
        SlotOf(static_cast<std::int64_t (M::*)(const char*, std::int64_t&) const>(&M::GetField)),
        SlotOf(static_cast<double (M::*)(const char*, double&) const>(&M::GetField)),
        SlotOf(static_cast<int (M::*)(const char*, int&) const>(&M::GetField)),
        SlotOf(static_cast<const char* (M::*)(const char*, S&) const>(&M::GetField)),
        SlotOf(&M::GetFieldInt), SlotOf(&M::GetFieldDouble), SlotOf(&M::GetFieldInt64),
        SlotOf(&M::GetFieldBool), SlotOf(&M::Clear),
        SlotOf(static_cast<const char* (M::*)()>(&M::GetText)), SlotOf(&M::GetTextLength),
        SlotOf(&M::Release), SlotOf(&M::BuildText),
        SlotOf(static_cast<void (M::*)(S&)>(&M::GetText)), SlotOf(&M::Assign),
        SlotOf(&M::Append), SlotOf(&M::GetFields),
        // clang-format on
    };
    for (std::size_t slot = 0; slot < slots.size(); ++slot) {
        EXPECT_EQ(slots[slot], static_cast<std::ptrdiff_t>(slot)) << "operation number " << slot;
    }
}

}  // namespace
