#include <gtest/gtest.h>
#include <string>

#include "common/lang/DataConverter.h"

namespace {

std::string TextOf(const lang::IDataConverter& converter) {
    std::string text;
    converter.GetString(text);
    return text;
}

TEST(DataConverter, ValuesAreKeptAsPlainTextAndAnEmptyTextIsZeroExceptForStrings) {
    EXPECT_EQ(TextOf(lang::Bool(true)), "1");
    EXPECT_EQ(TextOf(lang::UnsignedInt(4294967295u)), "4294967295");
    lang::Int value(5);
    value.Assign(-2147483647 - 1);
    EXPECT_EQ(TextOf(value), "-2147483648");
    EXPECT_EQ(TextOf(lang::Int(std::string())), "0");
    EXPECT_EQ(TextOf(lang::StdString(nullptr)), "");
}

TEST(DataConverter, BoolIsFalseOnlyForFalseZeroAndNo) {
    for (const char* text : {"no", "False", "0", "NO"}) {
        EXPECT_FALSE(lang::Bool(std::string(text)).GetValue()) << text;
    }
    EXPECT_TRUE(lang::Bool(std::string("anything")).GetValue());
    EXPECT_FALSE(lang::Bool("no").GetValue()) << "a text literal is read as text";
    lang::Bool emptyData(true);
    emptyData.IDataConverter::Assign(std::string());
    EXPECT_EQ(TextOf(emptyData), "");
    EXPECT_TRUE(emptyData.GetValue());
}

TEST(DataConverter, TextIsStoredUncheckedAndOnlyTheReadersInterpretIt) {
    lang::Int number(0);
    number.Assign(std::string("letters"));
    EXPECT_EQ(TextOf(number), "letters");
    EXPECT_EQ(number.GetValue(), 0);
    number.Assign(std::string("42abc"));
    EXPECT_EQ(number.GetValue(), 42);
    lang::UnsignedInt unsignedNumber(std::string("  17"));
    EXPECT_EQ(unsignedNumber.GetValue(), 17u);
    EXPECT_EQ(lang::UnsignedInt(std::string("abc")).GetValue(), 0u);
}

TEST(DataConverter, AssignFromAnEmptyConverterChangesNothing) {
    lang::StdString target("kept");
    const lang::Binary nothing(nullptr, 4);
    EXPECT_EQ(nothing.GetData(), nullptr);
    target.Assign(nothing);
    EXPECT_EQ(TextOf(target), "kept");
    target.Assign(lang::Int(12));
    EXPECT_EQ(TextOf(target), "12");
}

TEST(DataConverter, BinaryKeepsEveryByteButReadsAsTextUpToAZero) {
    const unsigned char bytes[] = {'a', 'b', 0, 'c', 0xff};
    const lang::Binary binary(bytes, sizeof(bytes));
    EXPECT_EQ(binary.GetLength(), sizeof(bytes));
    EXPECT_EQ(std::string(binary.GetData(), binary.GetLength()),
              std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes)));
    EXPECT_EQ(binary.GetData()[binary.GetLength()], '\0') << "data is followed by a zero byte";
    EXPECT_EQ(TextOf(binary), "ab");
}

TEST(DataConverter, SetDefaultKeepsStringsAndBinaryAndZeroesTheRest) {
    lang::StdString text("kept");
    text.SetDefault();
    EXPECT_EQ(TextOf(text), "kept");
    lang::Binary binary("xy", 2);
    binary.SetDefault();
    EXPECT_EQ(TextOf(binary), "xy");
    lang::Int number(7);
    number.SetDefault();
    EXPECT_EQ(TextOf(number), "0");
}

}  // namespace
