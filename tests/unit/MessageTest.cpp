#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "common/msg/QXMessage.h"

namespace {

using msg::CQXMessage;

// The fields of a message as name=value texts, in map order.
std::vector<std::string> FieldsOf(const CQXMessage& message) {
    std::vector<std::string> fields;
    for (const auto& [name, value] : *message.GetFields()) {
        fields.push_back(name + "=" + value);
    }
    return fields;
}

using Fields = std::vector<std::string>;

bool ParseText(CQXMessage& message, const std::string& text) {
    return message.Parse(text.c_str(), static_cast<int>(text.size()));
}

TEST(MessageText, TheLeadLineComesFirstAndFieldsFollowInByteOrder) {
    CQXMessage message;
    message.SetLead("Request", "GetState");
    message.SetField("Status-Code", "0");
    message.SetField("Password", "p");
    message.SetField("ID", "7");
    message.SetField("Request-Type", "x");
    message.SetField("id", "lower");
    message.SetField("\xc3\xa9", "high");  // bytes above seven bits sort after ASCII
    EXPECT_STREQ(message.GetText(),
                 "Request=GetState\nID=7\nPassword=p\nRequest-Type=x\n"
                 "Status-Code=0\nid=lower\n\xc3\xa9=high\n");
    EXPECT_EQ(message.GetTextLength(), static_cast<int>(std::string(message.GetText()).size()) + 1);
}

TEST(MessageText, ALeadWithAnEmptyValueWritesNoLeadLineButStillReads) {
    CQXMessage message;
    message.SetLead("Internal", "");
    message.SetField("a1", "b");
    EXPECT_STREQ(message.GetText(), "a1=b\n");
    EXPECT_STREQ(message.GetField("Internal"), "");
    EXPECT_STREQ(message.GetLeadName(), "Internal");
}

TEST(MessageText, TheTextFollowsEveryChange) {
    CQXMessage message;
    message.SetLead("Internal", "Ping");
    EXPECT_STREQ(message.GetText(), "Internal=Ping\n");
    message.SetField("Count", 3);
    EXPECT_STREQ(message.GetText(), "Internal=Ping\nCount=3\n");
    message.SetField("Count", "4");
    std::string text;
    message.GetText(text);
    EXPECT_EQ(text, "Internal=Ping\nCount=4\n");
    message.Clear();
    EXPECT_STREQ(message.GetText(), "");
    EXPECT_EQ(message.GetTextLength(), 1) << "an empty message is one zero byte on the wire";
    EXPECT_STREQ(message.GetLeadName(), "");
}

TEST(MessageText, NumbersAreWrittenInTheStreamsDefaultForm) {
    CQXMessage message;
    message.SetField("Int", -42);
    message.SetField("Double", 3.14159265);
    message.SetField("Large", 1234567.0);
    EXPECT_STREQ(message.GetField("Int"), "-42");
    EXPECT_STREQ(message.GetField("Double"), "3.14159");
    EXPECT_STREQ(message.GetField("Large"), "1.23457e+06");
}

TEST(MessageFields, ALeadNameReadsAsAFieldUnlessAFieldOfThatNameExists) {
    CQXMessage message;
    message.SetLead("Reply", "CreateSession");
    EXPECT_STREQ(message.GetField("Reply"), "CreateSession");
    message.SetField("Reply", "Other");
    EXPECT_STREQ(message.GetField("Reply"), "Other");
    EXPECT_STREQ(message.GetField("Missing"), "");
    EXPECT_STREQ(message.GetField(nullptr), "");
}

TEST(MessageFields, NumericReadsTakeTheLeadingNumber) {
    CQXMessage message;
    message.SetField("Digits", "12abc");
    message.SetField("Letters", "abc");
    message.SetField("Negative", "-5");
    message.SetField("Big", "9000000000");
    message.SetField("Real", "2.5x");
    EXPECT_EQ(message.GetFieldInt("Digits"), 12);
    EXPECT_EQ(message.GetFieldInt("Letters"), 0);
    EXPECT_EQ(message.GetFieldInt("Missing"), 0);
    EXPECT_EQ(message.GetFieldInt("Negative"), -5);
    EXPECT_EQ(message.GetFieldInt64("Big"), 9000000000LL);
    EXPECT_DOUBLE_EQ(message.GetFieldDouble("Real"), 2.5);
    EXPECT_DOUBLE_EQ(message.GetFieldDouble("Missing"), 0.0);
    int asInt = 99;
    EXPECT_EQ(message.GetField("Digits", asInt), 12);
    EXPECT_EQ(asInt, 12);
}

TEST(MessageFields, BooleanReadsAreFalseOnlyForEmptyFalseNoAndZero) {
    CQXMessage message;
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", false}, {"False", false}, {"No", false},    {"0", false},
        {"1", true}, {" 0", true},     {"FALSE ", true}, {"00", true},
    };
    for (const auto& [text, expected] : cases) {
        message.SetField("Flag", text.c_str());
        bool out = !expected;
        EXPECT_EQ(message.GetField("Flag", out), expected) << '"' << text << '"';
        EXPECT_EQ(out, expected);
        EXPECT_EQ(message.GetFieldBool("Flag"), expected) << '"' << text << '"';
    }
    EXPECT_FALSE(message.GetFieldBool("Missing"));
}

TEST(MessageCopy, CopyFromReplacesEverything) {
    CQXMessage source;
    source.SetLead("Request", "GetState");
    source.SetField("Task-Type", "7");
    CQXMessage target;
    target.SetLead("Old", "Lead");
    target.SetField("Stale", "1");
    EXPECT_EQ(&target.CopyFrom(source), &target);
    EXPECT_STREQ(target.GetText(), "Request=GetState\nTask-Type=7\n");
    EXPECT_EQ(&target.CopyFrom(target), &target);
    EXPECT_STREQ(target.GetText(), "Request=GetState\nTask-Type=7\n");
}

TEST(MessageParse, TheSeparatorIsNeverInTheFirstTwoBytes) {
    CQXMessage message;
    EXPECT_FALSE(message.ParseFields("a=b"));
    EXPECT_TRUE(message.GetFields()->empty());
    EXPECT_TRUE(message.ParseFields("ab=c"));
    EXPECT_TRUE(message.ParseFields("=ab=c"));
    EXPECT_TRUE(message.ParseFields("xy==z=1"));
    EXPECT_EQ(FieldsOf(message), (Fields{"=ab=c", "ab=c", "xy==z=1"}));
    EXPECT_FALSE(message.ParseFields("ab"));
    EXPECT_FALSE(message.ParseFields("abc"));
}

TEST(MessageParse, ALineWithoutSeparatorStopsTheParseAndKeepsWhatCameBefore) {
    CQXMessage message;
    EXPECT_FALSE(ParseText(message, "Internal=Ping\nname=1\nbroken line\nlater=2\n"));
    EXPECT_STREQ(message.GetLeadValue(), "Ping");
    EXPECT_EQ(FieldsOf(message), (Fields{"name=1"}));
}

// Texts, the length handed to Parse and the text form they give: one line end may swallow
// one more carriage return or line feed, no white space is trimmed, a later line with the
// same name wins, and the length bounds where a line may begin, not where it ends.
TEST(MessageParse, TextsAndLengthsGiveTheseMessages) {
    constexpr std::optional<int> kWhole;
    struct Case {
        std::string text;
        std::optional<int> length;
        std::string parsed;
    };
    const std::vector<Case> cases = {
        {"ab=1\r\ncd=2", kWhole, "ab=1\ncd=2\n"},
        {"ab=1\n\n\ncd=2", kWhole, "ab=1\ncd=2\n"},
        {"ab=1\n\rcd=2", kWhole, "ab=1\ncd=2\n"},
        {"ab=1\r\rcd=2", kWhole, "ab=1\ncd=2\n"},
        {"Lead=x\n name = value \n", kWhole, "Lead=x\n name = value \n"},
        {"Lead=x\nab=1\nab=2\n", kWhole, "Lead=x\nab=2\n"},
        {"ab=1\ncd=2\n", 3, "ab=1\n"},
        {"ab=1\ncd=2\n", 5, "ab=1\n"},
        {"ab=1\ncd=2\n", 6, "ab=1\ncd=2\n"},
        {"ab=1\r\ncd=2\n", 6, "ab=1\n"},
        {"ab=1\n", 0, ""},
        {"ab=1\n", -5, ""},
    };
    for (const auto& [text, length, parsed] : cases) {
        CQXMessage message;
        const int given = length.value_or(static_cast<int>(text.size()));
        const std::string what = testing::PrintToString(text) + " length " + std::to_string(given);
        EXPECT_TRUE(message.Parse(text.c_str(), given)) << what;
        EXPECT_EQ(message.GetText(), parsed) << what;
    }
    CQXMessage nothing;
    EXPECT_TRUE(nothing.Parse(nullptr, 10));
    EXPECT_STREQ(nothing.GetText(), "");
}

TEST(MessageParse, AZeroByteEndsTheTextWhateverTheLength) {
    const char text[] = "Internal=Ping\nab=1\0cd=2\n";
    CQXMessage message;
    EXPECT_TRUE(message.Parse(text, sizeof(text) - 1));
    EXPECT_STREQ(message.GetText(), "Internal=Ping\nab=1\n");
}

TEST(MessageParse, OnlyTheFirstLineWithASeparatorBecomesTheLead) {
    CQXMessage message;
    EXPECT_TRUE(ParseText(message, "\n\r\nReply=CreateSession\nResult=Success\nCode=0\n"));
    EXPECT_STREQ(message.GetLeadName(), "Reply");
    EXPECT_STREQ(message.GetLeadValue(), "CreateSession");
    EXPECT_EQ(FieldsOf(message), (Fields{"Code=0", "Result=Success"}));
    EXPECT_TRUE(ParseText(message, "Second=Lead\n"));
    EXPECT_STREQ(message.GetLeadName(), "Second") << "each parse takes its own lead";
}

TEST(MessageParse, ParseAndAppendKeepTheContentAssignClearsIt) {
    CQXMessage message;
    message.SetField("kept", "1");
    EXPECT_EQ(&message.Append("Lead=Less\nmore=2\n"), &message);
    EXPECT_STREQ(message.GetLeadName(), "");
    EXPECT_EQ(FieldsOf(message), (Fields{"Lead=Less", "kept=1", "more=2"}));
    EXPECT_EQ(&message.Assign("Internal=Ping\nab=1\n"), &message);
    EXPECT_STREQ(message.GetText(), "Internal=Ping\nab=1\n");
}

TEST(MessageParse, AMessageSurvivesARoundTripThroughItsText) {
    CQXMessage original;
    original.SetLead("Request", "SetState");
    original.SetField("Task-Sequence-ID", "42");
    original.SetField("Config", "a=b=c");
    original.SetField("Empty", "");
    CQXMessage copy;
    copy.Assign(original.GetText());
    EXPECT_STREQ(copy.GetText(), original.GetText());
    EXPECT_EQ(FieldsOf(copy), FieldsOf(original));

    // A value with a line feed comes back as two lines.
    original.SetField("Note", "first\nsecond=part");
    copy.Assign(original.GetText());
    EXPECT_STREQ(copy.GetField("Note"), "first");
    EXPECT_STREQ(copy.GetField("second"), "part");
}

}  // namespace
