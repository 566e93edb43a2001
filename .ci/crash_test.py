#!/usr/bin/env python3
"""Kills pelorin at random points while it rewrites an outbound, runs it
again to the end, and checks that every packet is then exactly what one
clean run makes of it, and that no other file is left in the outbound.

    .ci/crash_test.py PELORIN [--kills K] [--packets N] [--megabytes M] [--seed S]
                      [--faulty PELORIN_FAULTY [--flag-kills F]]

With the fault build, F more runs are killed right before a random call
that takes or removes a node's busy flag. Prints how many kill points were
tried and how many packets were checked; exits 1 on the first damaged
packet or left file.
"""
import argparse
import filecmp
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ARGS = ["2:5020/2000", "2:5020/All"]
# The flag calls of a run that rewrites N nodes: (fault point, number of calls).
# The flag file is written once; each node's flag is a link to it.
FLAG_CALLS = [("flagCreate", lambda n: 1), ("flagWrite", lambda n: 1),
              ("flagLink", lambda n: n), ("flagRemove", lambda n: n + 1)]


def run_to_end(pelorin, outbound):
    result = subprocess.run([pelorin, "-o" + outbound] + ARGS, stdout=subprocess.DEVNULL)
    if result.returncode != 0:
        sys.exit("pelorin ended with status %d on %s" % (result.returncode, outbound))


def same_tree(a, b):
    names = sorted(os.listdir(a))
    if names != sorted(os.listdir(b)):
        return "the packet names differ"
    for name in names:
        if not filecmp.cmp(os.path.join(a, name), os.path.join(b, name), shallow=False):
            return name
    return None


def kill_at_flag_calls(args, rng, original, reference, work):
    """Kills the fault build before random flag calls; returns the number of kills."""
    faulty = os.path.abspath(args.faulty)
    listed_nodes = (args.packets + 1) // 2  # every other packet, each a node of its own
    for _ in range(args.flag_kills):
        point, calls = rng.choice(FLAG_CALLS)
        fault = "%s:%d:kill" % (point, rng.randint(1, calls(listed_nodes)))
        shutil.rmtree(work, ignore_errors=True)
        shutil.copytree(original, work)
        result = subprocess.run([faulty, "-o" + work] + ARGS, stdout=subprocess.DEVNULL,
                                env=dict(os.environ, PELORIN_FAULT=fault))
        if result.returncode != -signal.SIGKILL:
            sys.exit("the fault build was not killed at %s (status %d)" % (fault, result.returncode))
        run_to_end(args.pelorin, work)
        damaged = same_tree(work, reference)
        if damaged:
            sys.exit("DAMAGED after a kill at %s: %s differs from one clean run" % (fault, damaged))
    return args.flag_kills


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("pelorin")
    parser.add_argument("--kills", type=int, default=200)
    parser.add_argument("--packets", type=int, default=400)
    parser.add_argument("--megabytes", type=float, default=40)
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--faulty")
    parser.add_argument("--flag-kills", type=int, default=40)
    args = parser.parse_args()
    args.pelorin = pelorin = os.path.abspath(args.pelorin)
    rng = random.Random(args.seed)
    scratch = tempfile.mkdtemp(prefix="pelorin-crash.")
    try:
        original = os.path.join(scratch, "original")
        subprocess.run([sys.executable, os.path.join(HERE, "..", "tools", "make_outbound.py"),
                        original, "--packets", str(args.packets), "--megabytes",
                        str(args.megabytes), "--seed", str(args.seed)], check=True)
        reference = os.path.join(scratch, "reference")
        shutil.copytree(original, reference)
        began = time.monotonic()
        run_to_end(pelorin, reference)
        clean_run = time.monotonic() - began

        killed = finished_first = checked = 0
        work = os.path.join(scratch, "work")
        while killed < args.kills:
            shutil.rmtree(work, ignore_errors=True)
            shutil.copytree(original, work)
            process = subprocess.Popen([pelorin, "-o" + work] + ARGS, stdout=subprocess.DEVNULL)
            time.sleep(rng.uniform(0, clean_run * 1.1))
            if process.poll() is None:
                process.send_signal(signal.SIGKILL)
                process.wait()
                killed += 1
            else:
                finished_first += 1
                if finished_first > 10 * args.kills:
                    sys.exit("pelorin always finished before the kill; use a larger outbound")
            run_to_end(pelorin, work)
            damaged = same_tree(work, reference)
            if damaged:
                sys.exit("DAMAGED after a kill: %s differs from one clean run" % damaged)
            checked += args.packets
        flag_kills = kill_at_flag_calls(args, rng, original, reference, work) if args.faulty else 0
        checked += flag_kills * args.packets
        print("crash test: %d kill points tried (%d runs finished before their kill) and %d "
              "flag calls killed, %d packets checked after the second run, none damaged; "
              "a clean run took %.3f s"
              % (killed, finished_first, flag_kills, checked, clean_run))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
