// Months of supervision against the simulated Windows, in seconds: the watched application
// starts, hangs, ends and is replaced at random, its work files and log change at random, and
// every host call fails now and then. Seeded, so a failure can be replayed.
//
//   watchdog_soak [--cycles N] [--seed S]     (default: 1 000 000 cycles, a random seed)
//
// After every cycle: no handle open, one pause of the cycle length, the lines in one of the
// shapes a cycle can write, no termination of a process that was not Tessavine, no launch
// beside a running copy (unless that cycle's process snapshot was made to fail: then the
// platform itself hid the copy). At the end, with the faults gone, the loop still supervises.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/watched_application.h"
#include "simulated/simulated_windows.h"
#include "watchdog/supervision_cycle.h"

namespace {

using sim::HostCall;

const std::u16string kTemp = u"C:\\Windows\\Temp";
const std::u16string kWorkFile = u"C:\\Windows\\Temp\\batch.sql";
const std::u16string kOtherPrograms[] = {u"svchost.exe", u"explorer.exe", u"Tessavine2.exe", u"TESSAVINE.EXE.old"};

struct Tally {
    std::uint64_t launches = 0, kills = 0, leftAlone = 0, refusedOpens = 0, injectedFaults = 0, lines = 0;
};

class Soak {
public:
    explicit Soak(std::uint64_t seed) : random_(seed) {}

    bool Run(std::uint64_t cycles) {
        sim::ResetWorld();
        sim::World& world = sim::TheWorld();
        world.failWith = [this](HostCall call) { return InjectedFault(call); };
        world.duringPause = [this] { ChangeTheWorld(); };

        watchdog::LogSizeBaseline baseline{};
        std::ostringstream out;
        watchdog::StartUp(out);
        out.str("");
        for (std::uint64_t cycle = 1; cycle <= cycles; ++cycle) {
            snapshotFaultThisCycle_ = false;
            watchdog::RunSupervisionCycle(baseline, out);
            if (!CheckCycle(cycle, out.str())) return false;
            out.str("");
            world.calls.clear();
            world.pauses.clear();
            world.terminations.clear();
            world.launchRequests.clear();
            world.launchedProcesses.clear();
        }
        return CheckStillSupervising(baseline);
    }

    const Tally& tally() const { return tally_; }

private:
    bool Chance(double probability) { return std::bernoulli_distribution(probability)(random_); }
    std::size_t Pick(std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_); }

    host::ErrorCode InjectedFault(HostCall call) {
        if (!Chance(0.01)) return 0;
        ++tally_.injectedFaults;
        if (call == HostCall::CreateSnapshot || call == HostCall::FirstProcessEntry ||
            call == HostCall::NextProcessEntry)
            snapshotFaultThisCycle_ = true;
        static const host::ErrorCode kCodes[] = {2, 3, 5, 6, 87, 1117};
        return kCodes[Pick(std::size(kCodes))];
    }

    // What may happen while the watchdog waits.
    void ChangeTheWorld() {
        sim::World& world = sim::TheWorld();
        auto watched = [&]() -> const sim::Process* {
            for (const sim::Process& p : world.processes)
                if (p.exeFile == watched_application::kImageName) return &p;
            return nullptr;
        };
        if (const sim::Process* app = watched()) {
            if (Chance(0.05)) {
                sim::EndProcess(app->id);  // crashed or quit
            } else if (Chance(0.03)) {
                const host::ProcessId id = app->id;  // ended, and its id went to another program
                sim::EndProcess(id);
                sim::StartProcessWithId(id, kOtherPrograms[Pick(std::size(kOtherPrograms))]);
            }
        } else if (Chance(0.05)) {
            sim::StartProcess(watched_application::kImageName);  // started by another hand
        }
        if (world.processes.size() < 40 && Chance(0.1)) sim::StartProcess(kOtherPrograms[Pick(std::size(kOtherPrograms))]);
        if (!world.processes.empty() && Chance(0.08)) {
            const sim::Process& victim = world.processes[Pick(world.processes.size())];
            if (victim.exeFile != watched_application::kImageName) sim::EndProcess(victim.id);
        }

        if (Chance(0.2)) {
            if (Chance(0.5)) sim::PutFile(kWorkFile, 0); else sim::RemoveFile(kWorkFile);
        }
        if (Chance(0.3)) {
            switch (Pick(5)) {
                case 0: sim::RemoveFile(watched_application::kLogFilePath); break;
                case 1: sim::PutFile(watched_application::kLogFilePath, 0); break;
                case 2: sim::PutFile(watched_application::kLogFilePath, (std::uint64_t(Pick(4)) << 32) | Pick(1000)); break;
                default: sim::PutFile(watched_application::kLogFilePath, Pick(1u << 20)); break;
            }
        }
        if (Chance(0.002)) {
            const bool present = std::find(world.directories.begin(), world.directories.end(), kTemp) != world.directories.end();
            if (present) sim::RemoveDirectoryTree(kTemp); else world.directories.push_back(kTemp);
        }
        const bool installed = world.files.count(u"c:\\program files\\brisquane\\tessavine.exe") != 0;
        if (installed && Chance(0.002)) sim::RemoveFile(watched_application::kInstalledExecutable);
        if (!installed && Chance(0.2)) sim::PutFile(watched_application::kInstalledExecutable, 40960);
    }

    bool Fail(std::uint64_t cycle, const std::string& what, const std::string& lines) {
        std::fprintf(stderr, "cycle %" PRIu64 ": %s\nlines of that cycle:\n%s", cycle, what.c_str(), lines.c_str());
        return false;
    }

    // The digits that follow prefix when they make up the rest of the line, else "".
    static std::string NumberAfter(const std::string& line, const std::string& prefix) {
        if (line.compare(0, prefix.size(), prefix) != 0 || line.size() == prefix.size()) return "";
        const std::string digits = line.substr(prefix.size());
        return digits.find_first_not_of("0123456789") == std::string::npos ? digits : "";
    }

    static std::vector<std::string> SplitLines(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        if (start != text.size()) lines.push_back(text.substr(start) + " (no end of line)");
        return lines;
    }

    bool CheckCycle(std::uint64_t cycle, const std::string& text) {
        const sim::World& world = sim::TheWorld();
        const std::vector<std::string> lines = SplitLines(text);
        const std::string pid = lines.empty() ? "" : NumberAfter(lines[0], "Process run. PID : ");
        const std::string logPrefix = "Log file still touch, old size : ";
        if (lines.size() == 1 && lines[0] == "Process didn't run, need to relaunch it !") {
            tally_.launches += world.launchRequests.size();
        } else if (lines.size() == 2 && !pid.empty() && lines[1] == "SQL file found, assuming working.") {
            ++tally_.leftAlone;
        } else if (lines.size() == 2 && !pid.empty() && lines[1].compare(0, logPrefix.size(), logPrefix) == 0) {
            const std::size_t separator = lines[1].find(" new size : ");
            const std::string oldSize = NumberAfter(lines[1].substr(0, separator), logPrefix);
            const std::string newSize = separator == std::string::npos ? "" : NumberAfter(lines[1].substr(separator), " new size : ");
            if (oldSize.empty() || newSize.empty()) return Fail(cycle, "malformed log line", text);
            if (oldSize == newSize) return Fail(cycle, "log line without a change", text);
            ++tally_.leftAlone;
        } else if (lines.size() == 3 && !pid.empty() && NumberAfter(lines[1], "Killing ") == pid &&
                   !NumberAfter(lines[2], "").empty()) {
            if (lines[2] != "0") ++tally_.refusedOpens;
        } else {
            return Fail(cycle, "lines in no shape a cycle writes", text);
        }
        tally_.lines += lines.size();

        if (!world.openHandles.empty()) return Fail(cycle, std::to_string(world.openHandles.size()) + " handle(s) left open", text);
        if (!world.handleMisuse.empty()) return Fail(cycle, world.handleMisuse.front(), text);
        if (world.pauses.size() != 1 || world.pauses[0] != watchdog::kCyclePauseMs) return Fail(cycle, "not one pause", text);
        for (const sim::Termination& t : world.terminations) {
            if (t.exeFile != watched_application::kImageName) return Fail(cycle, "terminated a process that is not Tessavine", text);
            if (t.exitCode != watched_application::kTerminationExitCode) return Fail(cycle, "exit code not 1", text);
            ++tally_.kills;
        }
        if (world.launchesBesideARunningCopy != 0 && !snapshotFaultThisCycle_)
            return Fail(cycle, "launched a second copy", text);
        sim::TheWorld().launchesBesideARunningCopy = 0;
        return true;
    }

    // Faults gone, application gone: the very next cycle must launch it.
    bool CheckStillSupervising(watchdog::LogSizeBaseline& baseline) {
        sim::World& world = sim::TheWorld();
        world.failWith = nullptr;
        world.duringPause = nullptr;
        for (const sim::Process& p : std::vector<sim::Process>(world.processes))
            if (p.exeFile == watched_application::kImageName) sim::EndProcess(p.id);
        sim::PutFile(watched_application::kInstalledExecutable, 40960);
        std::ostringstream out;
        watchdog::RunSupervisionCycle(baseline, out);
        if (out.str() != "Process didn't run, need to relaunch it !\n" || world.launchedProcesses.size() != 1) {
            std::fprintf(stderr, "after the soak the cycle no longer launches the application:\n%s", out.str().c_str());
            return false;
        }
        return world.openHandles.empty();
    }

    std::mt19937_64 random_;
    bool snapshotFaultThisCycle_ = false;
    Tally tally_;
};

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t cycles = 1000000;
    std::uint64_t seed = std::random_device{}();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--cycles") == 0) cycles = std::strtoull(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 10);
    }
    std::printf("soak: %" PRIu64 " cycles, seed %" PRIu64 " (replay with --seed %" PRIu64 ")\n", cycles, seed, seed);
    std::fflush(stdout);

    Soak soak(seed);
    const bool passed = soak.Run(cycles);
    const Tally& t = soak.tally();
    std::printf("soak: %" PRIu64 " launches, %" PRIu64 " kills, %" PRIu64 " cycles left alone, %" PRIu64
                " refused or failed opens, %" PRIu64 " injected faults, %" PRIu64 " lines\n",
                t.launches, t.kills, t.leftAlone, t.refusedOpens, t.injectedFaults, t.lines);
    std::printf("soak: %s\n", passed ? "passed" : "FAILED");
    return passed ? 0 : 1;
}
