#include <gtest/gtest.h>
#include <string>

#include "common/lang/DataConverter.h"

namespace {

std::string TextOf(const lang::IDataConverter& converter) {
    std::string text;
    converter.GetString(text);
    return text;
}

// The settings table reaches the converters only through texts; these are the rules its
// table cannot see: the text kept as given, typed values written back and the literal trap.
TEST(DataConverter, TextIsKeptAsGivenAndOnlyTheReadersInterpretIt) {
    lang::Int number(0);
    number.Assign(std::string("42abc"));
    EXPECT_EQ(TextOf(number), "42abc");
    EXPECT_EQ(number.GetValue(), 42);
    number.Assign(-2147483647 - 1);
    EXPECT_EQ(TextOf(number), "-2147483648");
    EXPECT_EQ(TextOf(lang::UnsignedInt(4294967295u)), "4294967295");
    EXPECT_EQ(TextOf(lang::Int(std::string())), "0");
    for (const char* text : {"no", "False", "0", "NO"}) {
        EXPECT_FALSE(lang::Bool(std::string(text)).GetValue()) << text;
    }
    EXPECT_FALSE(lang::Bool("no").GetValue()) << "a text literal is read as text";
}

TEST(DataConverter, BinaryKeepsEveryByteButReadsAsTextUpToAZero) {
    const unsigned char bytes[] = {'a', 'b', 0, 'c', 0xff};
    const lang::Binary binary(bytes, sizeof(bytes));
    EXPECT_EQ(std::string(binary.GetData(), binary.GetLength()),
              std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes)));
    EXPECT_EQ(binary.GetData()[binary.GetLength()], '\0') << "data is followed by a zero byte";
    EXPECT_EQ(TextOf(binary), "ab");
}

}  // namespace
