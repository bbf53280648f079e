#!/usr/bin/python3
"""How quiet a running process is: CPU, wake-ups and memory over a stretch of time.

    idle_probe.py PID [SECONDS]        (SECONDS defaults to 60)

Prints one line per figure:
    cpu: share of one core, in per cent, from the process's user and system time
    wake-ups: context switches per second, voluntary and involuntary, summed over every
        thread (/proc/PID/task/*/status); threads that ended meanwhile count up to their
        last reading
    threads: at the start and at the end
    rss: resident memory at the end, and its peak (VmHWM) so far
Exit status 0 when both goals hold (cpu <= 0.1 %, wake-ups <= 1/s), 1 when one is missed,
2 when the process could not be read.
"""

import os
import sys
import time

CPU_GOAL = 0.1  # per cent of one core
WAKE_GOAL = 1.0  # per second


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        # The command name may hold spaces; the fields after its closing bracket are fixed.
        fields = stat.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime, stime


def switches(pid):
    """Context switches so far, per thread id."""
    counts = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/status") as status:
                total = 0
                for line in status:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
                counts[tid] = total
        except FileNotFoundError:
            pass  # the thread ended between the listing and the read
    return counts


def memory_kb(pid, key):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def probe(pid, seconds):
    cpu_start, wake_start, started = cpu_seconds(pid), switches(pid), time.monotonic()
    last = dict(wake_start)
    end = started + seconds
    # One look per second keeps threads that end meanwhile in the count, and costs the probe
    # (a process of its own) nothing that shows in the figures of the one it watches.
    while time.monotonic() < end:
        time.sleep(min(1.0, max(0.0, end - time.monotonic())))
        last.update(switches(pid))
    elapsed = time.monotonic() - started
    cpu = 100 * (cpu_seconds(pid) - cpu_start) / elapsed
    wakes = sum(last[tid] - wake_start.get(tid, 0) for tid in last) / elapsed
    threads_end = len(switches(pid))
    return {
        "elapsed": elapsed,
        "cpu": cpu,
        "wakes": wakes,
        "threads": (len(wake_start), threads_end),
        "rss": memory_kb(pid, "VmRSS") / 1024,
        "peak": memory_kb(pid, "VmHWM") / 1024,
        "busiest": busiest(wake_start, last, elapsed, pid),
    }


def busiest(start, end, elapsed, pid):
    """The three threads that woke most, by name, for finding a poller."""
    rates = []
    for tid, count in end.items():
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as comm:
                name = comm.read().strip()
        except FileNotFoundError:
            name = "(ended)"
        rates.append(((count - start.get(tid, 0)) / elapsed, name, tid))
    rates.sort(reverse=True)
    return rates[:3]


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    pid = int(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    try:
        figures = probe(pid, seconds)
    except (FileNotFoundError, ProcessLookupError):
        print(f"no process {pid}", file=sys.stderr)
        return 2
    cpu_ok, wake_ok = figures["cpu"] <= CPU_GOAL, figures["wakes"] <= WAKE_GOAL
    print(f"over {figures['elapsed']:.0f} s of pid {pid}:")
    print(f"cpu: {figures['cpu']:.3f} % of one core (goal <= {CPU_GOAL} %)"
          + ("" if cpu_ok else "  MISSED"))
    print(f"wake-ups: {figures['wakes']:.2f} /s (goal <= {WAKE_GOAL:.0f} /s)"
          + ("" if wake_ok else "  MISSED"))
    print("  busiest: " + ", ".join(f"{name} [{tid}] {rate:.2f}/s"
                                    for rate, name, tid in figures["busiest"]))
    print(f"threads: {figures['threads'][0]} at the start, {figures['threads'][1]} at the end")
    print(f"rss: {figures['rss']:.1f} MB now, peak {figures['peak']:.1f} MB")
    return 0 if cpu_ok and wake_ok else 1


if __name__ == "__main__":
    sys.exit(main())
