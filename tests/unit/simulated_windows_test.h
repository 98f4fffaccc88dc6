// Fixture for tests against the simulated Windows: a fresh world per test, the lines the
// watchdog writes, and a check after every test that no handle was left open or misused.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "host/watched_application.h"
#include "simulated/simulated_windows.h"

class SimulatedWindowsTest : public ::testing::Test {
protected:
    void SetUp() override { sim::ResetWorld(); }

    void TearDown() override {
        const sim::World& world = sim::TheWorld();
        EXPECT_TRUE(world.openHandles.empty()) << world.openHandles.size() << " handle(s) left open";
        for (const std::string& misuse : world.handleMisuse) ADD_FAILURE() << misuse;
    }

    static sim::World& World() { return sim::TheWorld(); }

    static host::ProcessId StartWatchedApplication() { return sim::StartProcess(watched_application::kImageName); }
    static void PutLog(std::uint64_t size) { sim::PutFile(watched_application::kLogFilePath, size); }
    static void PutWorkFile() { sim::PutFile(u"C:\\Windows\\Temp\\job-17.sql", 512); }

    // Position of the first call of a kind in the call log, or npos.
    static std::size_t FirstCall(sim::HostCall call) {
        const auto& calls = World().calls;
        const auto it = std::find(calls.begin(), calls.end(), call);
        return it == calls.end() ? std::string::npos : std::size_t(it - calls.begin());
    }

    std::ostringstream out;
};
