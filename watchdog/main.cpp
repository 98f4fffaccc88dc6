// The watchdog's entry. It takes no arguments and never returns: it runs until something
// outside terminates it.
#include <iostream>

#include "watchdog/supervision_cycle.h"

int main() {
    watchdog::StartUp(std::cout);
    watchdog::LogSizeBaseline baseline{};
    for (;;) watchdog::RunSupervisionCycle(baseline, std::cout);
}
