#!/usr/bin/env python3
"""Times one program of two builds side by side: for each count, `runs`
rounds, each running the old build and the new one back to back (the order
alternating by round), and prints the medians of their CPU times (from
wait4) and peak memory (from GNU time, whose own process is small), with
new / old; bytes a cell count the peak beyond the same program's at N = 0
(its code and libraries). Meant for a quiet machine, or one stream per core with
--cpu. --startup times short runs, where a millisecond of start-up counts:
each program is started directly, not under GNU time, and no peak is
taken; the medians get their spreads (lowest to highest quartile).

  compare-builds.py OLD_BUILD NEW_BUILD PROGRAM --counts "150000 200000" [--runs 5] [--cpu N] [--startup]
"""
import argparse
import os
import statistics
import subprocess
import sys


def timed(binary, count, cpu, startup=False):
    if startup:
        command = [binary, str(count)]
        if cpu is not None:
            command = ["taskset", "-c", str(cpu)] + command
        pid = os.posix_spawn(command[0] if cpu is None else "/usr/bin/taskset", command, os.environ)
        _, status, usage = os.wait4(pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"{binary} {count} failed")
        return usage.ru_utime + usage.ru_stime, 0
    command = ["/usr/bin/time", "-f", "%M", binary, str(count)]
    if cpu is not None:
        command = ["taskset", "-c", str(cpu)] + command
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    peak_kb = int(process.stderr.read().decode().split()[-1])
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{binary} {count} failed")
    return usage.ru_utime + usage.ru_stime, peak_kb


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("program")
    parser.add_argument("--counts", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--cpu", type=int)
    parser.add_argument("--startup", action="store_true")
    arguments = parser.parse_args()
    builds = {"old": arguments.old, "new": arguments.new}
    if arguments.startup:
        startuptimes(builds, arguments)
        return
    base = timed(os.path.join(builds["new"], "bin", arguments.program), 0, arguments.cpu)[1]
    print(f"| N | {arguments.program} old | new | new / old speed | old peak | new peak | new bytes a cell |")
    print("| --- | --- | --- | --- | --- | --- | --- |")
    for count in [int(c) for c in arguments.counts.split()]:
        seconds = {"old": [], "new": []}
        peaks = {"old": [], "new": []}
        for round_ in range(arguments.runs):
            order = ["old", "new"] if round_ % 2 == 0 else ["new", "old"]
            for which in order:
                binary = os.path.join(builds[which], "bin", arguments.program)
                cpu_seconds, peak_kb = timed(binary, count, arguments.cpu)
                seconds[which].append(cpu_seconds)
                peaks[which].append(peak_kb)
                print(f"  {which} N={count}: {cpu_seconds:.3f} s, {peak_kb} KB", file=sys.stderr, flush=True)
        old, new = statistics.median(seconds["old"]), statistics.median(seconds["new"])
        oldpeak, newpeak = max(peaks["old"]), max(peaks["new"])
        cells = count * 10 // 3
        print(f"| {count:,} | {old:.2f} s | {new:.2f} s | {old / new:.3f}× | {oldpeak / 1024:.1f} MB "
              f"| {newpeak / 1024:.1f} MB | {(newpeak - base) * 1024 / cells:.1f} |", flush=True)


def quartiles(values):
    q = statistics.quantiles(values, n=4)
    return q[0], statistics.median(values), q[2]


def startuptimes(builds, arguments):
    print(f"| N | {arguments.program} old | new | new / old time | spread of new / old |")
    print("| --- | --- | --- | --- | --- |")
    for count in [int(c) for c in arguments.counts.split()]:
        seconds = {"old": [], "new": []}
        for round_ in range(arguments.runs):
            for which in (["old", "new"] if round_ % 2 == 0 else ["new", "old"]):
                binary = os.path.join(builds[which], "bin", arguments.program)
                seconds[which].append(timed(binary, count, arguments.cpu, startup=True)[0])
        # Each round's pair, so that a drift of the machine meets both.
        ratios = [n / o for n, o in zip(seconds["new"], seconds["old"]) if o > 0]
        low, mid, high = quartiles(ratios)
        old, new = statistics.median(seconds["old"]), statistics.median(seconds["new"])
        print(f"| {count:,} | {old * 1e3:.2f} ms | {new * 1e3:.2f} ms | {mid:.3f}× | {low:.2f} to {high:.2f} |",
              flush=True)


if __name__ == "__main__":
    main()
