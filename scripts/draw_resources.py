#!/usr/bin/python3
"""Draws the setup program's images: res/logo.bmp, res/menu.bmp, res/setup.ico.

The generated files are committed, so building SetUp.exe needs none of this.
To redraw them on Debian: apt-get install python3-pil fonts-wqy-zenhei, then
run /usr/bin/python3 scripts/draw_resources.py from anywhere.

BMP and ICO files are written here byte by byte rather than by the imaging
library: the library cannot write a 4-bit BMP nor palette icons, and the
resource compiler copies the files as they are, so the headers must carry the
exact depths the dialog expects.
"""

import math
import os
import struct
import sys

try:
    from PIL import Image, ImageDraw, ImageFont
except ImportError:
    sys.exit("python3-pil is missing: apt-get install python3-pil")

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES = os.path.join(ROOT, "res")

# The "Sharp" face of WenQuanYi Zen Hei carries hand-made 12 px bitmaps, which
# is what a menu at 9 pt shows on a Chinese Windows: crisp at 1:1, no smoothing
# that a 16-colour palette could not hold anyway. Its Latin bitmaps are spaced
# oddly ("(M )"), so ASCII runs take a hinted 11 px sans instead, as a Chinese
# menu font's Latin part looks.
CJK_FONT = ("/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc", 2, 12)
LATIN_FONT = ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0, 11)

DIALOG_GREEN = (170, 210, 150)  # the dialog's background brush, 0x96D2AA
SUPERSAMPLE = 8


# ---------------------------------------------------------------- file writers


def _pad4(data):
    return data + b"\0" * (-len(data) % 4)


def _info_header(width, height, bits, image_size, colours, pels_per_metre=2835):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, pels_per_metre, pels_per_metre,
                       colours, 0)


def _palette_bytes(palette, count):
    entries = list(palette) + [(0, 0, 0)] * (count - len(palette))
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in entries)


def _pack_row(values, bits):
    """Packs one row of pixel values (indices, or (r,g,b[,a]) tuples) into DIB order, padded to 32 bits."""
    if bits == 1:
        out = bytearray((len(values) + 7) // 8)
        for x, v in enumerate(values):
            if v:
                out[x // 8] |= 0x80 >> (x % 8)
        return _pad4(bytes(out))
    if bits == 4:
        out = bytearray((len(values) + 1) // 2)
        for x, v in enumerate(values):
            out[x // 2] |= v << (4 if x % 2 == 0 else 0)
        return _pad4(bytes(out))
    if bits == 8:
        return _pad4(bytes(values))
    if bits == 24:
        return _pad4(b"".join(struct.pack("<BBB", b, g, r) for r, g, b in values))
    if bits == 32:
        return b"".join(struct.pack("<BBBB", b, g, r, a) for r, g, b, a in values)
    raise ValueError(bits)


def _rows(img):
    """Rows of pixel values, bottom-up as a DIB stores them."""
    w, h = img.size
    data = list(img.getdata())
    return [data[y * w:(y + 1) * w] for y in range(h - 1, -1, -1)]


def write_bmp(path, img, bits):
    """Writes an uncompressed Windows 3 BMP: 24 bits from an RGB image, 4 bits from a P image of at most 16 colours."""
    if bits == 24:
        assert img.mode == "RGB"
        palette, colours = b"", 0
    else:
        assert img.mode == "P" and bits == 4
        pal = img.getpalette()[:48]
        palette = _palette_bytes([tuple(pal[i:i + 3]) for i in range(0, len(pal), 3)], 16)
        colours = 16
    pixels = b"".join(_pack_row(row, bits) for row in _rows(img))
    header = _info_header(img.width, img.height, bits, len(pixels), colours) + palette
    offset = 14 + len(header)
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset))
        f.write(header + pixels)


def _icon_image(rgba, bits, fixed):
    """One icon image in DIB form (header, palette, colour bits, AND mask) and its palette size."""
    w, h = rgba.size
    opaque = [a >= 128 for (_, _, _, a) in rgba.getdata()]
    if bits == 32:
        opaque = [a > 0 for (_, _, _, a) in rgba.getdata()]
        colour = b"".join(_pack_row(row, 32) for row in _rows(rgba))
        palette, count = b"", 0
    else:
        count = 1 << bits
        index_img, pal = _quantize_opaque(rgba, opaque, count, fixed)
        palette = _palette_bytes(pal, count)
        colour = b"".join(_pack_row(row, bits) for row in _rows(index_img))
    mask_img = Image.new("L", (w, h))
    mask_img.putdata([0 if o else 1 for o in opaque])
    mask = b"".join(_pack_row(row, 1) for row in _rows(mask_img))
    header = _info_header(w, 2 * h, bits, len(colour) + len(mask), 0, pels_per_metre=0)
    return header + palette + colour + mask, (count if bits == 4 else 0)


def _quantize_opaque(rgba, opaque, count, fixed):
    """Maps the opaque pixels onto a palette of count-1 colours, the fixed ones if given, else
    computed; transparent pixels take black, which the AND mask turns into 'show the screen'."""
    w, h = rgba.size
    rgb = Image.new("RGB", (w, h))
    src = list(rgba.getdata())
    fill = next(p[:3] for p, o in zip(src, opaque) if o)
    rgb.putdata([p[:3] if o else fill for p, o in zip(src, opaque)])
    if fixed and len(fixed) < count:
        pal = list(fixed)

        def nearest(c):
            return min(range(len(pal)), key=lambda i: sum((a - b) ** 2 for a, b in zip(c, pal[i])))

        q = Image.new("L", (w, h))
        q.putdata([nearest(c) for c in rgb.getdata()])
    else:
        q = rgb.quantize(colors=count - 1, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
        flat = q.getpalette()
        used = max(q.getdata()) + 1
        pal = [tuple(flat[i * 3:i * 3 + 3]) for i in range(used)]
    black = len(pal)
    pal.append((0, 0, 0))
    index_img = Image.new("L", (w, h))
    index_img.putdata([i if o else black for i, o in zip(q.getdata(), opaque)])
    return index_img, pal


def write_ico(path, images, palette4):
    """Writes an icon file from (rgba image, bits) pairs, in the order given; 4-bit images take palette4."""
    blobs = [_icon_image(img, bits, palette4 if bits == 4 else None) for img, bits in images]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for (img, bits), (blob, colours) in zip(images, blobs):
        directory += struct.pack("<BBBBHHII", img.width % 256, img.height % 256, colours, 0, 1, bits, len(blob),
                                 offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(directory + b"".join(blob for blob, _ in blobs))


# ---------------------------------------------------------------- the logo and icon

# The mark's colours. A 4-bit icon takes exactly these (and black for its
# transparent pixels) instead of a computed palette, which would merge the
# small red and orange details into grey.
MARK = {
    "tile_top": (64, 158, 100),
    "tile_mid": (40, 124, 76),
    "tile_bottom": (18, 92, 54),
    "tile_edge": (12, 64, 36),
    "paper": (255, 255, 255),
    "back_paper": (206, 218, 228),
    "sheet_edge": (96, 112, 128),
    "ink_blue": (36, 92, 200),
    "ink_red": (214, 48, 40),
    "body_top": (244, 247, 249),
    "body_mid": (214, 222, 228),
    "body_bottom": (184, 196, 206),
    "body_edge": (52, 66, 78),
    "slot": (34, 42, 50),
    "light": (255, 168, 32),
}


def _rgba(name):
    return MARK[name] + (255,)


def _gradient(size, top, bottom):
    w, h = size
    g = Image.new("RGBA", size)
    d = ImageDraw.Draw(g)
    for y in range(h):
        t = y / max(1, h - 1)
        d.line([(0, y), (w, y)], fill=tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)) + (255,))
    return g


def _paste_gradient(canvas, box, radius, top, bottom, outline, line):
    """A rounded box filled with a vertical gradient and a drawn outline."""
    x0, y0, x1, y1 = box
    mask = Image.new("L", canvas.size)
    ImageDraw.Draw(mask).rounded_rectangle(box, radius=radius, fill=255)
    grad = Image.new("RGBA", canvas.size)
    grad.paste(_gradient((x1 - x0 + 1, y1 - y0 + 1), top, bottom), (x0, y0))
    canvas.paste(grad, (0, 0), mask)
    ImageDraw.Draw(canvas).rounded_rectangle(box, radius=radius, outline=outline, width=line)


def draw_motif(n):
    """The product's mark at n x n pixels, on a transparent background: a dark green tile with a
    stack of drawing sheets going into a printer and a printed sheet coming out.

    Coordinates are given on a 64 grid and snapped to whole target pixels before drawing at
    SUPERSAMPLE times the size, so that edges stay sharp after the reduction. The 16 px mark
    is drawn pixel by pixel instead."""
    if n == 16:
        return _mark16()
    k = SUPERSAMPLE

    def p(v):
        return round(v * n / 64) * k

    def c(v):
        # The centre of the target pixel at v: a one-pixel line drawn there covers exactly that pixel.
        return p(v) + k // 2

    def box(x0, y0, x1, y1):
        return [p(x0), p(y0), p(x1) - 1, p(y1) - 1]

    def rule(x0, x1, y, colour):
        # A one-pixel horizontal line at whatever size: rounding must not thin it away.
        top = (y * n // 64) * k
        d.rectangle([p(x0), top, p(x1) - 1, top + k - 1], fill=_rgba(colour))

    line = k  # one target pixel
    img = Image.new("RGBA", (n * k, n * k), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)

    _paste_gradient(img, box(1, 1, 63, 63), p(12), MARK["tile_top"], MARK["tile_bottom"], _rgba("tile_edge"), line)

    # Sheets waiting in the feeder: the back one offset up and right, so the stack reads as a batch.
    d.rectangle(box(24, 6, 50, 34), fill=_rgba("back_paper"), outline=_rgba("sheet_edge"), width=line)
    d.rectangle(box(16, 10, 44, 36), fill=_rgba("paper"), outline=_rgba("sheet_edge"), width=line)
    # A drawing on the front sheet: border frame, and where there is room a part outline and a hole.
    d.rectangle(box(20, 14, 40, 32), outline=_rgba("ink_blue"), width=line)
    if n >= 48:
        d.line([c(23), c(27), c(29), c(19), c(36) - 1, c(19)], fill=_rgba("ink_blue"), width=line)
        d.ellipse(box(31, 23, 37, 29), outline=_rgba("ink_red"), width=line)

    # The printer body over the lower part of the sheets.
    _paste_gradient(img, box(7, 30, 57, 52), p(5), MARK["body_top"], MARK["body_bottom"], _rgba("body_edge"), line)
    d.rectangle(box(12, 43, 52, 46), fill=_rgba("slot"))
    d.rectangle(box(46, 34, 50, 37), fill=_rgba("light"))

    # The printed sheet coming out of the slot.
    d.rectangle(box(17, 45, 47, 61), fill=_rgba("paper"), outline=_rgba("sheet_edge"), width=line)
    rule(21, 43, 51, "ink_blue")
    rule(21, 35, 55, "ink_blue")

    # Reduce with premultiplied alpha, so transparent black does not darken the edges.
    return img.convert("RGBa").resize((n, n), Image.Resampling.BOX).convert("RGBA")


# The 16 px mark is drawn by hand: reduced from the large drawing, its one-pixel
# edges fall between pixels and the sheets blur into the tile.
MARK16 = [
    ".DDDDDDDDDDDDDD.",
    "DTTTTeeeeeeeeTTD",
    "DTTeeeeeeeeseTTD",
    "DTTeWWWWWWeseTTD",
    "DTTeWbbbbWeseTTD",
    "DTkkkkkkkkkkkkTD",
    "DTkHHHHHHHHoHkTD",
    "DTkMMMMMMMMMMkTD",
    "DTkLQQQQQQQQLkTD",
    "DTkLLeWWWWeLLkTD",
    "DTkkkeWWWWekkkTD",
    "DTTTTeWbbWeTTTTD",
    "DTTTTeWWWWeTTTTD",
    "DTTTTeWbbWeTTTTD",
    "DTTTTeeeeeeTTTTD",
    ".DDDDDDDDDDDDDD.",
]
MARK16_KEYS = {
    "D": "tile_edge", "s": "back_paper", "e": "sheet_edge", "W": "paper", "b": "ink_blue", "k": "body_edge",
    "H": "body_top", "M": "body_mid", "L": "body_bottom", "Q": "slot", "o": "light",
}


def _mark16():
    img = Image.new("RGBA", (16, 16), (0, 0, 0, 0))
    tile = [MARK["tile_top"]] * 5 + [MARK["tile_mid"]] * 5 + [MARK["tile_bottom"]] * 6
    for y, row in enumerate(MARK16):
        assert len(row) == 16, row
        for x, key in enumerate(row):
            if key == "T":
                img.putpixel((x, y), tile[y] + (255,))
            elif key != ".":
                img.putpixel((x, y), _rgba(MARK16_KEYS[key]))
    return img


def draw_logo():
    logo = Image.new("RGBA", (64, 64), DIALOG_GREEN + (255,))
    logo.alpha_composite(draw_motif(64))
    return logo.convert("RGB")


# ---------------------------------------------------------------- the menu picture

# The 16 colours of the menu picture: a CAD's dark theme and the red of the arrow.
MENU_PALETTE = [
    (30, 34, 40),  # 0 drawing area
    (56, 61, 70),  # 1 menu bar
    (222, 226, 230),  # 2 menu bar text
    (82, 94, 112),  # 3 the opened menu's title
    (45, 49, 56),  # 4 drop-down menu
    (104, 112, 124),  # 5 drop-down border
    (242, 242, 242),  # 6 drop-down text
    (22, 24, 28),  # 7 shadow
    (38, 43, 51),  # 8 drawing grid
    (228, 30, 30),  # 9 arrow
    (160, 32, 35),  # 10 arrow edge, 2/3 red
    (94, 33, 38),  # 11 arrow edge, 1/3 red
    (70, 78, 90),  # 12 separator in the bar
    (0, 0, 0),  # 13-15 unused
    (255, 255, 255),
    (128, 128, 128),
]
DRAWING_AREA = (0, 8)


class MenuText:
    """Menu labels drawn at 1:1 without smoothing, CJK and ASCII from their own fonts on one baseline."""

    def __init__(self, draw):
        self.draw = draw
        self.cjk = ImageFont.truetype(CJK_FONT[0], CJK_FONT[2], index=CJK_FONT[1])
        self.latin = ImageFont.truetype(LATIN_FONT[0], LATIN_FONT[2], index=LATIN_FONT[1])

    def _runs(self, text):
        run, font = "", None
        for ch in text:
            f = self.latin if ord(ch) < 128 else self.cjk
            if f is not font and run:
                yield run, font
                run = ""
            run, font = run + ch, f
        if run:
            yield run, font

    def width(self, text):
        return round(sum(self.draw.textlength(run, font=f) for run, f in self._runs(text)))

    def draw_at(self, x, baseline, text, fill):
        for run, f in self._runs(text):
            self.draw.text((round(x), baseline), run, font=f, fill=fill, anchor="ls")
            x += self.draw.textlength(run, font=f)


def draw_menu():
    width, height = 317, 120
    bar_h = 22
    img = Image.new("P", (width, height), 0)
    img.putpalette([c for rgb in MENU_PALETTE for c in rgb])
    d = ImageDraw.Draw(img)
    d.fontmode = "1"
    text = MenuText(d)

    for x in range(8, width, 24):
        d.line([(x, bar_h), (x, height)], fill=8)
    for y in range(bar_h + 14, height, 24):
        d.line([(0, y), (width, y)], fill=8)

    d.rectangle([0, 0, width - 1, bar_h - 1], fill=1)
    d.line([(0, bar_h - 1), (width - 1, bar_h - 1)], fill=7)
    baseline = 15
    x = 0
    for name in ["修改(M)", "窗口(W)", "帮助(H)"]:
        text.draw_at(x + 6, baseline, name, 2)
        x += text.width(name) + 12
    d.line([(x + 1, 4), (x + 1, bar_h - 5)], fill=12)
    x += 4

    title = "T_批打印"
    title_box = [x, 1, x + text.width(title) + 11, bar_h - 2]
    d.rectangle(title_box, fill=3)
    text.draw_at(x + 6, baseline, title, 6)

    entries = ["单张打印到文件", "批打到文件(通用型)", "批打到文件(图框型)"]
    entry_h = 22
    menu_w = max(text.width(e) for e in entries) + 30
    mx0, my0 = x, bar_h
    mx1, my1 = mx0 + menu_w - 1, my0 + 3 + entry_h * len(entries) + 2
    if mx1 + 3 >= width:
        sys.exit(f"the drop-down ends at x={mx1 + 3}, outside the {width} px picture")
    d.rectangle([mx0 + 3, my0 + 3, mx1 + 3, my1 + 3], fill=7)
    d.rectangle([mx0, my0, mx1, my1], fill=4, outline=5)
    for i, entry in enumerate(entries):
        text.draw_at(mx0 + 12, my0 + 3 + i * entry_h + baseline, entry, 6)

    _draw_arrow(img, tail=(40, 108), tip=(title_box[0] - 3, bar_h + 3))
    return img


def _draw_arrow(img, tail, tip):
    """A thick red arrow from tail to tip, drawn large and reduced onto the picture with three
    shades of red, the only smoothing the palette leaves room for."""
    k = SUPERSAMPLE
    cover = Image.new("L", (img.width * k, img.height * k), 0)
    d = ImageDraw.Draw(cover)
    (tx, ty), (hx, hy) = tail, tip
    length = math.hypot(hx - tx, hy - ty)
    ux, uy = (hx - tx) / length, (hy - ty) / length
    nx, ny = -uy, ux
    head_len, head_half, shaft_half = 20, 11, 3.2
    bx, by = hx - ux * head_len, hy - uy * head_len

    def pt(x, y):
        return ((x + 0.5) * k, (y + 0.5) * k)

    d.polygon([pt(tx + nx * shaft_half, ty + ny * shaft_half), pt(bx + nx * shaft_half, by + ny * shaft_half),
               pt(bx - nx * shaft_half, by - ny * shaft_half), pt(tx - nx * shaft_half, ty - ny * shaft_half)],
              fill=255)
    d.polygon([pt(hx, hy), pt(bx + nx * head_half, by + ny * head_half), pt(bx - nx * head_half, by - ny * head_half)],
              fill=255)
    cover = cover.resize(img.size, Image.Resampling.BOX)
    px = img.load()
    for y in range(img.height):
        for x in range(img.width):
            c = cover.getpixel((x, y))
            if c >= 200:
                px[x, y] = 9
            elif px[x, y] in DRAWING_AREA and c >= 40:
                # The palette holds blends of the red with the dark drawing area only.
                px[x, y] = 10 if c >= 120 else 11
            elif c >= 120:
                px[x, y] = 9


# ---------------------------------------------------------------- main


def main():
    for path, package in ((CJK_FONT[0], "fonts-wqy-zenhei"), (LATIN_FONT[0], "fonts-dejavu-core")):
        if not os.path.exists(path):
            sys.exit(f"{path} is missing: apt-get install {package}")

    write_bmp(os.path.join(RES, "logo.bmp"), draw_logo(), 24)
    write_bmp(os.path.join(RES, "menu.bmp"), draw_menu(), 4)

    motifs = {n: draw_motif(n) for n in (48, 32, 16)}
    write_ico(os.path.join(RES, "setup.ico"), [(motifs[n], bits) for bits in (4, 8, 32) for n in (48, 32, 16)],
              list(MARK.values()))


if __name__ == "__main__":
    main()
