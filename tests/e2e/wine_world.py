r"""A private Windows under wine64 for the watchdog's end-to-end tests, soaks and measurements.

A World is one copy of a base Wine prefix with the stand-in installed at the watched
application's path, the watchdog's standard output in a file that is read as it grows, and
helpers to shape C:\Windows\Temp and to start, stop and watch stand-in processes. Closing it
ends every Wine process of that prefix.
"""
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


class Failure(Exception):
    pass


def add_wine_arguments(parser):
    """The paths every driver over a World takes."""
    parser.add_argument("--wine64", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--watchdog", required=True)
    parser.add_argument("--stand-in", required=True)
    parser.add_argument("--run-and-wait", required=True)
    parser.add_argument("--pause-ms", type=int, required=True)


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
        for path in ("work_dir", "watchdog", "stand_in", "run_and_wait", "sample_process", "cycle_floor"):
            if getattr(args, path, None):  # Wine starts in the scenario's folder
                setattr(args, path, os.path.abspath(getattr(args, path)))
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
        self.unread = []  # lines read from the file that next_line has not handed out yet
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
    def start_watchdog(self, output="file"):
        """Starts the watchdog with its standard output going to:
        "file"            the output file, read by next_line (waits for the handle line);
        "pipe-then-gone"  a pipe whose reader goes away after the first line;
        "full-disk"       /dev/full, where every write fails;
        "closed-handle"   a standard output handle that was closed before the start."""
        command = [self.args.wine64, self.args.watchdog]
        if output == "closed-handle":
            # Started from a Windows parent, as Windows would give it a dead handle.
            command = [self.args.wine64, self.args.run_and_wait, "--closed-stdout", r"C:\stand-in\record-watchdog.txt",
                       windows_path_of(self.args.watchdog)]
            stdout = subprocess.DEVNULL
        elif output == "pipe-then-gone":
            stdout = subprocess.PIPE
        else:
            stdout = open({"file": self.out_path, "full-disk": "/dev/full"}[output], "wb")
        with open(os.path.join(self.dir, "watchdog.err"), "wb") as err:
            self.watchdog = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=stdout, stderr=err,
                                             env=self.env, cwd=self.dir)
        if output == "pipe-then-gone":
            first = self.watchdog.stdout.readline()
            if not first.startswith(b"WinHandle : "):
                raise Failure(f"first line through the pipe: {first!r}")
            self.watchdog.stdout.close()  # the reader is gone: every later write meets a broken pipe
        elif output != "closed-handle":
            stdout.close()
        if output == "file":
            self.expect(re.compile(r"WinHandle : [0-9A-F]{16}"))

    def watchdog_cpu_seconds(self):
        """CPU time the watchdog's own Linux process has used so far."""
        (pid,) = wait_until("the watchdog's process", lambda: self.unix_processes("watchdog.exe"), timeout=30)
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def next_line(self):
        """The next whole line the watchdog wrote, without its CR LF."""
        if not self.unread:
            self.unread = self.new_lines(timeout=3 * self.pause + 20)
        return self.unread.pop(0)

    def new_lines(self, timeout=30):
        """Every whole line not read yet (at least one), without their CR LF."""
        def whole_lines():
            if self.watchdog.poll() is not None:
                raise Failure(f"the watchdog ended with exit code {self.watchdog.returncode}")
            with open(self.out_path, "rb") as out:
                out.seek(self.cursor)
                data = out.read()
            return data[:data.rfind(b"\n") + 1]
        data = wait_until("the watchdog's next lines", whole_lines, timeout)
        self.cursor += len(data)
        lines = data.split(b"\r\n")[:-1]
        if any(b"\r" in line or b"\n" in line for line in lines) or len(data) != sum(len(line) + 2 for line in lines):
            raise Failure(f"lines not ended by exactly CR LF near {data[:200]!r}")
        fresh, self.unread = self.unread + [line.decode("ascii") for line in lines], []
        return fresh

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


def windows_path_of(unix_path):
    """Wine's Z: drive is the Linux root."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


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




def run_in_world(args, name, body):
    """Runs body(world) in a fresh World; reports, and ends every Wine process of it, whatever
    happens. Returns the exit code for the driver."""
    world = World(args, name)
    started = time.monotonic()
    try:
        body(world)
    except Exception as failure:
        print(f"FAILED {name}: {failure}", file=sys.stderr)
        if not isinstance(failure, Failure):
            traceback.print_exc()
        with open(world.out_path, "rb") as out:
            tail = out.read().decode(errors="replace").splitlines()[-40:]
        print("the watchdog's last lines:", *tail, sep="\n", file=sys.stderr)
        return 1
    finally:
        world.close()
    print(f"passed {name} in {time.monotonic() - started:.1f} s")
    return 0
