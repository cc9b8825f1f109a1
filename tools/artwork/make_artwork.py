#!/usr/bin/python3
"""Draws the window's pictures and the application icon into res/.

The results are committed; run this again only to change the artwork.
Pictures are 24-bit bitmaps whose background is the key colour (magenta):
the window draws them with that colour transparent (bottom-left pixel).
"""
import os
import struct
import sys

from PIL import Image, ImageDraw

KEY = (255, 0, 255)
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res")


def console_picture():
    # A desk panel with rows of keys and a joystick.
    im = Image.new("RGB", (130, 58), KEY)
    d = ImageDraw.Draw(im)
    d.polygon([(6, 52), (124, 52), (114, 14), (16, 14)], fill=(60, 64, 72), outline=(30, 30, 34))
    d.rectangle([6, 52, 124, 56], fill=(40, 42, 48))
    for row in range(3):
        y = 20 + row * 10
        inset = 17 - row * 3
        for col in range(8):
            x = inset + col * 10
            colour = (230, 230, 230) if (row + col) % 5 else (220, 60, 50)
            d.rectangle([x, y, x + 6, y + 5], fill=colour, outline=(20, 20, 20))
    d.ellipse([96, 34, 112, 46], fill=(25, 25, 28))
    d.rectangle([102, 16, 105, 40], fill=(35, 35, 38))
    d.ellipse([97, 8, 110, 20], fill=(200, 40, 40), outline=(120, 20, 20))
    return im


def host_picture():
    # A flat rack box with a blue display and a key block.
    im = Image.new("RGB", (143, 26), KEY)
    d = ImageDraw.Draw(im)
    d.rectangle([1, 2, 141, 23], fill=(70, 74, 82), outline=(30, 32, 36))
    d.rectangle([6, 6, 60, 19], fill=(30, 110, 220), outline=(10, 40, 90))
    for i in range(4):
        d.line([(9, 9 + i * 3), (40 - i * 6, 9 + i * 3)], fill=(180, 220, 255))
    for row in range(2):
        for col in range(6):
            x = 70 + col * 11
            y = 6 + row * 8
            d.rectangle([x, y, x + 7, y + 5], fill=(215, 215, 215), outline=(20, 20, 20))
    d.ellipse([134, 10, 138, 14], fill=(60, 220, 90))
    return im


def arrows_picture():
    # Upper arrow to the right (console to host), lower arrow to the left.
    im = Image.new("RGB", (224, 55), KEY)
    d = ImageDraw.Draw(im)
    blue, green = (40, 120, 210), (40, 170, 90)
    d.rectangle([8, 12, 190, 18], fill=blue)
    d.polygon([(186, 4), (216, 15), (186, 26)], fill=blue)
    d.rectangle([34, 36, 216, 42], fill=green)
    d.polygon([(38, 28), (8, 39), (38, 50)], fill=green)
    return im


VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def icon_image():
    # 32 x 32, 16 colours: a joystick with a red arrow pointing down.
    im = Image.new("P", (32, 32), 0)
    im.putpalette([c for rgb in VGA16 for c in rgb])
    d = ImageDraw.Draw(im)
    transparent = 13  # magenta: masked out below
    d.rectangle([0, 0, 31, 31], fill=transparent)
    d.polygon([(3, 29), (28, 29), (25, 22), (6, 22)], fill=8, outline=0)   # base
    d.rectangle([14, 9, 17, 23], fill=0)                                   # stick
    d.ellipse([11, 3, 20, 12], fill=12, outline=0)                         # knob
    d.rectangle([22, 2, 25, 11], fill=9)                                   # arrow shaft
    d.polygon([(19, 11), (28, 11), (23, 17)], fill=9)                      # arrow head
    d.rectangle([7, 24, 9, 26], fill=9)                                    # buttons
    d.rectangle([11, 24, 13, 26], fill=11)
    return im, transparent


def write_icon(path):
    im, transparent = icon_image()
    w, h = im.size
    px = im.load()
    xor = bytearray()
    for y in range(h - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for x in range(0, w, 2):
            a = px[x, y] if px[x, y] != transparent else 0
            b = px[x + 1, y] if px[x + 1, y] != transparent else 0
            row.append((a << 4) | b)
        xor += row
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        bits = 0
        row = bytearray()
        for x in range(w):
            bits = (bits << 1) | (1 if px[x, y] == transparent else 0)
            if x % 8 == 7:
                row.append(bits)
                bits = 0
        mask += row  # 32 pixels = 4 bytes, already DWORD aligned
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in VGA16)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 16, 0, 1, 4, len(image), 22)
    with open(path, "wb") as f:
        f.write(directory + image)


def main():
    os.makedirs(OUT, exist_ok=True)
    console_picture().save(os.path.join(OUT, "img1.bmp"))
    host_picture().save(os.path.join(OUT, "img2.bmp"))
    arrows_picture().save(os.path.join(OUT, "img3.bmp"))
    write_icon(os.path.join(OUT, "QEXJoystick.ico"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
