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
import shutil
import subprocess
import sys
import time
import traceback

INSTALLED = r"C:\Program Files\Brisquane\Tessavine.exe"
LOG_FILE = "Tessavine.log"
WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}
GiB = 1 << 30

SCENARIOS = {}


def scenario(function):
    SCENARIOS[function.__name__] = function
    return function


class Failure(Exception):
    pass


def wait_until(what, condition, timeout):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(0.02)


class World:
    """One scenario's private Windows: a Wine prefix, the watchdog's output, the stand-ins."""

    def __init__(self, args, name):
        self.args = args
        self.pause = args.pause_ms / 1000.0
        self.dir = os.path.join(args.work_dir, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.prefix = os.path.join(self.dir, "prefix")
        shutil.copytree(base_prefix(args), self.prefix, symlinks=True)
        self.env = dict(os.environ, WINEPREFIX=self.prefix, **WINE_ENV)
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.temp = self.unix_path(r"C:\Windows\Temp")
        os.makedirs(self.unix_path(r"C:\stand-in"), exist_ok=True)
        self.install(INSTALLED)
        self.out_path = os.path.join(self.dir, "watchdog.out")
        self.cursor = 0
        self.watchdog = None
        self.helpers = []

    # ---- the file system, seen from Linux ----
    def unix_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\", windows_path
        parts = windows_path[3:].split("\\")
        path = self.drive_c
        for part in parts:  # Wine folds case; so must we, to find what it created
            existing = next((e for e in os.listdir(path) if e.lower() == part.lower()), None) if os.path.isdir(path) else None
            path = os.path.join(path, existing or part)
        return path

    def install(self, windows_path):
        target = self.unix_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(self.args.stand_in, target)

    def put_log(self, size):
        with open(os.path.join(self.temp, LOG_FILE), "ab") as log:
            log.truncate(size)  # beyond the end: a sparse file

    def remove(self, name):
        path = os.path.join(self.temp, name)
        if os.path.isdir(path):
            os.rmdir(path)
        elif os.path.exists(path):
            os.remove(path)

    # ---- the watchdog ----
    def start_watchdog(self):
        with open(self.out_path, "wb") as out, open(os.path.join(self.dir, "watchdog.err"), "wb") as err:
            self.watchdog = subprocess.Popen([self.args.wine64, self.args.watchdog], stdin=subprocess.DEVNULL,
                                             stdout=out, stderr=err, env=self.env, cwd=self.dir)
        self.expect(re.compile(r"WinHandle : [0-9A-F]{16}"))

    def next_line(self):
        """The next whole line the watchdog wrote, without its CR LF."""
        def complete_line():
            if self.watchdog.poll() is not None:
                raise Failure(f"the watchdog ended with exit code {self.watchdog.returncode}")
            with open(self.out_path, "rb") as out:
                out.seek(self.cursor)
                data = out.read(4096)
            end = data.find(b"\n")
            return data[:end + 1] if end >= 0 else None
        raw = wait_until("the watchdog's next line", complete_line, timeout=3 * self.pause + 20)
        self.cursor += len(raw)
        if not raw.endswith(b"\r\n") or b"\r" in raw[:-2]:
            raise Failure(f"line not ended by exactly CR LF: {raw!r}")
        return raw[:-2].decode("ascii")

    def expect(self, *expected_lines):
        """The next lines, each equal to a text or fully matching a compiled pattern."""
        matches = []
        for expected in expected_lines:
            line = self.next_line()
            if isinstance(expected, re.Pattern):
                match = expected.fullmatch(line)
                if not match:
                    raise Failure(f"line {line!r} does not match {expected.pattern!r}")
                matches.append(match)
            elif line != expected:
                raise Failure(f"line {line!r}, expected {expected!r}")
        return matches

    def expect_running(self, pid):
        self.expect(f"Process run. PID : {pid}")

    def expect_kill(self, pid, error_code=0):
        self.expect(f"Process run. PID : {pid}", f"Killing {pid}", str(error_code))

    def expect_relaunch(self):
        self.expect("Process didn't run, need to relaunch it !")

    def settle(self):
        """Right after a cycle's last line: lets the next lookup finish before the world changes."""
        time.sleep(min(0.4, self.pause / 4))

    # ---- stand-ins ----
    def run_stand_in(self, windows_path, tag):
        """Starts a stand-in through run_and_wait; returns its Windows process id once it runs."""
        record = self.unix_path(rf"C:\stand-in\record-{tag}.txt")
        self.helpers.append(subprocess.Popen(
            [self.args.wine64, self.args.run_and_wait, rf"C:\stand-in\record-{tag}.txt", windows_path],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env))
        pid = int(wait_until(f"stand-in {tag} to start", lambda: self.record(tag).get("pid"), timeout=30))
        wait_until(f"stand-in {tag} to record its start", lambda: any(s["pid"] == pid for s in self.starts()),
                   timeout=30)
        return pid

    def record(self, tag):
        try:
            with open(self.unix_path(rf"C:\stand-in\record-{tag}.txt")) as record:
                return dict(line.strip().split("=", 1) for line in record if "=" in line)
        except FileNotFoundError:
            return {}

    def exit_code(self, tag, timeout=15):
        return int(wait_until(f"stand-in {tag} to end", lambda: self.record(tag).get("exit"), timeout))

    def starts(self):
        try:
            with open(self.unix_path(r"C:\stand-in\starts.txt"), encoding="utf-8") as starts:
                lines = starts.read().splitlines()
        except FileNotFoundError:
            return []
        entries = [dict(field.split("=", 1) for field in line.split("|")) for line in lines]
        for entry in entries:
            entry["pid"] = int(entry["pid"])
        return entries

    def stop_stand_in(self, pid):
        open(self.unix_path(rf"C:\stand-in\stop-{pid}"), "w").close()

    def unix_processes(self, image_name):
        """Linux processes of this prefix whose Windows executable is named image_name."""
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/environ", "rb") as environ:
                    if b"WINEPREFIX=" + self.prefix.encode() + b"\0" not in environ.read():
                        continue
                with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                    program = cmdline.read().split(b"\0")[0].decode(errors="replace")
            except OSError:
                continue
            if program.replace("/", "\\").split("\\")[-1].lower() == image_name.lower():
                found.append(int(entry))
        return found

    def expect_gone(self, image_name):
        wait_until(f"no {image_name} to be left", lambda: not self.unix_processes(image_name), timeout=10)

    def close(self):
        subprocess.run([wineserver(self.args), "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        for process in [self.watchdog] + self.helpers:
            if process:
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
        shutil.rmtree(self.prefix, ignore_errors=True)


def wineserver(args):
    return os.path.join(os.path.dirname(args.wine64), "wineserver")


def base_prefix(args):
    return os.path.join(args.work_dir, "base-prefix")


def make_base_prefix(args):
    prefix = base_prefix(args)
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(args.work_dir, exist_ok=True)
    env = dict(os.environ, WINEPREFIX=prefix, **WINE_ENV)
    subprocess.run([args.wine64, "wineboot", "-i"], env=env, check=True, timeout=150,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([wineserver(args), "-w"], env=env, check=True, timeout=60)
    print(f"base prefix ready in {prefix}")


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


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--make-base-prefix", action="store_true")
    parser.add_argument("--scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--wine64")
    parser.add_argument("--work-dir")
    parser.add_argument("--watchdog")
    parser.add_argument("--stand-in")
    parser.add_argument("--run-and-wait")
    parser.add_argument("--pause-ms", type=int)
    args = parser.parse_args()
    if args.list:
        print("\n".join(SCENARIOS))
        return 0
    if args.make_base_prefix:
        make_base_prefix(args)
        return 0
    if args.pause_ms is None or args.pause_ms < 1000:
        parser.error("the end-to-end scenarios need a test build with a pause of at least 1000 ms")
    world = World(args, args.scenario)
    started = time.monotonic()
    try:
        SCENARIOS[args.scenario](world)
    except Exception as failure:  # report and clean up, whatever went wrong
        print(f"FAILED {args.scenario}: {failure}", file=sys.stderr)
        if not isinstance(failure, Failure):
            traceback.print_exc()
        with open(world.out_path, "rb") as out:
            print(f"watchdog output so far:\n{out.read().decode(errors='replace')}", file=sys.stderr)
        return 1
    finally:
        world.close()
    print(f"passed {args.scenario} in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
