#!/usr/bin/env python3
r"""Long runs of the real watchdog under wine64: a test build with a pause of a few ms.

  wine_soak.py --soak --cycles 10000 --sample-every 500 ...
      The stand-in works (a work file, then a growing log) and hangs in turn, so it is killed
      and relaunched again and again. Every few hundred cycles sample_process.exe samples the
      watchdog's handles, working set and private memory; after warm-up they must stay flat.
  wine_soak.py --cycle-cost --cycles 3000 ...
      The CPU time one cycle of the watchdog takes over many cycles, on the working path with
      both searches, beside cycle_floor.exe, which makes only the Windows calls a cycle needs
      and reads its own GetProcessTimes, in the same prefix with the same processes and pause.
"""
import argparse
import os
import re
import subprocess
import sys
import threading
import time

from wine_world import INSTALLED, LOG_FILE, Failure, add_wine_arguments, make_base_prefix, run_in_world

WORK_FILE = "batch.sql"
BLOCK = 500  # cycles: a work file for the first half, a growing log up to IDLE_FROM, then idle
IDLE_FROM = 490

# A soak fails when the figures after warm-up grow by more than this over the run: a handle or
# a few bytes kept per cycle would pass these within a few hundred cycles. A sample may catch a
# step holding its one handle (snapshot, search or process): hence one handle of slack.
MAX_HANDLE_GROWTH = 1
MAX_PRIVATE_GROWTH = 128 * 1024
MAX_WORKING_SET_GROWTH = 512 * 1024
WARM_UP_CYCLES = 1000


class CycleReader:
    """Follows the watchdog's lines and checks that each cycle wrote one of the shapes it can."""

    def __init__(self, world):
        self.world = world
        self.cycles = 0
        self.kills = 0
        self.launches = 0
        self.pending = []

    def read(self):
        for line in self.world.new_lines():
            self.pending.append(line)
            if self.cycle_complete():
                self.cycles += 1
                self.pending = []

    def cycle_complete(self):
        p = self.pending
        if p[0] == "Process didn't run, need to relaunch it !":
            self.launches += 1
            return True
        running = re.fullmatch(r"Process run\. PID : (\d+)", p[0])
        if not running:
            raise Failure(f"unexpected line {p[0]!r}")
        if len(p) == 1:
            return False
        if p[1] == "SQL file found, assuming working.":
            return len(p) == 2
        grew = re.fullmatch(r"Log file still touch, old size : (\d+) new size : (\d+)", p[1])
        if grew and grew.group(1) != grew.group(2):
            return True
        if p[1] != f"Killing {running.group(1)}":
            raise Failure(f"unexpected lines {p!r}")
        if len(p) == 3:
            if not p[2].isdigit():
                raise Failure(f"no error code after the kill: {p!r}")
            self.kills += 1
            return True
        return False

    def until(self, cycles):
        while self.cycles < cycles:
            self.read()


def sample(args, world):
    result = subprocess.run([args.wine64, args.sample_process, "watchdog.exe"], env=world.env, capture_output=True,
                            text=True, timeout=60)
    if result.returncode != 0:
        raise Failure("sample_process found no watchdog.exe")
    return {key: int(value) for key, value in (field.split("=") for field in result.stdout.split())}


class LogWriter(threading.Thread):
    """Appends to the log faster than the watchdog cycles, while growing is set."""

    def __init__(self, world, interval):
        super().__init__(daemon=True)
        self.path = os.path.join(world.temp, LOG_FILE)
        self.interval = interval
        self.growing = threading.Event()
        self.stopped = False

    def run(self):
        while not self.stopped:
            if self.growing.is_set():
                try:
                    with open(self.path, "ab") as log:
                        log.write(b".")
                except OSError:  # the prefix is going away
                    return
            time.sleep(self.interval)


def soak(args, world):
    work_file = os.path.join(world.temp, WORK_FILE)
    writer = LogWriter(world, 0.0005)
    writer.start()
    open(work_file, "w").close()
    world.start_watchdog()
    reader = CycleReader(world)
    samples = [dict(sample(args, world), cycle=0)]
    next_sample = args.sample_every
    started = time.monotonic()
    phase = "work file"
    while reader.cycles < args.cycles:
        reader.read()
        position = reader.cycles % BLOCK
        wanted = "work file" if position < BLOCK // 2 else "log" if position < IDLE_FROM else "idle"
        if wanted != phase:
            phase = wanted
            if phase == "work file":
                open(work_file, "w").close()
            elif phase == "log":
                os.remove(work_file)
                writer.growing.set()
            else:
                writer.growing.clear()
        if reader.cycles >= next_sample:
            samples.append(dict(sample(args, world), cycle=reader.cycles))
            next_sample += args.sample_every
            copies = len(world.unix_processes("Tessavine.exe"))
            if copies > 1:
                raise Failure(f"{copies} copies of the application run at cycle {reader.cycles}")
    elapsed = time.monotonic() - started
    writer.stopped = True

    print(f"{reader.cycles} cycles in {elapsed:.0f} s: {reader.launches} launch lines, {reader.kills} kills")
    columns = ("cycle", "listed_handles", "handles", "working_set", "committed_private", "private")
    print(" ".join(f"{c:>17}" for c in columns))
    for s in samples:
        print(" ".join(f"{s[c]:>17}" for c in columns))
    if reader.kills == 0 or reader.launches < 2:
        raise Failure("the application was never killed and relaunched")
    settled = [s for s in samples if s["cycle"] >= min(WARM_UP_CYCLES, args.cycles // 2)]
    first, last = settled[0], samples[-1]
    # GetProcessHandleCount and PrivateUsage answer 0 under Wine: the bounds hold the listed
    # handles and the committed private regions, which it does report.
    for key, bound in (("listed_handles", MAX_HANDLE_GROWTH), ("committed_private", MAX_PRIVATE_GROWTH),
                       ("working_set", MAX_WORKING_SET_GROWTH)):
        growth = max(s[key] for s in settled) - first[key]
        print(f"{key}: {first[key]} at cycle {first['cycle']}, {last[key]} at cycle {last['cycle']}, "
              f"largest growth {growth} (bound {bound})")
        if growth > bound:
            raise Failure(f"{key} grew by {growth} after warm-up")


def cycle_cost(args, world):
    world.run_stand_in(INSTALLED, "measured")
    writer = LogWriter(world, 0.0005)
    writer.growing.set()
    writer.start()
    world.start_watchdog()
    reader = CycleReader(world)
    reader.until(50)
    start_up = sample(args, world)
    reader.until(300)

    # Wine answers GetProcessTimes for another process with figures that even go backwards; for
    # the calling process it gives the Linux process's own CPU time. So the floor reads its own
    # GetProcessTimes and the watchdog is read where Wine keeps that same count, in /proc.
    def cpu_at_cycle():
        before = reader.cycles
        cpu = world.watchdog_cpu_seconds()
        reader.read()
        return (before + reader.cycles) / 2, cpu

    cycle_a, cpu_a = cpu_at_cycle()
    kills_before = reader.kills
    reader.until(reader.cycles + args.cycles)
    cycle_b, cpu_b = cpu_at_cycle()
    kills = reader.kills - kills_before
    world.watchdog.kill()
    world.watchdog.wait()

    floor = subprocess.run([args.wine64, args.cycle_floor, str(args.cycles), str(args.pause_ms)], env=world.env,
                           capture_output=True, text=True, timeout=600, check=True).stdout
    floor_cost = float(re.search(r"cpu_100ns_per_cycle=([\d.]+)", floor).group(1)) / 10
    writer.stopped = True
    watchdog_cost = (cpu_b - cpu_a) / (cycle_b - cycle_a) * 1e6
    print(f"watchdog after start-up: working set {start_up['working_set']} bytes, committed private "
          f"{start_up['committed_private']} bytes, {start_up['listed_handles']} handles")
    print(f"CPU per cycle over {cycle_b - cycle_a:.0f} cycles (pause {args.pause_ms} ms, {kills} kills): "
          f"watchdog {watchdog_cost:.1f} us, floor {floor_cost:.1f} us, ratio {watchdog_cost / floor_cost:.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    add_wine_arguments(parser)
    parser.add_argument("--sample-process", required=True)
    parser.add_argument("--cycle-floor", required=True)
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--make-base-prefix", action="store_true")
    action.add_argument("--soak", action="store_true")
    action.add_argument("--cycle-cost", action="store_true")
    parser.add_argument("--cycles", type=int, default=10000)
    parser.add_argument("--sample-every", type=int, default=500)
    args = parser.parse_args()
    if args.make_base_prefix:
        make_base_prefix(args)
        return 0
    if args.soak:
        return run_in_world(args, "soak", lambda world: soak(args, world))
    return run_in_world(args, "cycle-cost", lambda world: cycle_cost(args, world))

if __name__ == "__main__":
    sys.exit(main())
