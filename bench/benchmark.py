#!/usr/bin/env python3
"""Measures pelorin on generated outbounds against the plain I/O it must do.

    bench/benchmark.py [--packets N] [--megabytes M] [--runs R]
                       [--shaped-packets N] [--shaped-megabytes M]
                       [--bundles B] [--bundle-packets P] [--bundle-megabytes M]
                       [--arj-bundles A] [--arj-packets Q] [--keep DIR]

Builds the Release program and the helpers (preset bench, in build-bench) and
generates two outbounds with tools/make_outbound.py, half of each for the
listed net 2:5020, every packet a node of its own:

  large   N packets (20,000), about M megabytes (1 GB), most echomail from
          the old origin;
  shaped  4,000 packets, 129 MB, about 3.7 changed messages per rewritten
          packet.

On each, with the page cache warm, it times as the median of R alternated
runs (each run of every command in turn, on the same files):

  rewrite floor    bench/rewrite_floor: lists the outbound, opens every
                   packet, reads its header and, for every listed one,
                   creates its busy flag (exclusively, one line), reads its
                   area and writes it back whole, writes the header, closes
                   it and removes the flag
  rewrite          pelorin on half the packets, flags taken as in a real run
  header floor     bench/header_floor: open, read 58 bytes, close every packet
  unlisted         pelorin with a list that matches no packet

and prints the ratios (targets: 1.1 and 1.05). On the large outbound it also
times `cat` of every packet, a run with a status log, a preview (-n), the busy
flags alone (bench/flag_cost), the peak memory against the largest packet,
a run with -r on a copy of it split into a binkley-style tree (4 zone
outbounds, 50 point directories) beside the flat run, and the time on a
quarter and a half of it, to show that it grows linearly.
pelorin's rewrite runs alternate between two new origins, so every run does
the whole work again.

A third outbound holds B ARCmail bundles (200) of P packets each (20), M
megabytes of packets (100), each bundle with its node's flow file, half of
the nodes listed. It times, alternated, pelorin -b against
bench/bundle_floor, which inflates every packet member, deflates those of
listed nodes again, and writes each such bundle anew (stored with fsync,
renamed over the old one), and reports the peak memory of the run against
the largest packet in a bundle (targets: 1.2, and the largest packet plus
fixed buffers).

A fourth holds A ARJ bundles (100) of Q packets each (10), made by Debian's
arj, half of the nodes listed, which pelorin -b handles through the arj
lines of Pelorin.Cfg. It times, alternated, pelorin -b against
bench/arj_by_hand.sh, which does the same by hand with arj: unpacks each
bundle, runs pelorin on its packets and packs the changed ones again
(target: 1.1). It is passed over when arj is not installed.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")
ORIGINS = ["2:5020/2000", "2:5020/100"]
UNLISTED = ["9:9/9"]
LISTED_NET = "5020"
LISTED_PREFIX = "139c"  # the packets for net 2:5020, which 2:5020/All selects
SHAPED_OWN_SHARE = 0.22  # about 3.7 changed messages per rewritten packet
TREE_ZONES = 4
TREE_POINTS = 50


def build():
    subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "bench"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)


def timed(command, stdin=None, cwd=None):
    """Wall time of one command."""
    began = time.perf_counter()
    result = subprocess.run(command, input=stdin, stdout=subprocess.DEVNULL, cwd=cwd)
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
        self.tree = False  # run with -r
        self.bundles = False  # run with -b

    def median(self, command, stdin=None):
        return statistics.median(timed(command, stdin) for _ in range(self.runs))

    def alternated(self, *commands):
        """Medians of the commands, each timed once in every round; a command
        is a function giving (argv, stdin) anew for each run."""
        times = [[] for _ in commands]
        for _ in range(self.runs):
            for spent, command in zip(times, commands):
                spent.append(timed(*command()))
        return [statistics.median(spent) for spent in times]

    def cat(self):
        return self.median(["sh", "-c", 'cat "$@" >/dev/null', "cat"] + self.paths)

    def header_floor(self):
        listing = "".join(p + "\n" for p in self.paths).encode()
        return [os.path.join(BUILD, "bench", "header_floor")], listing

    def rewrite_floor(self):
        return [os.path.join(BUILD, "bench", "rewrite_floor"), self.directory, LISTED_NET], None

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
        if self.tree:
            command.append("-r")
        if self.bundles:
            command.append("-b")
        if with_log:
            command.append("-l" + self.log)
        return command + [origin] + destinations

    def rewrite(self, with_log=False):
        return self.pelorin_command(["2:5020/All"], with_log), None

    def unlisted(self):
        return self.pelorin_command(UNLISTED), None

    def preview(self):
        # Every packet still waits for the origin of the next real run.
        command = self.pelorin_command(["2:5020/All"])
        self.turn -= 1
        return self.median(command[:1] + ["-n"] + command[1:])

    def pelorin(self, destinations, with_log=False):
        # A new command for every run: each run must find the work to do.
        return statistics.median(timed(self.pelorin_command(destinations, with_log))
                                 for _ in range(self.runs))

    def pelorin_memory(self):
        return peak_memory(self.pelorin_command(["2:5020/All"]))


def generate(directory, packets, megabytes, own_share=None, bundles=0, arj=False):
    command = [sys.executable, os.path.join(ROOT, "tools", "make_outbound.py"), directory,
               "--packets", str(packets), "--megabytes", str(megabytes)]
    if own_share is not None:
        command += ["--own-share", str(own_share)]
    if bundles:
        command += ["--bundles", str(bundles)]
    if arj:
        command.append("--arj")
    subprocess.run(command, check=True)


def largest_member(directory):
    largest = 0
    for name in os.listdir(directory):
        if name.endswith(".mo0"):
            with zipfile.ZipFile(os.path.join(directory, name)) as archive:
                largest = max([largest] + [m.file_size for m in archive.infolist()])
    return largest


def report_bundles(ob, bundles):
    """Times pelorin -b on the bundle outbound against its floor."""
    paths = "".join(p + "\n" for p in ob.paths if p.endswith(".mo0")).encode()
    floor_command = [os.path.join(BUILD, "bench", "bundle_floor"), LISTED_NET]
    ob.cat()
    floor, run = ob.alternated(lambda: (floor_command, paths), lambda: ob.rewrite())
    peak = ob.pelorin_memory()
    largest = largest_member(ob.directory)
    print("bundle outbound: %d bundles, %.0f MB, largest packet in them %.1f MB" %
          (bundles, ob.bytes / 2**20, largest / 2**20))
    print("  bundle floor (zlib work, writes):  %8.3f s" % floor)
    print("  pelorin -b, half listed:           %8.3f s   %.2f x the floor (target <= 1.2)" %
          (run, run / floor))
    print("  peak memory: %.1f MiB = largest packet + %.1f MiB" %
          (peak / 2**20, (peak - largest) / 2**20))


ARJ_LINES = "Unpack arj 0 60EA arj e -y $a\nPack arj arj a -y $a $f\n"


def report_arj(ob, bundles, config_dir):
    """Times pelorin -b on ARJ bundles against the same done by hand with arj."""
    os.makedirs(config_dir, exist_ok=True)
    with open(os.path.join(config_dir, "Pelorin.Cfg"), "w") as config:
        config.write(ARJ_LINES)
    by_hand = os.path.join(ROOT, "bench", "arj_by_hand.sh")
    ob.bundles = True

    def hand():
        command = ob.pelorin_command(["2:5020/All"])
        return [by_hand, command[0], ob.directory] + command[-2:], None

    def run():
        return ob.pelorin_command(["2:5020/All"]), None, config_dir

    ob.cat()
    floor, pelorin = ob.alternated(hand, run)
    print("ARJ bundle outbound: %d bundles, %.1f MB" % (bundles, ob.bytes / 2**20))
    print("  by hand with arj (unpack, pelorin, pack): %8.3f s" % floor)
    print("  pelorin -b, half listed:           %8.3f s   %.2f x by hand (target <= 1.1)" %
          (pelorin, pelorin / floor))


def split_into_tree(flat, tree):
    """A copy of the flat outbound as a binkley-style tree: its packets dealt
    out in turn to the outbound, its point directories and the zone
    outbounds beside it. Gives the outbound of the tree."""
    outbound = os.path.join(tree, "outbound")
    directories = ([outbound] +
                   [os.path.join(outbound, "%08x.pnt" % i) for i in range(TREE_POINTS)] +
                   [outbound + ".%03x" % (zone + 1) for zone in range(TREE_ZONES)])
    if not os.path.isdir(outbound):
        for directory in directories:
            os.makedirs(directory)
        for i, name in enumerate(sorted(os.listdir(flat))):
            shutil.copy(os.path.join(flat, name),
                        os.path.join(directories[i % len(directories)], name))
    return outbound


def report_floors(name, ob):
    """Times the two runs against their floors, alternated, and prints the ratios."""
    ob.cat()  # warms the page cache
    floor, rewrite, headers, unlisted = ob.alternated(
        ob.rewrite_floor, lambda: ob.rewrite(), ob.header_floor, ob.unlisted)
    print("%s outbound: %d packets, %.0f MB, largest packet %.1f MB" %
          (name, len(ob.names), ob.bytes / 2**20, ob.largest / 2**20))
    print("  rewrite floor (plain I/O, flags):  %8.3f s" % floor)
    print("  pelorin, half listed, flags taken: %8.3f s   %.2f x the floor (target <= 1.1)" %
          (rewrite, rewrite / floor))
    print("  header floor (open/read 58/close): %8.3f s" % headers)
    print("  pelorin, nothing listed:           %8.3f s   %.2f x the floor (target <= 1.05)" %
          (unlisted, unlisted / headers))
    return rewrite


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--packets", type=int, default=20000)
    parser.add_argument("--megabytes", type=float, default=1000)
    parser.add_argument("--shaped-packets", type=int, default=4000)
    parser.add_argument("--shaped-megabytes", type=float, default=129)
    parser.add_argument("--bundles", type=int, default=200)
    parser.add_argument("--bundle-packets", type=int, default=20)
    parser.add_argument("--bundle-megabytes", type=float, default=100)
    parser.add_argument("--arj-bundles", type=int, default=100)
    parser.add_argument("--arj-packets", type=int, default=10)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--keep", help="generate into this directory and keep it")
    args = parser.parse_args()
    build()
    scratch = args.keep or tempfile.mkdtemp(prefix="pelorin-bench.")
    try:
        full = os.path.join(scratch, "outbound")
        if not os.path.isdir(full):
            generate(full, args.packets, args.megabytes)
        shaped = os.path.join(scratch, "shaped")
        if not os.path.isdir(shaped):
            generate(shaped, args.shaped_packets, args.shaped_megabytes, SHAPED_OWN_SHARE)
        report_floors("shaped", Outbound(shaped, args.runs, None))

        bundled = os.path.join(scratch, "bundles")
        if not os.path.isdir(bundled):
            generate(bundled, args.bundles * args.bundle_packets, args.bundle_megabytes,
                     bundles=args.bundles)
        bundle_ob = Outbound(bundled, args.runs, None)
        bundle_ob.bundles = True
        report_bundles(bundle_ob, args.bundles)

        if shutil.which("arj"):
            arj = os.path.join(scratch, "arj")
            if not os.path.isdir(arj):
                packets = args.arj_bundles * args.arj_packets
                generate(arj, packets, packets * args.bundle_megabytes /
                         (args.bundles * args.bundle_packets), bundles=args.arj_bundles, arj=True)
            report_arj(Outbound(arj, args.runs, None), args.arj_bundles,
                       os.path.join(scratch, "arj-config"))
        else:
            print("ARJ bundle outbound: passed over, arj is not installed")

        ob = Outbound(full, args.runs, os.path.join(scratch, "pelorin.log"))
        work = report_floors("large", ob)
        cat = ob.cat()
        work_log = ob.pelorin(["2:5020/All"], with_log=True)
        preview = ob.preview()
        flags = ob.flags()
        peak = ob.pelorin_memory()
        print("  cat of every byte:                 %8.3f s" % cat)
        print("  pelorin, half listed:              %8.3f s   %.2f x cat    (target <= 1.5)" %
              (work, work / cat))
        print("  the same with a status log:        %8.3f s   %.2f x cat" % (work_log, work_log / cat))
        print("  pelorin -n, the same previewed:    %8.3f s   %.2f x the real job (target <= 1)" %
              (preview, preview / work))
        nodes = ob.listed_nodes()
        print("  busy flags alone, %d nodes:     %8.3f s   %.1f us a node, %.0f %% of the job" %
              (nodes, flags, flags / max(nodes, 1) * 1e6, flags / work * 100))
        print("  peak memory: %.1f MiB = largest packet + %.1f MiB   (target <= largest + 2 MiB)" %
              (peak / 2**20, (peak - ob.largest) / 2**20))

        tree = Outbound(split_into_tree(full, os.path.join(scratch, "tree")), args.runs, None)
        tree.tree = True
        # Leaves every listed packet with the origin the timed runs then change.
        timed(*tree.rewrite())
        flat, split = ob.alternated(lambda: ob.rewrite(), lambda: tree.rewrite())
        print("  the same, flat:                    %8.3f s" % flat)
        print("  split into %d zone outbounds and %d point directories, -r:" %
              (TREE_ZONES, TREE_POINTS))
        print("                                     %8.3f s   %.2f x flat" % (split, split / flat))

        print("  growth (half listed, no log):")
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
            print("    1/%d of the outbound: %8.3f s   %.2f x the quarter" % (fraction, seconds,
                                                                          seconds / base))
    finally:
        if not args.keep:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
