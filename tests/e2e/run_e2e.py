#!/usr/bin/env python3
r"""The watchdog on a real Windows API: its x86_64 test build under wine64, beside the stand-in.

Each scenario runs in a private copy of one base Wine prefix, with the watchdog's standard
output redirected to a file that the scenario reads as it grows. Scenarios synchronise on the
lines the watchdog writes, each wait bounded. A cycle writes its lines after its pause, and the
next cycle's lookup follows its last line at once; so a scenario shapes the world (files in
C:\Windows\Temp, stand-in processes) right after the line that ends a cycle, and the change
lands inside the next cycle's pause: before the probes and the action, after the lookup.

  run_e2e.py --make-base-prefix ...    once, before the scenarios
  run_e2e.py --scenario NAME ...       one scenario; every Wine process of it ends with it
  run_e2e.py --list                    the scenarios' names
"""
import argparse
import os
import re
import sys
import time

from wine_world import GiB, INSTALLED, LOG_FILE, Failure, add_wine_arguments, make_base_prefix, run_in_world, wait_until

SCENARIOS = {}


def scenario(function):
    SCENARIOS[function.__name__] = function
    return function


# ---- scenarios: each name says what it shows ----

@scenario
def absent_application_is_launched_from_its_installed_path(w):
    w.start_watchdog()
    w.expect_relaunch()
    (start,) = wait_until("the launched stand-in", lambda: w.starts(), timeout=30)
    if start["path"] != INSTALLED:
        raise Failure(f"launched {start['path']!r}")
    if start["cmdline"].strip() not in (INSTALLED, f'"{INSTALLED}"'):
        raise Failure(f"launched with command line {start['cmdline']!r}: arguments were passed")
    # No log and no work file: the fresh copy is idle, killed, and launched again.
    w.expect_kill(start["pid"])
    w.expect_gone("Tessavine.exe")
    w.expect_relaunch()
    wait_until("the second launch", lambda: len(w.starts()) == 2, timeout=30)


@scenario
def idle_application_is_killed_with_exit_code_1(w):
    pid = w.run_stand_in(INSTALLED, "idle")
    w.put_log(0)  # an empty log is no change from the initial zero
    w.start_watchdog()
    w.expect_kill(pid)
    if w.exit_code("idle") != 1:
        raise Failure(f"killed stand-in exited with {w.record('idle')['exit']}")
    w.expect_gone("Tessavine.exe")
    w.expect_relaunch()


@scenario
def work_file_or_folder_keeps_the_application_alive(w):
    pid = w.run_stand_in(INSTALLED, "worker")
    open(os.path.join(w.temp, "job-1.sql"), "w").close()
    w.start_watchdog()
    for _ in range(2):
        w.expect_running(pid)
        w.expect("SQL file found, assuming working.")
    w.remove("job-1.sql")
    os.mkdir(os.path.join(w.temp, "staging.sql"))
    w.expect_running(pid)
    w.expect("SQL file found, assuming working.")
    w.settle()
    w.remove("staging.sql")
    w.expect_kill(pid)
    if w.exit_code("worker") != 1:
        raise Failure("the kill did not end the stand-in with exit code 1")


@scenario
def log_growth_is_followed_across_cycles(w):
    def log_line(old, new):
        return f"Log file still touch, old size : {old} new size : {new}"

    first = w.run_stand_in(INSTALLED, "first")
    w.put_log(120)
    w.start_watchdog()
    w.expect_running(first)
    w.expect(log_line(0, 120))
    for old, new in [(120, 300), (300, 0), (0, 5 * GiB), (5 * GiB, 9 * GiB)]:  # growth, truncation, beyond 4 GiB,
        w.put_log(new)                                                           # then the high half alone
        w.expect_running(first)
        w.expect(log_line(old, new))
    # Log gone: no change, so the idle application is killed; the baseline stays at 9 GiB.
    w.remove(LOG_FILE)
    w.expect_kill(first)
    w.expect_relaunch()
    (_, second) = wait_until("the launched stand-in", lambda: w.starts()[1:] and w.starts(), timeout=30)
    w.put_log(9 * GiB)  # back with the size of the last look: still no change
    w.expect_kill(second["pid"])
    w.expect_relaunch()
    (_, _, third) = wait_until("the next launch", lambda: w.starts()[2:] and w.starts(), timeout=30)
    w.put_log(9 * GiB + 1)
    w.expect_running(third["pid"])
    w.expect(log_line(9 * GiB, 9 * GiB + 1))


@scenario
def application_ending_during_the_pause_is_reported_and_relaunched(w):
    pid = w.run_stand_in(INSTALLED, "leaver")
    open(os.path.join(w.temp, "job.sql"), "w").close()
    w.start_watchdog()
    w.expect_running(pid)
    w.expect("SQL file found, assuming working.")
    w.settle()  # the next lookup has seen the stand-in; now it ends during the pause
    w.remove("job.sql")
    w.stop_stand_in(pid)
    if w.exit_code("leaver") != 0:
        raise Failure("the stand-in did not end by itself")
    # The old id is reported; the open fails with the code Windows gives for an id no process has.
    w.expect_kill(pid, error_code=87)  # ERROR_INVALID_PARAMETER
    w.expect_relaunch()
    wait_until("the relaunch", lambda: len(w.starts()) == 2, timeout=30)


@scenario
def application_started_during_the_pause_is_not_launched_twice(w):
    w.start_watchdog()  # its first lookup has just found nothing
    w.settle()
    started = time.monotonic()
    pid = w.run_stand_in(INSTALLED, "other-hand")
    if time.monotonic() - started > w.pause * 0.75:
        raise Failure("the stand-in took too long to start to land inside the pause")
    w.expect_relaunch()
    w.put_log(10)
    w.expect_running(pid)
    w.expect("Log file still touch, old size : 0 new size : 10")
    if len(w.starts()) != 1 or len(w.unix_processes("Tessavine.exe")) != 1:
        raise Failure(f"a second copy was launched: {w.starts()}")


@scenario
def copies_are_found_by_file_name_alone_and_killed_one_per_cycle(w):
    installed = w.run_stand_in(INSTALLED, "installed")
    w.install(r"C:\Elsewhere\TESSAVINE.EXE")
    elsewhere = w.run_stand_in(r"C:\Elsewhere\TESSAVINE.EXE", "elsewhere")
    w.install(r"C:\Elsewhere\Tessavine2.exe")
    w.run_stand_in(r"C:\Elsewhere\Tessavine2.exe", "decoy")
    w.start_watchdog()
    (first_kill,) = w.expect(re.compile(r"Process run\. PID : (\d+)"))
    first = int(first_kill.group(1))
    if first not in (installed, elsewhere):
        raise Failure(f"reported process {first}, not a watched copy")
    w.expect(f"Killing {first}", "0")
    second = elsewhere if first == installed else installed
    w.expect_kill(second)
    w.expect_relaunch()
    for tag in ("installed", "elsewhere"):
        if w.exit_code(tag) != 1:
            raise Failure(f"copy {tag} did not end with exit code 1")
    if "exit" in w.record("decoy") or len(w.unix_processes("Tessavine2.exe")) != 1:
        raise Failure("the decoy with another name was touched")


@scenario
def missing_temp_folder_counts_as_work(w):
    pid = w.run_stand_in(INSTALLED, "worker")
    hidden = w.temp + ".away"
    os.rename(w.temp, hidden)
    w.start_watchdog()
    for _ in range(2):
        w.expect_running(pid)
        w.expect("SQL file found, assuming working.")
    w.settle()
    os.rename(hidden, w.temp)
    w.expect_kill(pid)


@scenario
def failing_launch_is_retried_every_cycle(w):
    os.remove(w.unix_path(INSTALLED))
    w.start_watchdog()
    for _ in range(3):
        w.expect_relaunch()
    if w.starts():
        raise Failure("something was launched")


def supervision_goes_on_without_output(w, output):
    """Nothing the watchdog writes can be read: follow it by the stand-ins it launches. With no
    work and no log, each launch is followed by a kill one cycle later and a launch the next."""
    w.start_watchdog(output)
    cycles = 8 * w.pause + 60
    wait_until("two launches", lambda: len(w.starts()) >= 2, timeout=cycles)
    cpu_before, wall_before = w.watchdog_cpu_seconds(), time.monotonic()
    wait_until("two launches more", lambda: len(w.starts()) >= 4, timeout=cycles)
    cpu, wall = w.watchdog_cpu_seconds() - cpu_before, time.monotonic() - wall_before
    if w.watchdog.poll() is not None:
        raise Failure(f"the watchdog ended with exit code {w.watchdog.returncode}")
    if cpu > 0.25 * wall:  # a cycle that no longer waits would take a whole core
        raise Failure(f"the watchdog spins: {cpu:.2f} s of CPU in {wall:.2f} s")
    if len(w.unix_processes("Tessavine.exe")) > 1:
        raise Failure("more than one copy runs")
    print(f"{len(w.starts())} launches; {cpu:.2f} s of CPU in {wall:.1f} s")


@scenario
def output_pipe_whose_reader_exits(w):
    supervision_goes_on_without_output(w, "pipe-then-gone")


@scenario
def output_to_a_full_disk(w):
    supervision_goes_on_without_output(w, "full-disk")


@scenario
def output_handle_closed_before_start(w):
    supervision_goes_on_without_output(w, "closed-handle")


def main():
    if sys.argv[1:] == ["--list"]:  # asked at configure time, with no paths
        print("\n".join(SCENARIOS))
        return 0
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    add_wine_arguments(parser)
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--make-base-prefix", action="store_true")
    action.add_argument("--scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()
    if args.make_base_prefix:
        make_base_prefix(args)
        return 0
    if args.pause_ms < 1000:
        parser.error("the end-to-end scenarios need a test build with a pause of at least 1000 ms")
    return run_in_world(args, args.scenario, SCENARIOS[args.scenario])

if __name__ == "__main__":
    sys.exit(main())
