#!/usr/bin/env python3
"""pictures_match.py LINUX_CAPTURE LINUX_RUNDIR EMULATOR WINDOWS_CAPTURE WINDOWS_RUNDIR

Renders the frames at 3 s (the fade-in), 150 s (the middle) and 282 s (the
credits) with the Linux capture tool and with the Windows one under EMULATOR
(a ;-separated command), both on the same software GL, and fails unless each
pair differs by at most 2/255 in mean absolute difference over all samples.
Prints the differences. Needs a display (the virtual X server)."""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

TIMES = (3, 150, 282)
LIMIT = 2.0 / 255.0


def read_png(path):
    """8-bit RGB or RGBA, not interlaced (what sorvane-capture writes)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(path + ": not a PNG")
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise ValueError(path + ": not 8-bit RGB(A)")
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    out = bytearray()
    previous = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        out += line
        previous = line
    return width, height, channels, bytes(out)


def render(command, run_dir, time, out):
    result = subprocess.run(command + ["--dir", run_dir, "--time", str(time), "--out", out],
                            cwd=os.path.dirname(out), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0 or not os.path.exists(out):
        sys.exit("%s failed at %s s (status %d): %s" % (command[-1], time, result.returncode, result.stdout))


def main():
    linux_capture, linux_run, emulator, windows_capture, windows_run = sys.argv[1:6]
    emulator = [part for part in emulator.split(";") if part]
    failed = False
    with tempfile.TemporaryDirectory() as work:
        for time in TIMES:
            linux_png = os.path.join(work, "linux-%d.png" % time)
            windows_png = os.path.join(work, "windows-%d.png" % time)
            render([linux_capture], linux_run, time, linux_png)
            # Wine takes the run folder as a Windows path on drive Z:.
            render(emulator + [windows_capture], "Z:" + windows_run.replace("/", "\\"), time, windows_png)
            a, b = read_png(linux_png), read_png(windows_png)
            if a[:3] != b[:3]:
                sys.exit("%s s: Linux %dx%dx%d, Windows %dx%dx%d" % ((time,) + a[:3] + b[:3]))
            mad = sum(abs(x - y) for x, y in zip(a[3], b[3])) / len(a[3]) / 255.0
            spread = max(a[3]) - min(a[3])
            print("%3d s: mean absolute difference %.5f (limit %.5f), Linux samples spread over %d levels"
                  % (time, mad, LIMIT, spread))
            # A blank picture on both sides (nothing drawn) would match trivially.
            if mad > LIMIT or spread < 64:
                failed = True
    sys.exit(1 if failed else 0)


main()
