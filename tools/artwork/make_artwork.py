#!/usr/bin/python3
"""Draws the window's pictures and the application icon into res/.

The results are committed; run this again only to change the artwork.
Pictures are 24-bit bitmaps whose background is the key colour (magenta):
the window draws them with that colour transparent (bottom-left pixel).
Each picture comes at 100 % (NAME.bmp) and, drawn again from the same
shapes at the larger size, at 150 % and 200 % (NAME_150.bmp, NAME_200.bmp)
for displays of 144 and 192 dots per inch. The icon holds the design's
32 x 32 image in 16 colours and the same drawing at the other sizes the
platform asks for (16, 20, 24, 40 and 48 pixels), in 32-bit colour with
smoothed edges.
"""
import os
import struct
import sys

from PIL import Image, ImageDraw

KEY = (255, 0, 255)
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res")


SUPERSAMPLE = 4


class Painter:
    """The drawing calls in the coordinates of the 100 % picture, on a
    canvas of `factor` times its size: a rectangle covers whole source
    pixels, a polygon's corners scale with it."""

    def __init__(self, image, factor):
        self.draw = ImageDraw.Draw(image)
        self.k = factor

    def _box(self, box):
        x0, y0, x1, y1 = box
        k = self.k
        return [round(x0 * k), round(y0 * k), round((x1 + 1) * k) - 1, round((y1 + 1) * k) - 1]

    def rectangle(self, box, fill=None, outline=None):
        self.draw.rectangle(self._box(box), fill=fill, outline=outline, width=max(1, round(self.k)))

    def ellipse(self, box, fill=None, outline=None):
        self.draw.ellipse(self._box(box), fill=fill, outline=outline, width=max(1, round(self.k)))

    def polygon(self, points, fill=None, outline=None):
        k = self.k
        scaled = [(round(x * k + (k - 1) / 2), round(y * k + (k - 1) / 2)) for (x, y) in points]
        self.draw.polygon(scaled, fill=fill, outline=outline)

    def line(self, points, fill=None):
        k = self.k
        scaled = [(round(x * k + (k - 1) / 2), round(y * k + (k - 1) / 2)) for (x, y) in points]
        self.draw.line(scaled, fill=fill, width=max(1, round(k)))


def render(draw_function, size, percent, background):
    """The picture at percent of its size. At 100 % drawn directly (the
    design's own pixels); larger, drawn at SUPERSAMPLE times the size,
    reduced with a box filter, and every pixel less than half covered
    becomes the background."""
    w, h = size
    if percent == 100:
        im = Image.new("RGB", size, background)
        draw_function(Painter(im, 1))
        return im
    tw, th = (w * percent + 50) // 100, (h * percent + 50) // 100
    k = percent / 100 * SUPERSAMPLE
    big = Image.new("RGBA", (tw * SUPERSAMPLE, th * SUPERSAMPLE), (0, 0, 0, 0))
    draw_function(Painter(big, k))
    small = big.resize((tw, th), Image.BOX)
    out = Image.new("RGB", (tw, th), background)
    src, dst = small.load(), out.load()
    for y in range(th):
        for x in range(tw):
            r, g, b, a = src[x, y]
            if a >= 128:
                # Box-filtered colours are weighted by coverage: undo it.
                dst[x, y] = tuple(min(255, round(c * 255 / a)) for c in (r, g, b))
    return out


def draw_console(d):
    # A desk panel with rows of keys and a joystick.
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


def draw_host(d):
    # A flat rack box with a blue display and a key block.
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


def draw_arrows(d):
    # Upper arrow to the right (console to host), lower arrow to the left.
    blue, green = (40, 120, 210), (40, 170, 90)
    d.rectangle([8, 12, 190, 18], fill=blue)
    d.polygon([(186, 4), (216, 15), (186, 26)], fill=blue)
    d.rectangle([34, 36, 216, 42], fill=green)
    d.polygon([(38, 28), (8, 39), (38, 50)], fill=green)


PICTURES = [("img1", draw_console, (130, 58)), ("img2", draw_host, (143, 26)), ("img3", draw_arrows, (224, 55))]


VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def draw_icon(d, colour):
    # A joystick with a red arrow pointing down; colour() turns an index of
    # the 16-colour palette into what the canvas takes.
    d.polygon([(3, 29), (28, 29), (25, 22), (6, 22)], fill=colour(8), outline=colour(0))   # base
    d.rectangle([14, 9, 17, 23], fill=colour(0))                                          # stick
    d.ellipse([11, 3, 20, 12], fill=colour(12), outline=colour(0))                        # knob
    d.rectangle([22, 2, 25, 11], fill=colour(9))                                          # arrow shaft
    d.polygon([(19, 11), (28, 11), (23, 17)], fill=colour(9))                             # arrow head
    d.rectangle([7, 24, 9, 26], fill=colour(9))                                           # buttons
    d.rectangle([11, 24, 13, 26], fill=colour(11))


def icon_image():
    # 32 x 32, 16 colours: the design's own image.
    im = Image.new("P", (32, 32), 0)
    im.putpalette([c for rgb in VGA16 for c in rgb])
    d = Painter(im, 1)
    transparent = 13  # magenta: masked out below
    d.rectangle([0, 0, 31, 31], fill=transparent)
    draw_icon(d, lambda index: index)
    return im, transparent


def icon_entry_16_colours():
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
    return w, 16, 4, header + palette + bytes(xor) + bytes(mask)


def icon_entry_32_bit(n):
    # The same drawing at n pixels, eight times over and reduced: smooth
    # edges in the alpha channel.
    ss = 8
    big = Image.new("RGBA", (n * ss, n * ss), (0, 0, 0, 0))
    draw_icon(Painter(big, n / 32 * ss), lambda index: VGA16[index] + (255,))
    small = big.resize((n, n), Image.BOX)
    px = small.load()
    xor = bytearray()
    mask = bytearray()
    stride = ((n + 31) // 32) * 4
    for y in range(n - 1, -1, -1):  # bottom-up rows
        bits = bytearray(stride)
        for x in range(n):
            r, g, b, a = px[x, y]
            if a:
                r, g, b = (min(255, round(c * 255 / a)) for c in (r, g, b))
            else:
                r = g = b = 0
                bits[x // 8] |= 0x80 >> (x % 8)
            xor += struct.pack("<BBBB", b, g, r, a)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return n, 0, 32, header + bytes(xor) + bytes(mask)


ICON_SIZES = [16, 20, 24, 32, 40, 48]


def write_icon(path):
    entries = [icon_entry_16_colours() if n == 32 else icon_entry_32_bit(n) for n in ICON_SIZES]
    directory = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    images = b""
    for size, colours, bits, image in entries:
        directory += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(image), offset)
        offset += len(image)
        images += image
    with open(path, "wb") as f:
        f.write(directory + images)


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, draw_function, size in PICTURES:
        for percent in (100, 150, 200):
            suffix = "" if percent == 100 else "_%d" % percent
            render(draw_function, size, percent, KEY).save(os.path.join(OUT, name + suffix + ".bmp"))
    write_icon(os.path.join(OUT, "QEXJoystick.ico"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
