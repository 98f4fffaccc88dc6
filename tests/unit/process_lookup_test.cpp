#include <string>

#include "simulated_windows_test.h"
#include "watchdog/process_lookup.h"

namespace {

using sim::HostCall;

class ProcessLookupTest : public SimulatedWindowsTest {};

TEST_F(ProcessLookupTest, MatchesTheImageNameWithAsciiLettersFoldedOnly) {
    struct Case {
        const char* name;
        std::u16string exeFile;
        bool matches;
    };
    const Case cases[] = {
        {"as installed", u"Tessavine.exe", true},
        {"capitals", u"TESSAVINE.EXE", true},
        {"small letters", u"tessavine.exe", true},
        {"mixed case", u"tEsSaViNe.ExE", true},
        {"something before", u"xTessavine.exe", false},
        {"something after", u"Tessavine.exe.bak", false},
        {"trailing space", u"Tessavine.exe ", false},
        {"no extension", u"Tessavine", false},
        {"prefix of the name", u"Tessavine.ex", false},
        {"empty", u"", false},
        {"dotless i U+0131", u"Tessav\u0131ne.exe", false},
        {"dotted capital I U+0130", u"TESSAV\u0130NE.EXE", false},
        {"fullwidth T U+FF34", u"\uFF34essavine.exe", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ResetWorld();
        sim::StartProcess(u"System");
        const host::ProcessId id = sim::StartProcess(c.exeFile);
        sim::StartProcess(u"explorer.exe");

        host::ProcessId found = 4242;
        EXPECT_EQ(watchdog::FindWatchedProcess(found), c.matches);
        EXPECT_EQ(found, c.matches ? id : 4242u);
    }
}

TEST_F(ProcessLookupTest, NameWithoutTerminatorWithinTheFieldDoesNotMatch) {
    char16_t field[host::kExeFileNameLength];
    std::fill(std::begin(field), std::end(field), u'T');
    EXPECT_FALSE(watchdog::IsWatchedImageName(field));
}

TEST_F(ProcessLookupTest, LastMatchInSnapshotOrderWins) {
    sim::StartProcessWithId(508, u"Tessavine.exe");
    sim::StartProcessWithId(16, u"svchost.exe");
    sim::StartProcessWithId(2200, u"TESSAVINE.EXE");
    sim::StartProcessWithId(96, u"notepad.exe");

    host::ProcessId found = 0;
    EXPECT_TRUE(watchdog::FindWatchedProcess(found));
    EXPECT_EQ(found, 2200u);
}

TEST_F(ProcessLookupTest, FirstEntryIsExaminedToo) {
    sim::StartProcessWithId(4, u"Tessavine.exe");
    host::ProcessId found = 0;
    EXPECT_TRUE(watchdog::FindWatchedProcess(found));
    EXPECT_EQ(found, 4u);
}

TEST_F(ProcessLookupTest, SnapshotThatCannotBeTakenOrReadMeansAbsent) {
    for (HostCall failing : {HostCall::CreateSnapshot, HostCall::FirstProcessEntry}) {
        SCOPED_TRACE(sim::HostCallName(failing));
        sim::ResetWorld();
        StartWatchedApplication();
        World().failWith = [failing](HostCall call) { return call == failing ? sim::kErrorAccessDenied : 0u; };

        host::ProcessId found = 4242;
        EXPECT_FALSE(watchdog::FindWatchedProcess(found));
        EXPECT_EQ(found, 4242u);
        EXPECT_TRUE(World().openHandles.empty());
    }
}

TEST_F(ProcessLookupTest, ConfirmsAnIdOnlyUnderTheWatchedName) {
    sim::StartProcessWithId(700, u"Tessavine.exe");
    sim::StartProcessWithId(800, u"notepad.exe");
    EXPECT_TRUE(watchdog::IsWatchedProcessId(700));
    EXPECT_FALSE(watchdog::IsWatchedProcessId(800));
    EXPECT_FALSE(watchdog::IsWatchedProcessId(900));
}

}  // namespace
