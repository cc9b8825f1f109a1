#!/usr/bin/env python3
"""Decodes the fixture's PNGs with PIL and compares them with the pixels the
fixture reduced itself; images with at most 256 colours must also match the
source exactly."""
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

from PIL import Image


def check_chunks(data, name):
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{name}: bad signature"
    at, types = 8, []
    while at < len(data):
        (length,) = struct.unpack(">I", data[at:at + 4])
        kind = data[at + 4:at + 8]
        (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        assert crc == zlib.crc32(data[at + 4:at + 8 + length]), f"{name}: bad CRC in {kind!r}"
        types.append(kind)
        at += 12 + length
    assert at == len(data), f"{name}: trailing bytes"
    assert types[0] == b"IHDR" and types[1] == b"PLTE" and types[-1] == b"IEND", f"{name}: {types}"


def main():
    fixture = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        listing = subprocess.run([fixture, folder], check=True, capture_output=True, text=True).stdout
        cases = [line.split() for line in listing.splitlines() if line.strip()]
        assert cases, "the fixture wrote no case"
        for name, width, height, colours in cases:
            width, height, colours = int(width), int(height), int(colours)
            base = Path(folder) / name
            png = (base.with_suffix(".png")).read_bytes()
            check_chunks(png, name)
            with Image.open(base.with_suffix(".png")) as image:
                image.load()
                if image.mode != "P" or image.size != (width, height):
                    print(f"FAIL {name}: mode {image.mode} size {image.size}")
                    failures += 1
                    continue
                decoded = image.convert("RGB").tobytes()
            reduced = Path(f"{base}.reduced.rgb").read_bytes()
            source = Path(f"{base}.source.rgb").read_bytes()
            if decoded != reduced:
                print(f"FAIL {name}: decoded pixels differ from the reduced image")
                failures += 1
            elif len(set(zip(*[iter(source)] * 3))) <= 256 and decoded != source:
                print(f"FAIL {name}: at most 256 colours but the source was not kept exactly")
                failures += 1
            else:
                print(f"ok   {name} {width}x{height}, {colours} palette entries")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
