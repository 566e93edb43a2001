#!/usr/bin/env python3
"""Writes a large, realistic outbound for pelorin's benchmark and crash test.

    tools/make_outbound.py DIRECTORY [--packets N] [--megabytes M] [--seed S]
                           [--own-share F] [--bundles B] [--arj]

Packets come from 2:5020/100 in the four flavours; half are addressed to
net 2:5020 (select them with the destination list 2:5020/All), half to net
2:463. Their sizes follow a log-normal spread, many of a few kilobytes and
some of several megabytes, scaled so that the whole outbound is about M
megabytes. Each holds echomail in several areas (the share F of it, 0.8 by
default, from 2:5020/100, the rest forwarded from other nodes) and now and
then a netmail. The same arguments always give the same files.

With --bundles B the packets go into B ARCmail bundles instead (ZIP,
deflated, "0000nnnn.mo0"), dealt out in turn, each bundle for a node of its
own, half of the nodes in net 2:5020; each node's flow file ("<node>.flo")
lists its bundle by absolute path, as a mailer writes it. With --arj the
bundles are ARJ archives, made by Debian's arj, which must be installed.
"""
import argparse
import os
import random
import shutil
import subprocess
import tempfile
import zipfile

from ftn_packet import header, message

ORIGIN = (2, 5020, 100, 0)

FLAVOURS = ["out", "cut", "hut", "dut"]
AREAS = ["FIDOTEST", "NET.SYSOP", "TECH.MAILERS", "LOCAL.CHAT", "R50.GENERAL"]
WORDS = ("the of node link mail packet net zone point echo area hub route "
         "outbound inbound session password nodelist tosser mailer sysop").split()


def random_message(rng, serial, own_share):
    area = rng.choice(AREAS)
    net, node = (5020, 100) if rng.random() < own_share else (5020, rng.randrange(1, 999))
    lines = ["\x01MSGID: 2:%d/%d %08x" % (net, node, serial)]
    for _ in range(rng.randrange(3, 60)):
        lines.append(" ".join(rng.choice(WORDS) for _ in range(rng.randrange(4, 14))))
    if rng.random() < 0.05:
        text = "\x01INTL 2:5020/1 2:5020/100\r" + "\r".join(lines) + "\r"
        to = "Sysop"
    else:
        lines += ["--- ", " * Origin: Somewhere (2:%d/%d)" % (net, node),
                  "SEEN-BY: 5020/1 52 100 %d" % node, "\x01PATH: 5020/%d" % node]
        text = "AREA:%s\r" % area + "\r".join(lines) + "\r"
        to = "All"
    return message((net, node), (5020, 1), "07 Nov 26  21:10:03", to, "Sysop %d" % node,
                   "Subject %d" % serial, text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("directory")
    parser.add_argument("--packets", type=int, default=20000)
    parser.add_argument("--megabytes", type=float, default=1000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--own-share", type=float, default=0.8)
    parser.add_argument("--bundles", type=int, default=0)
    parser.add_argument("--arj", action="store_true")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    pool = [random_message(rng, serial, args.own_share) for serial in range(400)]
    weights = [rng.lognormvariate(0, 1.6) for _ in range(args.packets)]
    scale = args.megabytes * 1024 * 1024 / sum(weights)
    os.makedirs(args.directory, exist_ok=True)
    bundles = [[] for _ in range(args.bundles)]
    for i, weight in enumerate(weights):
        listed = (i % args.bundles if args.bundles else i) % 2 == 0
        node = 1 + (i % args.bundles if args.bundles else i % 700)
        dest = (2, 5020 if listed else 463, node, 0 if args.bundles or i % 11 else 1)
        name = "%04x%04x.%s" % (dest[1], i, FLAVOURS[(i // 2) % 4])
        target = max(200, int(weight * scale))
        chunks, size = [], 0
        while size < target:
            m = pool[rng.randrange(len(pool))]
            chunks.append(m)
            size += len(m)
        packet = header(ORIGIN, dest) + b"".join(chunks) + b"\0\0"
        if args.bundles:
            bundles[i % args.bundles].append(("%08x.pkt" % i, dest, packet))
            continue
        with open(os.path.join(args.directory, name), "wb") as f:
            f.write(packet)
    for members in bundles:
        write_bundle(args.directory, members, args.arj)


def write_arj(bundle, members):
    """The packets in an ARJ archive, through arj in a scratch directory."""
    scratch = tempfile.mkdtemp()
    try:
        for name, _, packet in members:
            with open(os.path.join(scratch, name), "wb") as f:
                f.write(packet)
        subprocess.run(["arj", "a", "-y", "made.arj"] + [name for name, _, _ in members],
                       cwd=scratch, check=True, stdout=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL)
        shutil.move(os.path.join(scratch, "made.arj"), bundle)
    finally:
        shutil.rmtree(scratch)


def write_bundle(directory, members, arj):
    """The node's bundle of the packets, and its flow file naming it."""
    dest = members[0][1]
    node = "%04x%04x" % (dest[1], dest[2])
    bundle = os.path.abspath(os.path.join(directory, "0000%04x.mo0" % dest[2]))
    if arj:
        write_arj(bundle, members)
    else:
        with zipfile.ZipFile(bundle, "w", zipfile.ZIP_DEFLATED) as archive:
            for name, _, packet in members:
                info = zipfile.ZipInfo(name, (2026, 11, 7, 21, 14, 4))
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, packet)
    with open(os.path.join(directory, node + ".flo"), "w") as flow:
        flow.write("^%s\n" % bundle)


if __name__ == "__main__":
    main()
