#!/usr/bin/python3
"""Draws the launcher's own art into src/resources/art: the nine window images, the
application icon and, for the Linux port's icon theme, the icon as PNG files at the usual sizes
(icon-SIZE.png). Run it again after changing the art and commit what it writes:

    /usr/bin/python3 tools/make-art.py [--icons-only]

Everything is drawn from code (Pillow from Debian's python3-pil) with a fixed random seed, so
the same Pillow version gives the same files.
"""
import math
import os
import random
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter

ART = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "resources", "art")

# The background is stored at 1672 x 941 and drawn squeezed into 1030 x 368 pixels of the
# window, so the scene is composed at the size it is seen and then stretched for storage.
SEEN_W, SEEN_H = 1030, 368
STORED = (1672, 941)
SS = 2  # supersampling of every drawing


def rgb(hex_colour, alpha=255):
    value = int(hex_colour.lstrip("#"), 16)
    return ((value >> 16) & 255, (value >> 8) & 255, value & 255, alpha)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(len(a)))


def vertical_gradient(size, stops):
    """stops: list of (position 0..1, colour)."""
    w, h = size
    column = Image.new("RGBA", (1, h))
    for y in range(h):
        t = y / max(1, h - 1)
        for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
            if p0 <= t <= p1:
                column.putpixel((0, y), mix(c0, c1, (t - p0) / max(1e-9, p1 - p0)))
                break
    return column.resize((w, h))


def glow(size, centre, radii, colour, blur):
    layer = Image.new("RGBA", size, colour[:3] + (0,))
    mask = Image.new("L", size, 0)
    cx, cy = centre
    rx, ry = radii
    ImageDraw.Draw(mask).ellipse((cx - rx, cy - ry, cx + rx, cy + ry), fill=colour[3])
    layer.putalpha(mask.filter(ImageFilter.GaussianBlur(blur)))
    return layer


def ridge(width, base, amplitude, roughness, rng):
    """Heights of a mountain ridge by midpoint displacement: broad shapes, sharp peaks."""
    points = 2 ** math.ceil(math.log2(width)) + 1
    heights = [0.0] * points
    heights[0], heights[-1] = rng.uniform(-0.5, 0.5), rng.uniform(-0.5, 0.5)
    step, spread = points - 1, 1.0
    while step > 1:
        half = step // 2
        for i in range(half, points, step):
            heights[i] = (heights[i - half] + heights[i + half]) / 2 + rng.uniform(-spread, spread)
        step, spread = half, spread * roughness
    low, high = min(heights), max(heights)
    return [base - amplitude * ((heights[x] - low) / (high - low) * 2 - 1) for x in range(width)]


def ridge_layer(size, heights, top_colour, bottom_colour):
    w, h = size
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).polygon([(0, h)] + [(x, heights[x]) for x in range(w)] + [(w - 1, h)], fill=255)
    top = int(min(heights))
    fill = vertical_gradient((w, h - top), [(0, top_colour), (1, bottom_colour)])
    layer = Image.new("RGBA", size, (0, 0, 0, 0))
    layer.paste(fill, (0, top))
    layer.putalpha(ImageChops.multiply(mask, layer.getchannel("A")))
    return layer


def background():
    rng = random.Random(380)
    size = (SEEN_W * SS, SEEN_H * SS)
    w, h = size
    scene = vertical_gradient(size, [
        (0.0, rgb("#070B1A")),
        (0.45, rgb("#0E1836")),
        (0.75, rgb("#172A52")),
        (1.0, rgb("#101A33")),
    ])

    # Aurora: two soft ribbons across the upper sky.
    for colour, amplitude, offset, thickness in ((rgb("#2BC4C8", 70), 26, 92, 22), (rgb("#3A6CF0", 60), 34, 130, 30)):
        ribbon = Image.new("L", size, 0)
        draw = ImageDraw.Draw(ribbon)
        for x in range(0, w, 2):
            centre = (offset + amplitude * math.sin(x / (170 * SS) + offset) + 12 * math.sin(x / (47 * SS))) * SS
            draw.line((x, centre - thickness * SS, x, centre + thickness * SS * 0.35), fill=colour[3], width=2)
        ribbon = ribbon.filter(ImageFilter.GaussianBlur(18 * SS))
        layer = Image.new("RGBA", size, colour[:3] + (0,))
        layer.putalpha(ribbon)
        scene = Image.alpha_composite(scene, layer)

    # Halo behind the game title (seen at 330, 98 of the art).
    scene = Image.alpha_composite(scene, glow(size, (330 * SS, 100 * SS), (300 * SS, 120 * SS), rgb("#2E5FA8", 120), 60 * SS))

    # Stars, denser and brighter high up.
    stars = Image.new("RGBA", size, (0, 0, 0, 0))
    draw = ImageDraw.Draw(stars)
    for _ in range(520):
        x = rng.uniform(0, w)
        y = (rng.random() ** 1.7) * h * 0.62
        brightness = int(rng.uniform(40, 150) * (1.0 - y / (h * 0.8)))
        r = rng.choice((0.6, 0.8, 1.0, 1.0, 1.3)) * SS
        tint = rng.choice(("#FFFFFF", "#CFE6FF", "#FFF4DA"))
        draw.ellipse((x - r, y - r, x + r, y + r), fill=rgb(tint, max(0, brightness)))
    for _ in range(14):  # a few with a small glow
        x, y = rng.uniform(0, w), rng.uniform(0, h * 0.45)
        stars = Image.alpha_composite(stars, glow(size, (x, y), (3 * SS, 3 * SS), rgb("#DDEBFF", 150), 2 * SS))
        ImageDraw.Draw(stars).ellipse((x - 1.4 * SS, y - 1.4 * SS, x + 1.4 * SS, y + 1.4 * SS), fill=rgb("#FFFFFF", 230))
    scene = Image.alpha_composite(scene, stars)

    # Crescent moon between the title and the accounts panel.
    moon_x, moon_y, moon_r = 628 * SS, 58 * SS, 17 * SS
    scene = Image.alpha_composite(scene, glow(size, (moon_x, moon_y), (moon_r * 2.2, moon_r * 2.2), rgb("#9CC8FF", 70), 14 * SS))
    moon = Image.new("L", size, 0)
    ImageDraw.Draw(moon).ellipse((moon_x - moon_r, moon_y - moon_r, moon_x + moon_r, moon_y + moon_r), fill=255)
    ImageDraw.Draw(moon).ellipse((moon_x - moon_r + 9 * SS, moon_y - moon_r - 5 * SS,
                                  moon_x + moon_r + 9 * SS, moon_y + moon_r - 5 * SS), fill=0)
    layer = Image.new("RGBA", size, rgb("#E9F2FF")[:3] + (0,))
    layer.putalpha(moon.filter(ImageFilter.GaussianBlur(0.6 * SS)))
    scene = Image.alpha_composite(scene, layer)

    # Mountain ridges, far to near, each with mist at its foot.
    layers = [
        (190, 58, 0.56, "#2A4579", "#1A2C55"),
        (246, 48, 0.54, "#1A2D58", "#12203F"),
        (298, 34, 0.52, "#101B38", "#0C142B"),
        (346, 20, 0.5, "#0A1022", "#080C1A"),
    ]
    for base, amplitude, roughness, top, bottom in layers:
        heights = ridge(w, base * SS, amplitude * SS, roughness, rng)
        scene = Image.alpha_composite(scene, ridge_layer(size, heights, rgb(top), rgb(bottom)))
        mist = glow(size, (w // 2, (base + 8) * SS), (w * 0.75, 16 * SS), rgb("#5C7CC0", 34), 14 * SS)
        scene = Image.alpha_composite(scene, mist)

    # Lights of a small settlement in the valley, warm and few.
    lights = Image.new("RGBA", size, (0, 0, 0, 0))
    for _ in range(26):
        x = rng.gauss(470, 60) * SS
        y = rng.uniform(318, 338) * SS
        lights = Image.alpha_composite(lights, glow(size, (x, y), (2.2 * SS, 1.6 * SS), rgb("#FFC27A", 200), 1.2 * SS))
    scene = Image.alpha_composite(scene, lights)

    # Calm the area of the status line and play button, and darken the edges.
    scene = Image.alpha_composite(scene, glow(size, (368 * SS, 240 * SS), (250 * SS, 48 * SS), rgb("#050814", 120), 30 * SS))
    vignette = Image.new("L", size, 0)
    ImageDraw.Draw(vignette).rectangle((0, 0, w, h), fill=150)
    ImageDraw.Draw(vignette).ellipse((-w * 0.15, -h * 0.55, w * 1.1, h * 1.35), fill=0)
    layer = Image.new("RGBA", size, (4, 6, 14, 0))
    layer.putalpha(vignette.filter(ImageFilter.GaussianBlur(90 * SS)))
    scene = Image.alpha_composite(scene, layer)

    return scene.convert("RGB").resize(STORED, Image.LANCZOS)


def rounded_mask(size, box, radius):
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(box, radius=radius, fill=255)
    return mask


def progress_images():
    w, h, s = 662, 18, 4
    big = (w * s, h * s)
    box = (0, 0, big[0] - 1, big[1] - 1)

    track = vertical_gradient(big, [(0, rgb("#0C1030")), (1, rgb("#181E52"))])
    rim = rounded_mask(big, box, 9 * s)
    inner = rounded_mask(big, (s, s, big[0] - 1 - s, big[1] - 1 - s), 8 * s)
    border = Image.new("RGBA", big, rgb("#343C8C"))
    track = Image.composite(track, border, inner)
    track.putalpha(rim)

    fill = Image.new("RGBA", big)
    left, right = rgb("#3D55E0"), rgb("#72C8FF")
    for x in range(big[0]):
        ImageDraw.Draw(fill).line((x, 0, x, big[1]), fill=mix(left, right, x / big[0]))
    gloss = vertical_gradient(big, [(0, rgb("#FFFFFF", 90)), (0.45, rgb("#FFFFFF", 18)), (0.5, rgb("#FFFFFF", 0)), (1, rgb("#000000", 40))])
    fill = Image.alpha_composite(fill, gloss)
    fill.putalpha(rim)
    return track.resize((w, h), Image.LANCZOS), fill.resize((w, h), Image.LANCZOS)


def badge(colour, glyph):
    w, h, s = 38, 50, 8
    big = (w * s, h * s)
    base = vertical_gradient(big, [(0, mix(rgb(colour), rgb("#FFFFFF"), 0.18)), (1, mix(rgb(colour), rgb("#000000"), 0.35))])
    shape = Image.new("L", big, 0)
    draw = ImageDraw.Draw(shape)
    # A tag: rounded body with a notch at the bottom.
    draw.rounded_rectangle((0, 0, big[0] - 1, big[1] - 1 - 8 * s), radius=7 * s, fill=255)
    draw.polygon(((6 * s, big[1] - 9 * s), (big[0] - 6 * s, big[1] - 9 * s), (big[0] // 2, big[1] - 1)), fill=255)
    base.putalpha(shape)
    ink = ImageDraw.Draw(base)
    white = rgb("#FFFFFF", 245)
    cx, cy = big[0] / 2, 19 * s
    if glyph == "wait":  # hourglass
        ink.line((cx - 8 * s, cy - 11 * s, cx + 8 * s, cy - 11 * s), fill=white, width=3 * s)
        ink.line((cx - 8 * s, cy + 11 * s, cx + 8 * s, cy + 11 * s), fill=white, width=3 * s)
        ink.polygon(((cx - 6 * s, cy - 9 * s), (cx + 6 * s, cy - 9 * s), (cx, cy)), fill=white)
        ink.polygon(((cx, cy), (cx + 6 * s, cy + 9 * s), (cx - 6 * s, cy + 9 * s)), outline=white, width=2 * s)
        ink.polygon(((cx, cy + 3 * s), (cx + 4 * s, cy + 9 * s), (cx - 4 * s, cy + 9 * s)), fill=white)
    elif glyph == "ready":  # check mark
        ink.line(((cx - 9 * s, cy), (cx - 3 * s, cy + 7 * s), (cx + 10 * s, cy - 8 * s)), fill=white, width=4 * s, joint="curve")
    else:  # cross
        ink.line((cx - 8 * s, cy - 8 * s, cx + 8 * s, cy + 8 * s), fill=white, width=4 * s)
        ink.line((cx - 8 * s, cy + 8 * s, cx + 8 * s, cy - 8 * s), fill=white, width=4 * s)
    # Thin light rim along the top.
    rim = Image.new("RGBA", big, (0, 0, 0, 0))
    ImageDraw.Draw(rim).rounded_rectangle((s, s, big[0] - 1 - s, big[1] - 1 - 9 * s), radius=6 * s, outline=rgb("#FFFFFF", 60), width=s)
    base = Image.alpha_composite(base, rim)
    base.putalpha(ImageChops.multiply(base.getchannel("A"), shape))
    return base.resize((w, h), Image.LANCZOS)


def close_glyph(colour):
    w, h, s = 16, 19, 8
    big = Image.new("RGBA", (w * s, h * s), rgb(colour)[:3] + (0,))
    ink = ImageDraw.Draw(big)
    m = 3.5 * s
    top = (h - (w - 2 * m / s)) / 2 * s
    ink.line((m, top, w * s - m, top + w * s - 2 * m), fill=rgb(colour), width=int(1.8 * s))
    ink.line((m, top + w * s - 2 * m, w * s - m, top), fill=rgb(colour), width=int(1.8 * s))
    return big.resize((w, h), Image.LANCZOS)


def icon_image(size):
    s = 8
    big = (size * s, size * s)
    tile = vertical_gradient(big, [(0, rgb("#2A3CC4")), (1, rgb("#101A5A"))])
    shape = rounded_mask(big, (0, 0, big[0] - 1, big[1] - 1), int(size * s * 0.22))
    tile = Image.alpha_composite(tile, glow(big, (big[0] * 0.5, big[1] * 0.3), (big[0] * 0.45, big[1] * 0.3), rgb("#86DFFF", 110), big[0] * 0.12))
    ink = ImageDraw.Draw(tile)
    width = max(2 * s, int(size * s * 0.14))
    points = ((big[0] * 0.24, big[1] * 0.26), (big[0] * 0.5, big[1] * 0.76), (big[0] * 0.76, big[1] * 0.26))
    ink.line(points, fill=rgb("#FFFFFF"), width=width, joint="curve")
    tile.putalpha(shape)
    return tile.resize((size, size), Image.LANCZOS)


def write_ico(path, images):
    """An icon file with one 32-bit DIB entry (BGRA rows bottom-up and an AND mask) per image."""
    header = struct.pack("<HHH", 0, 1, len(images))
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for image in images:
        w, h = image.size
        pixels = image.convert("RGBA").load()
        rows = b""
        for y in range(h - 1, -1, -1):
            for x in range(w):
                r, g, b, a = pixels[x, y]
                rows += bytes((b, g, r, a))
        mask_row = ((w + 31) // 32) * 4
        mask = b""
        for y in range(h - 1, -1, -1):
            bits = bytearray(mask_row)
            for x in range(w):
                if pixels[x, y][3] == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(bits)
        info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(rows) + len(mask), 0, 0, 0, 0)
        blob = info + rows + mask
        entries += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        blobs += blob
        offset += len(blob)
    with open(path, "wb") as out:
        out.write(header + entries + blobs)


ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def main():
    os.makedirs(ART, exist_ok=True)
    for size in ICON_SIZES:
        icon_image(size).save(os.path.join(ART, "icon-%d.png" % size), optimize=True)
    if sys.argv[1:] == ["--icons-only"]:
        print("icons written to", os.path.normpath(ART))
        return 0
    track, fill = progress_images()
    images = {
        "background.png": background(),
        "frame.png": None,
        "progress-background.png": track,
        "progress-fill.png": fill,
        "state-wait.png": badge("#E8A33A", "wait"),
        "state-ready.png": badge("#22B45A", "ready"),
        "state-error.png": badge("#E0484E", "error"),
        "close.png": close_glyph("#D9DBE6"),
        "close-hover.png": close_glyph("#FF5F5F"),
    }
    images["frame.png"] = frame()
    for name, image in images.items():
        image.save(os.path.join(ART, name), optimize=True)
    write_ico(os.path.join(ART, "launcher.ico"), [icon_image(16), icon_image(32), icon_image(48)])
    print("art written to", os.path.normpath(ART))
    return 0


def frame():
    """757 x 516: a dark glass panel with a soft rim and a light line along the top."""
    w, h, s = 757, 516, 2
    big = (w * s, h * s)
    panel = vertical_gradient(big, [(0, rgb("#1A2244", 236)), (1, rgb("#0C1024", 244))])
    shape = rounded_mask(big, (0, 0, big[0] - 1, big[1] - 1), 16 * s)
    rim = Image.new("RGBA", big, (0, 0, 0, 0))
    ImageDraw.Draw(rim).rounded_rectangle((s, s, big[0] - 1 - s, big[1] - 1 - s), radius=15 * s, outline=rgb("#3A4A96", 200), width=s)
    ImageDraw.Draw(rim).line((24 * s, 2 * s, big[0] - 24 * s, 2 * s), fill=rgb("#86DFFF", 120), width=s)
    panel = Image.alpha_composite(panel, glow(big, (big[0] // 2, 0), (big[0] * 0.45, 60 * s), rgb("#2E5FA8", 70), 40 * s))
    panel = Image.alpha_composite(panel, rim)
    panel.putalpha(ImageChops.multiply(panel.getchannel("A"), shape))
    return panel.resize((w, h), Image.LANCZOS)


if __name__ == "__main__":
    sys.exit(main())
