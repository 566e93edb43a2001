"""Writes the parts of a FidoNet type-2+ packet, for the tools that make
outbounds (make_sample_outbound.py, make_outbound.py)."""
import struct


def header(origin, dest, password=b""):
    """A type-2+ packet header of 58 bytes; addresses are (zone, net, node, point)."""
    oz, onet, onode, opoint = origin
    dz, dnet, dnode, dpoint = dest
    h = struct.pack("<HHHHHHHHHH", onode, dnode, 2026, 11, 7, 21, 14, 5, 0, 2)
    h += struct.pack("<hh", onet, dnet)
    h += bytes([0xFE, 1])                      # product code low, revision major
    h += password.ljust(8, b"\0")[:8]
    h += struct.pack("<hhh", oz, dz, 0)        # type-2 zone copies, aux net
    h += struct.pack("<H", 0x0100)             # capability word, byte-swapped copy
    h += bytes([0, 10])                        # product code high, revision minor
    h += struct.pack("<H", 0x0001)             # capability word: type 2+
    h += struct.pack("<hhhh", oz, dz, opoint, dpoint)
    h += b"\0\0\0\0"
    assert len(h) == 58
    return h


def message(orig, dest, date, to, frm, subject, text, attribute=0x0100):
    """A packed message; orig and dest are (net, node)."""
    onet, onode = orig
    dnet, dnode = dest
    fixed = struct.pack("<Hhhhhhh", 2, onode, dnode, onet, dnet, attribute, 0)
    strings = [date, to, frm, subject, text]
    return fixed + b"".join(s.encode("latin-1") + b"\0" for s in strings)
