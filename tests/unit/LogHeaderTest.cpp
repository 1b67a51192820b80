#include <chrono>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <thread>

#include "agent/log/LogHeader.h"
#include "common/sys/CurrentProcess.h"

namespace {

std::string UtcText(std::time_t seconds, const char* format) {
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[64] = {};
    std::strftime(text, sizeof text, format, &utc);
    return text;
}

const std::regex kHeaderForm(R"(\[(\d\d/\d\d/\d\d) (\d\d:\d\d:\d\d)\.(\d{3}) (\d+) (-?\d+)\] )");

TEST(LogHeaderTest, StampsLocalDateTimeMillisecondsTheStampingThreadAndLevel) {
    // Five and a half hours east of UTC: a header in UTC, or with the offset lost, differs.
    // Each test runs in a process of its own, so the zone stays with this one.
    ::setenv("TZ", "XST-05:30", 1);
    ::tzset();
    // The system clock, as the header reads it; time() may lag it by a clock tick.
    const std::time_t before =
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    logging::LogHeader header;
    std::string text;
    std::uint32_t workerId = 0;
    std::thread worker([&] {
        text = header.Stamp(7);
        workerId = sys::CurrentThreadId();
    });
    worker.join();
    const std::time_t after =
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());

    std::smatch parts;
    ASSERT_TRUE(std::regex_match(text, parts, kHeaderForm)) << text;
    ASSERT_GE(header.Seconds(), before);
    ASSERT_LE(header.Seconds(), after);
    const std::time_t local = static_cast<std::time_t>(header.Seconds()) + (5 * 60 + 30) * 60;
    EXPECT_EQ(parts[1], UtcText(local, "%m/%d/%y"));
    EXPECT_EQ(parts[2], UtcText(local, "%H:%M:%S"));
    EXPECT_LT(header.Milliseconds(), 1000);
    EXPECT_EQ(std::stoi(parts[3]), header.Milliseconds());
    EXPECT_NE(workerId, sys::CurrentThreadId());
    EXPECT_EQ(std::stoul(parts[4].str()), workerId);
    EXPECT_EQ(parts[5], "7");
}

}  // namespace
