#include <chrono>
#include <ctime>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <thread>
#include <utility>

#include "agent/log/LogHeader.h"
#include "common/sys/CurrentProcess.h"
#include "tests/support/Environment.h"

namespace {

// The date and the time of day of a moment counted in seconds, as the header writes them.
std::pair<std::string, std::string> DateAndTime(std::time_t seconds) {
    const std::tm* moment = std::gmtime(&seconds);
    char date[16], time[16];
    std::strftime(date, sizeof date, "%m/%d/%y", moment);
    std::strftime(time, sizeof time, "%H:%M:%S", moment);
    return {date, time};
}

const std::regex kHeaderForm(R"(\[(\d\d/\d\d/\d\d) (\d\d:\d\d:\d\d)\.(\d{3}) (\d+) (-?\d+)\] )");

TEST(LogHeaderTest, StampsLocalDateTimeMillisecondsTheStampingThreadAndLevel) {
    // Five and a half hours east of UTC: a header in UTC, or with the offset lost, differs.
    // Each test runs in a process of its own, so the zone stays with this one.
    testsupport::UseTimeZone("XST-05:30");
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
    EXPECT_EQ(std::make_pair(parts[1].str(), parts[2].str()), DateAndTime(local));
    EXPECT_LT(header.Milliseconds(), 1000);
    EXPECT_EQ(std::stoi(parts[3]), header.Milliseconds());
    EXPECT_NE(workerId, sys::CurrentThreadId());
    EXPECT_EQ(std::stoul(parts[4].str()), workerId);
    EXPECT_EQ(parts[5], "7");
}

}  // namespace
