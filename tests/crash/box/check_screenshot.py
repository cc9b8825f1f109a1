#!/usr/bin/env python3
"""Takes the screenshot through the test program under Wine and decodes the
PNG with PIL: an 8-bit palette image of the whole screen."""
import subprocess
import sys
import tempfile
from pathlib import Path

from PIL import Image


def main():
    runner, target = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        png = Path(folder) / "screenShot.png"
        out = subprocess.run(["sh", runner, target, "--screenshot", "Z:" + str(png).replace("/", "\\")],
                             check=True, capture_output=True, text=True, timeout=120).stdout
        width, height = (int(v) for v in out.split()[:2])
        with Image.open(png) as image:
            image.load()
            assert image.format == "PNG", image.format
            assert image.mode == "P", image.mode
            assert image.size == (width, height), (image.size, width, height)
            assert width > 0 and height > 0
            colours = image.getcolors(256)
            assert colours is not None and 1 <= len(colours) <= 256
    print("screenshot ok", width, height)


if __name__ == "__main__":
    main()
