#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_framesearch (layout: see its source)."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "framesearch")
OFF = 0xFE


def options(data=12, s1=OFF, s2=OFF, e1=55, e2=1, t1=0, t2=1):
    return bytes([data, s1, s2, e1, e2, t1, t2, 6, 6])


def passes(*chunks):
    out = b""
    for chunk in chunks:
        out += b"\x00" + struct.pack("<H", len(chunk)) + chunk
    return out


EXAMPLE = bytes.fromhex("000AFFF601000040FFC010003701")
SEEDS = {
    "example_frame": options() + passes(EXAMPLE, EXAMPLE * 3),
    "split_frame": options() + passes(EXAMPLE[:5], b"", EXAMPLE[5:] + EXAMPLE[:13], EXAMPLE[13:]),
    "mid_frame_and_noise": options() + passes(EXAMPLE[6:] + b"\x99" * 7 + EXAMPLE),
    "all_framing": options(12, 0xA5, 0x5A, 0x0D, 0x0A)
    + passes(b"\xA5\x5A" + EXAMPLE[:12] + b"\x0D\x0A" + b"\x00\xA5"),
    "short_frames": options(6, OFF, OFF, OFF, 1, 1, OFF) + passes(bytes([0, 4, 0, 8, 0, 12, 1]) * 5),
    "no_framing": options(0, OFF, OFF, OFF, OFF, OFF, OFF) + passes(b"\x10\x20\x30"),
    "overlong_pass": options() + passes(bytes(range(2, 50)) * 27 + EXAMPLE),
    "new_options_while_held": options() + passes(EXAMPLE[:6]) + b"\x80"
    + options(12, OFF, OFF, OFF, 1) + passes(EXAMPLE[:12] + b"\x01"),
    "raw_option_values": b"\xFF" + struct.pack("<i", 2**31 - 1) + bytes([OFF, OFF])
    + b"\xFF" + struct.pack("<i", -7) + bytes([1, 0, 1, 6, 6]) + passes(EXAMPLE),
}

os.makedirs(HERE, exist_ok=True)
for name, content in SEEDS.items():
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(content)
