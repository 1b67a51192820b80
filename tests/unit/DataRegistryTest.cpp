#include <string>

#include "common/lang/DataConverter.h"
#include "common/sys/DataRegistry.h"
#include "tests/unit/RegistryFixture.h"

namespace {

using regtest::Caught;
using regtest::ErrorValue;

class DataRegistryTest : public regtest::RegistryFixture {
protected:
    DataRegistryTest() { OpenKey(key_); }

    static std::string Text(const lang::IDataConverter& converter) {
        std::string text;
        converter.GetString(text);
        return text;
    }

    sys::CDataRegistry key_;
};

// A converter whose type name no registry kind answers to.
class Unknown : public lang::IDataConverter {
public:
    Unknown() : IDataConverter("untouched") {}
    void GetTypeName(std::string& out) const override { out = "Unknown"; }
};

TEST_F(DataRegistryTest, EachTypeNameWritesItsKindAndReadsItBack) {
    key_.WriteData("Text", lang::StdString("mgmt.example.net"));
    key_.WriteData("Flag", lang::Bool(std::string("yes")));
    key_.WriteData("Signed", lang::Int(std::string("-15")));
    key_.WriteData("Unsigned", lang::UnsignedInt(std::string("4000000000")));

    // Switches and numbers of either sign are stored as DWORDs.
    std::uint32_t number = 0;
    key_.ReadDWord("Flag", number);
    EXPECT_EQ(number, 1u);
    key_.ReadDWord("Signed", number);
    EXPECT_EQ(number, static_cast<std::uint32_t>(-15));

    lang::StdString readText("");
    key_.ReadData("Text", readText);
    EXPECT_EQ(Text(readText), "mgmt.example.net");
    lang::Bool readFlag(false);
    key_.ReadData("Flag", readFlag);
    EXPECT_EQ(Text(readFlag), "1");
    lang::Int readSigned(-1);
    key_.ReadData("Signed", readSigned);
    EXPECT_EQ(Text(readSigned), "-15");
    lang::UnsignedInt readUnsigned(0u);
    key_.ReadData("Unsigned", readUnsigned);
    EXPECT_EQ(Text(readUnsigned), "4000000000");
}

TEST_F(DataRegistryTest, ValueOfAnotherKindIsAnErrorAndLeavesTheConverter) {
    key_.WriteString("Text", "abc");
    key_.WriteDWord("Number", 5);
    lang::Int number(-1);
    EXPECT_EQ(ErrorValue([&] { key_.ReadData("Text", number); }), 9);
    EXPECT_EQ(Text(number), "-1");
    lang::StdString text("before");
    EXPECT_EQ(ErrorValue([&] { key_.ReadData("Number", text); }), 9);
    EXPECT_EQ(Text(text), "before");
    EXPECT_EQ(ErrorValue([&] { key_.ReadData("Missing", text); }), 6);
    EXPECT_EQ(Text(text), "before");
}

TEST_F(DataRegistryTest, BinaryIsReadAllTheWay) {
    const std::string stored("\x00\x01\xff\x00key", 6);
    key_.WriteData("SecurityKey", lang::Binary(stored.data(), 6));
    lang::Binary read(nullptr, 0);
    key_.ReadData("SecurityKey", read);
    ASSERT_EQ(read.GetLength(), 6u);
    EXPECT_EQ(std::string(read.GetData(), read.GetLength()), stored);

    key_.WriteData("Empty", lang::Binary("", 0));
    lang::Binary empty("xy", 2);
    key_.ReadData("Empty", empty);
    EXPECT_EQ(empty.GetLength(), 0u);
}

TEST_F(DataRegistryTest, UnknownTypeNameReadsAndWritesNothing) {
    Unknown converter;
    key_.WriteData("Value", converter);
    std::string text;
    EXPECT_EQ(ErrorValue([&] { key_.ReadString("Value", text); }), 6);
    key_.WriteString("Value", "stored");
    key_.ReadData("Value", converter);
    EXPECT_EQ(Text(converter), "untouched");
}

// A converter that claims a type name its class does not have cannot be filled.
class Impostor : public lang::IDataConverter {
public:
    Impostor() : IDataConverter("x") {}
    void GetTypeName(std::string& out) const override { out = "Bool"; }
};

TEST_F(DataRegistryTest, ForeignFailureWhileReadingBecomesARegistryError) {
    key_.WriteBool("Flag", true);
    Impostor converter;
    const auto error = Caught([&] { key_.ReadData("Flag", converter); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Value(), 0);
    EXPECT_STREQ(error->Message(), "CDataRegistry::ReadData() - Unknown error caught.");
}

}  // namespace
