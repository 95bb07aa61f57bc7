#!/usr/bin/env python3
"""Writes the hand-made seeds of fuzz/corpus/<target>/ (seed-* files).

Each seed is a meaningful case of its target's input format (described at
the top of each *_fuzz.cpp).  Inputs that once broke something are kept
beside them as regress-* files and are not made here.
Run from anywhere: python3 fuzz/make_seeds.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
STX, ETX = 0x02, 0x03


def frame(ptype, data, status=0, bad_sum=False):
    body = bytes([status, ptype, len(data)]) + bytes(data)
    s = sum(body) & 0xFF
    if bad_sum:
        s ^= 0x55
    return bytes([STX]) + body + bytes([s, ETX])


MODE_REPLY = frame(0x82, [0x00, 0x08, 0x00, 0x00, 0x02])
STRAY = frame(0x93, [0x01])
DEFAULT_IDENT = b"RCV-3000SN004711  235  120   45FW-01234562412"

# config_loader: shape byte (1 override, 2 symlink, 4 hard link, 8 missing,
# bits 4-5 the mode), [override length, override], file text.
CONFIG = {
    "seed-defaults": b"\x00DIAL \nHANGUP ~~+++~~ATH\nSETUP AT\nCONNECT CONNECT\nACK OK\n",
    "seed-glued-and-comments": b"\x10HANGUP~+++~ATH0 trailing words\r\nACK OK\r\n\tskipped\n\n",
    "seed-unrecognized-line": b"\x20DIAL ATDT5551234\n# a comment\nACK OK\n",
    "seed-missing-with-override": b"\x09\x0bATDT5551234",
    "seed-symlink-and-hard-link": b"\x36SETUP ATZ\nCONNECT CONNECT\n",
    "seed-long-line": b"\x00HANGUP " + b"A" * 200 + b"\n",
    "seed-binary-junk": b"\x00\x7fELF\x02\x01\x01\x00\x00\x00\xff\xfe\n\x01\x02",
    "seed-long-override": b"\x01\x64" + b"D" * 100 + b"ACK OK\n",
    "seed-override-with-space": b"\x01\x0cATDT 5551234SETUP ATZ\n",
}


def ring_write(data):
    """Ring ops writing `data` in chunks of at most 192 bytes."""
    out = b""
    for i in range(0, len(data), 192):
        chunk = data[i:i + 192]
        out += bytes([len(chunk) - 1]) + chunk
    return out


TAKE_ALL = b"\xff"
RING = {
    "seed-one-packet": b"\x00\x00" + ring_write(MODE_REPLY) + b"\xc0",
    "seed-packet-across-the-wrap": b"\x1f\xfb" + ring_write(MODE_REPLY) + TAKE_ALL,
    "seed-byte-by-byte": b"\x10\x00" + b"".join(bytes([0, b]) for b in MODE_REPLY) + TAKE_ALL,
    "seed-noise-and-bad-checksum": b"\x00\x40" + ring_write(
        b"\x01\x02\x00" + frame(0x10, [1, 2, 3], bad_sum=True) + MODE_REPLY) + TAKE_ALL,
    "seed-full-ring": b"\x00\x00\xef\x10\x41" + ring_write(MODE_REPLY) + TAKE_ALL +
                      ring_write(MODE_REPLY) + TAKE_ALL,
    "seed-longest-and-too-long": b"\x1f\x00" + ring_write(
        frame(0x20, [0x11] * 250) + frame(0x21, [0x22] * 249)) + b"\xfe" + TAKE_ALL,
    "seed-interleaved-takes": b"\x00\x07" + ring_write(MODE_REPLY[:5]) + b"\xc1" +
                              ring_write(MODE_REPLY[5:] + STRAY) + b"\xc3",
}

# packet_reception: the bytes on the line.
PACKETS = {
    "seed-mode-reply": MODE_REPLY,
    "seed-stray-93-then-reply": STRAY + STRAY + MODE_REPLY,
    "seed-noise-then-packet": b"\x00\xff\x15\x06" + MODE_REPLY,
    "seed-bad-checksum": frame(0x4b, [1] * 45, bad_sum=True) + MODE_REPLY,
    "seed-cut-short": b"\x02\x00\x07\x2d" + DEFAULT_IDENT[:10],
    "seed-two-packets": MODE_REPLY + frame(0x07, DEFAULT_IDENT),
    "seed-longest": frame(0x4b, [0x33] * 255),
}

# identification: the record.
IDENT = {
    "seed-default-record": DEFAULT_IDENT,
    "seed-short-record": b"RCV-3000SN00",
    "seed-signs-and-spaces": b"ABCDEFGHIJKLMNOP -1234+5678 9999FW-0123456-1+2",
    "seed-empty": b"",
    "seed-nul-inside": b"RCV-3000\x00N004711  235",
    "seed-counts-equal": b"RCV-3000SN004711  235  120   45FW-01234561313",
}

OPTIONS = {
    "seed-typical": b"-D/dev/ttyS0\0-B19200\0-Peven\0--rtscts\0-+rtscts\0--dropdtr\0-Cmodem.dat",
    "seed-bad": b"-x\0foo\0-\0\0-M",
    "seed-baud-edges": b"-B4800x\0-Bx\0-B-5\0-B99999999999999999999999\0-b 300\0-B",
    "seed-either-case": b"-dX\0-cY\0-pN\0-PE\0--RtsCts\0--DROPDTR\0--other\0-+x",
}


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


write("config_loader", CONFIG)
write("receive_ring", RING)
write("packet_reception", PACKETS)
write("identification", IDENT)
write("options", OPTIONS)
