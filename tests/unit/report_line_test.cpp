#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <sstream>
#include <streambuf>
#include <string>

#include "watchdog/report_line.h"

namespace {

using watchdog::FormatWindowHandle;

std::string Padded(const std::string& digits) { return std::string(sizeof(void*) * 2 - digits.size(), '0') + digits; }

TEST(ReportLineTest, EachLineIsItsTextsThenOneNewline) {
    struct Case {
        const char* name;
        std::function<void(std::ostream&)> write;
        std::string expected;
    };
    const Case cases[] = {
        {"window handle", [](std::ostream& o) { watchdog::ReportWindowHandle(o, 0x1A2B3C); },
         "WinHandle : " + Padded("1A2B3C") + "\n"},
        {"no console window", [](std::ostream& o) { watchdog::ReportWindowHandle(o, 0); },
         "WinHandle : " + Padded("") + "\n"},
        {"relaunch", [](std::ostream& o) { watchdog::ReportRelaunch(o); },
         "Process didn't run, need to relaunch it !\n"},
        {"process running", [](std::ostream& o) { watchdog::ReportProcessRunning(o, 4294967295u); },
         "Process run. PID : 4294967295\n"},
        {"work file", [](std::ostream& o) { watchdog::ReportSqlFileFound(o); }, "SQL file found, assuming working.\n"},
        {"log growth beyond 4 GiB",
         [](std::ostream& o) { watchdog::ReportLogGrowth(o, 0, std::numeric_limits<std::uint64_t>::max()); },
         "Log file still touch, old size : 0 new size : 18446744073709551615\n"},
        {"killing", [](std::ostream& o) { watchdog::ReportKilling(o, 1234567); }, "Killing 1234567\n"},
        {"error code", [](std::ostream& o) { watchdog::ReportErrorCode(o, 4294967295u); }, "4294967295\n"},
        {"error code zero", [](std::ostream& o) { watchdog::ReportErrorCode(o, 0); }, "0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream out;
        c.write(out);
        EXPECT_EQ(out.str(), c.expected);
    }
}

TEST(ReportLineTest, WindowHandleIsZeroFilledUppercaseHexOneDigitPerNibble) {
    struct Case {
        const char* name;
        host::WindowHandle handle;
        std::string expected;
    };
    const Case cases[] = {
        {"null", 0, Padded("")},
        {"one digit", 0xA, Padded("A")},
        {"all letters", 0xABCDEF, Padded("ABCDEF")},
        {"every bit", std::numeric_limits<host::WindowHandle>::max(), std::string(sizeof(void*) * 2, 'F')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatWindowHandle(c.handle), c.expected);
    }
}

TEST(ReportLineTest, FileSizeJoinsBothHalves) {
    EXPECT_EQ(watchdog::FileSizeBytes({5, 0}), 5u);
    EXPECT_EQ(watchdog::FileSizeBytes({0, 1}), 4294967296u);
    EXPECT_EQ(watchdog::FileSizeBytes({0xFFFFFFFF, 0xFFFFFFFF}), std::numeric_limits<std::uint64_t>::max());
}

// Counts what reaches the device: characters, and flushes.
class CountingBuffer : public std::streambuf {
public:
    int flushes = 0;
    std::string written;

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) written.push_back(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    int sync() override {
        ++flushes;
        return 0;
    }
};

TEST(ReportLineTest, EveryLineIsFlushedWhenWritten) {
    CountingBuffer device;
    std::ostream out(&device);
    watchdog::ReportProcessRunning(out, 42);
    EXPECT_EQ(device.flushes, 1);
    EXPECT_EQ(device.written, "Process run. PID : 42\n");
    watchdog::ReportSqlFileFound(out);
    EXPECT_EQ(device.flushes, 2);
}

}  // namespace
