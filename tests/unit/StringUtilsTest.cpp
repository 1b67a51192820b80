#include <gtest/gtest.h>
#include <string>

#include "common/util/StringUtils.h"

namespace {

TEST(StringUtils, FormatHasNoLengthLimit) {
    EXPECT_EQ(util::Format("%s:%d - %s", "bootstrap", 431, "ok"), "bootstrap:431 - ok");
    const std::string longText(100000, 'x');
    EXPECT_EQ(util::Format("[%s]", longText.c_str()), "[" + longText + "]");
    EXPECT_EQ(util::Format(nullptr), "");
}

TEST(StringUtils, CaseBlindComparisonAndQuotesAndSeparators) {
    EXPECT_EQ(util::ToUpper("LogFile-1\xc3\xa9"), "LOGFILE-1\xc3\xa9");
    EXPECT_EQ(util::CompareNoCase("reboot", "REBOOT"), 0);
    EXPECT_EQ(util::CompareNoCase("abc", "ABD"), -1);
    EXPECT_EQ(util::CompareNoCase("ab", "abc"), -1);
    EXPECT_EQ(util::CompareNoCase("\xe9", "a"), 1) << "bytes compare as unsigned";
    for (auto [text, expected] : {std::pair<std::string, std::string>{"\"\"a\"\"", "\"a\""},
                                  {"\"", ""},
                                  {"plain", "plain"},
                                  {"tail\"", "tail"}}) {
        util::StripQuotes(text);
        EXPECT_EQ(text, expected);
    }
    EXPECT_TRUE(util::EndsWithSeparator("C:\\"));
    EXPECT_TRUE(util::EndsWithSeparator("/opt/corvane/"));
    EXPECT_FALSE(util::EndsWithSeparator("/opt/corvane"));
    EXPECT_FALSE(util::EndsWithSeparator(""));
}

}  // namespace
