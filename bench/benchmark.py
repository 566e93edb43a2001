#!/usr/bin/env python3
"""Measures pelorin on a large generated outbound against the I/O floor.

    bench/benchmark.py [--packets N] [--megabytes M] [--runs R] [--keep DIR]

Builds the Release program and the helpers (preset bench, in build-bench), generates the
outbound with tools/make_outbound.py (default 20,000 packets, about 1 GB,
half of them for the listed net 2:5020), warms the page cache, and times,
each as the median of R runs on the same files:

  cat       reading every byte of every packet once (cat to /dev/null)
  headers   open, read 58 bytes, close for every packet
  pelorin   the real job (half the packets listed), with and without a log
  unlisted  pelorin with a list that matches no packet
  flags     taking and releasing the busy flag of every listed node alone,
            as the real job does around each node's packets
  preview   pelorin -n on the real job: what it would do, nothing written

pelorin's runs alternate between two new origins, so every run does the
full work of the first. Then it prints the ratios to the floors, the peak
memory against the largest packet, and the time on a quarter and a half of
the outbound, to show that the time grows linearly.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")
ORIGINS = ["2:5020/2000", "2:5020/100"]
UNLISTED = ["9:9/9"]
LISTED_PREFIX = "139c"  # the packets for net 2:5020, which 2:5020/All selects


def build():
    subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "bench"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)


def timed(command, stdin=None):
    """Wall time of one command."""
    began = time.perf_counter()
    result = subprocess.run(command, input=stdin, stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - began
    if result.returncode != 0:
        sys.exit("failed: %s" % " ".join(command))
    return elapsed


def peak_memory(command):
    """Peak resident memory in bytes, as /usr/bin/time measures it: a
    process forked from Python would count Python's own pages too."""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                       stdout=subprocess.DEVNULL, check=True)
        return int(report.read().split()[-1]) * 1024


class Outbound:
    def __init__(self, directory, runs, log):
        self.directory = directory
        self.runs = runs
        self.log = log
        self.names = sorted(os.listdir(directory))
        self.paths = [os.path.join(directory, n) for n in self.names]
        self.bytes = sum(os.path.getsize(p) for p in self.paths)
        self.largest = max(os.path.getsize(p) for p in self.paths)
        self.turn = 0

    def median(self, command, stdin=None):
        return statistics.median(timed(command, stdin) for _ in range(self.runs))

    def cat(self):
        return self.median(["sh", "-c", 'cat "$@" >/dev/null', "cat"] + self.paths)

    def headers(self):
        listing = "".join(p + "\n" for p in self.paths).encode()
        return self.median([os.path.join(BUILD, "bench", "header_floor")], listing)

    def listed_nodes(self):
        return len({n.split(".")[0] for n in self.names if n.startswith(LISTED_PREFIX)})

    def flags(self):
        listed = "".join(n + "\n" for n in self.names if n.startswith(LISTED_PREFIX)).encode()
        return self.median([os.path.join(BUILD, "bench", "flag_cost"), self.directory], listed)

    def pelorin_command(self, destinations, with_log=False):
        # The packets carry the origin of the last run that selected them;
        # the other one makes this run do the whole work again.
        origin = ORIGINS[self.turn % 2]
        if destinations != UNLISTED:
            self.turn += 1
        command = [os.path.join(BUILD, "pelorin"), "-o" + self.directory]
        if with_log:
            command.append("-l" + self.log)
        return command + [origin] + destinations

    def preview(self):
        # Every packet still waits for the origin of the next real run.
        command = self.pelorin_command(["2:5020/All"])
        self.turn -= 1
        return self.median(command[:1] + ["-n"] + command[1:])

    def pelorin(self, destinations, with_log=False):
        return statistics.median(timed(self.pelorin_command(destinations, with_log))
                                 for _ in range(self.runs))

    def pelorin_memory(self):
        return peak_memory(self.pelorin_command(["2:5020/All"]))


def generate(directory, packets, megabytes):
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "make_outbound.py"), directory,
                    "--packets", str(packets), "--megabytes", str(megabytes)], check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--packets", type=int, default=20000)
    parser.add_argument("--megabytes", type=float, default=1000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--keep", help="generate into this directory and keep it")
    args = parser.parse_args()
    build()
    scratch = args.keep or tempfile.mkdtemp(prefix="pelorin-bench.")
    try:
        full = os.path.join(scratch, "outbound")
        if not os.path.isdir(full):
            generate(full, args.packets, args.megabytes)
        ob = Outbound(full, args.runs, os.path.join(scratch, "pelorin.log"))
        ob.cat()  # warms the page cache
        cat = ob.cat()
        headers = ob.headers()
        work = ob.pelorin(["2:5020/All"])
        work_log = ob.pelorin(["2:5020/All"], with_log=True)
        unlisted = ob.pelorin(UNLISTED)
        flags = ob.flags()
        preview = ob.preview()
        peak = ob.pelorin_memory()
        print("outbound: %d packets, %.0f MB, largest packet %.1f MB" %
              (len(ob.names), ob.bytes / 2**20, ob.largest / 2**20))
        print("floor cat (every byte once):      %8.3f s" % cat)
        print("floor open/read 58/close:         %8.3f s" % headers)
        print("pelorin, half listed, no log:     %8.3f s   %.2f x cat    (target <= 1.5)" %
              (work, work / cat))
        print("pelorin, half listed, status log: %8.3f s   %.2f x cat" % (work_log, work_log / cat))
        print("pelorin, nothing listed:          %8.3f s   %.2f x open/read/close (target <= 2)" %
              (unlisted, unlisted / headers))
        print("pelorin -n, the same previewed:   %8.3f s   %.2f x the real job (target <= 1)" %
              (preview, preview / work))
        nodes = ob.listed_nodes()
        print("busy flags alone, %d nodes:     %8.3f s   %.1f us a node, %.0f %% of the job" %
              (nodes, flags, flags / max(nodes, 1) * 1e6, flags / work * 100))
        print("peak memory: %.1f MB = largest packet + %.1f MB   (target <= largest + 8 MB)" %
              (peak / 2**20, (peak - ob.largest) / 2**20))

        print("growth (half listed, no log):")
        base = None
        for fraction in (4, 2, 1):
            if fraction == 1:
                seconds = work
            else:
                part = os.path.join(scratch, "part%d" % fraction)
                if not os.path.isdir(part):
                    generate(part, args.packets // fraction, args.megabytes / fraction)
                part_ob = Outbound(part, args.runs, None)
                part_ob.cat()
                seconds = part_ob.pelorin(["2:5020/All"])
            base = base or seconds
            print("  1/%d of the outbound: %8.3f s   %.2f x the quarter" % (fraction, seconds,
                                                                        seconds / base))
    finally:
        if not args.keep:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
