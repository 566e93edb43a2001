#!/usr/bin/env python3
"""Writes the sample outbound shipped with pelorin: a few packets of each
flavour from node 2:5020/100, as a mail processor leaves them, with
echomail in three areas and some netmail.

    tools/make_sample_outbound.py sample/outbound

The output is the same on every run, so the committed files can be checked
against it (tests/sample_check.cmake does).
"""
import os
import sys

from ftn_packet import header, message

ORIGIN = (2, 5020, 100, 0)


def echomail(area, orig, serial, date, frm, subject, body, seen_by, path):
    net, node = orig
    lines = ["AREA:" + area,
             "\x01MSGID: 2:%d/%d %08x" % (net, node, serial),
             "\x01PID: Packer 2.4"]
    lines += body
    lines += ["", "--- ", " * Origin: Somewhere in net %d (2:%d/%d)" % (net, net, node),
              "SEEN-BY: " + seen_by,
              "\x01PATH: " + path]
    return message(orig, (5020, 0), date, "All", frm, subject, "\r".join(lines) + "\r")


def netmail(orig, dest, serial, date, to, frm, subject, body):
    lines = ["\x01INTL 2:%d/%d 2:%d/%d" % (dest[0], dest[1], orig[0], orig[1]),
             "\x01MSGID: 2:%d/%d %08x" % (orig[0], orig[1], serial)]
    lines += body
    return message(orig, dest, date, to, frm, subject, "\r".join(lines) + "\r",
                   attribute=0x0101)


def echo_set(serial):
    """Echomail as the node exports it, plus one message it only forwards."""
    return [
        echomail("FIDOTEST", (5020, 100), serial, "07 Nov 26  21:10:03", "Ivan Sysop",
                 "test", ["Testing the new link, please ignore."],
                 "5020/1 52 100 777", "5020/100"),
        echomail("NET.SYSOP", (5020, 100), serial + 1, "07 Nov 26  21:11:40", "Ivan Sysop",
                 "Nodelist segment", ["The segment for net 5020 goes out on Friday.",
                                      "Send changes before Thursday evening."],
                 "463/68 5020/1 52 100", "5020/100"),
        echomail("NET.SYSOP", (5020, 55), serial + 2, "07 Nov 26  20:58:12", "Olga Point",
                 "Re: Nodelist segment", ["Noted, thanks."],
                 "5020/1 52 55 100", "5020/55 100"),
        echomail("TECH.MAILERS", (5020, 100), serial + 3, "07 Nov 26  21:12:55",
                 "Ivan Sysop", "Outbound cleanup", ["Anyone else seeing empty .hut files?"],
                 "5020/1 52 100", "5020/100"),
    ]


def packets():
    return {
        # Normal flavour to the hub: echomail and a netmail.
        "139c0001.out": header(ORIGIN, (2, 5020, 1, 0), b"SECRET") +
        b"".join(echo_set(0x6a1b0001)) +
        netmail((5020, 100), (5020, 1), 0x6a1b0100, "07 Nov 26  21:13:20", "Hub Sysop",
                "Ivan Sysop", "Link password", ["Please update the session password."]),
        # Crash to a downlink: echomail only.
        "139c0034.cut": header(ORIGIN, (2, 5020, 52, 0)) + b"".join(echo_set(0x6a1b0200)),
        # Hold for a point: netmail only.
        "139c0309.hut": header(ORIGIN, (2, 5020, 777, 1)) +
        netmail((5020, 100), (5020, 777), 0x6a1b0300, "07 Nov 26  21:14:02", "Olga Point",
                "Ivan Sysop", "Your point number", ["Your point is 2:5020/777.1."]),
        # Direct to another net: left alone by a net-5020 destination list.
        "01cf0044.dut": header(ORIGIN, (2, 463, 68, 0), b"LINK") +
        b"".join(echo_set(0x6a1b0400)[:2]),
        # An empty packet, only the terminator.
        "139c0002.out": header(ORIGIN, (2, 5020, 2, 0)),
    }


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_sample_outbound.py DIRECTORY")
    target = sys.argv[1]
    os.makedirs(target, exist_ok=True)
    for name, body in sorted(packets().items()):
        with open(os.path.join(target, name), "wb") as f:
            f.write(body + b"\0\0")


if __name__ == "__main__":
    main()
