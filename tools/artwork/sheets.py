"""The two review pictures: a contact sheet of every image at its drawn size
and a mock-up of the window as the editor composes it.

The mock-up repeats the editor's placements and its ways of drawing (the
meter bars and the mix ring cut by their masks, the pointer rotated, the value
texts printed in the framework's default face), so it shows what the product
will look like before the editor exists.
"""

import math
import os

import cairo
import numpy as np
from PIL import Image

import pad_geometry
import theme
from canvas import Canvas, SCALE, draw_text, rgba, save_png

SHEET_BACKGROUND = (250, 251, 253)
LIMIT_BYTES = 480 * 1024


# --- helpers ------------------------------------------------------------------------
def _surface(image):
    """Premultiplied cairo surface from a PIL RGBA image."""
    rgba_pixels = np.asarray(image.convert("RGBA"), np.float32)
    alpha = rgba_pixels[..., 3:4] / 255.0
    bgra = np.empty(rgba_pixels.shape, np.uint8)
    bgra[..., :3] = np.rint(rgba_pixels[..., [2, 1, 0]] * alpha)
    bgra[..., 3] = rgba_pixels[..., 3]
    bgra = np.ascontiguousarray(bgra)
    surface = cairo.ImageSurface.create_for_data(
        memoryview(bgra), cairo.FORMAT_ARGB32, image.width, image.height, image.width * 4)
    return surface


def _paste(cv, image, x, y, clip=None):
    """Draws image (already at the canvas's pixel scale) with its top-left
    corner at display point (x, y), optionally clipped to a display rect."""
    ctx = cairo.Context(cv.surface)
    if clip is not None:
        cx, cy, cw, ch = clip
        ctx.rectangle(cx * cv.scale, cy * cv.scale, cw * cv.scale, ch * cv.scale)
        ctx.clip()
    ctx.set_source_surface(_surface(image), x * cv.scale, y * cv.scale)
    ctx.paint()
    cv.surface.flush()


def _half(image):
    w, h = image.size
    return image.convert("RGBa").resize((w // 2, h // 2), Image.LANCZOS).convert("RGBA")


def _erase_where(image, draw):
    """Copy of image with every pixel that draw(ctx) touches made fully
    transparent (the editor's mask rule: any non-zero mask alpha)."""
    surface = cairo.ImageSurface(cairo.FORMAT_A8, image.width, image.height)
    ctx = cairo.Context(surface)
    draw(ctx)
    ctx.fill()
    surface.flush()
    mask = np.frombuffer(surface.get_data(), np.uint8).reshape(image.height, -1)[:, : image.width]
    pixels = np.array(image.convert("RGBA"))
    pixels[mask > 0] = 0
    return Image.fromarray(pixels, "RGBA")


def _arc_points(cx, cy, r, start, end, steps=48):
    """Points of a framework arc: angle 0 at 12 o'clock, growing clockwise."""
    return [(cx + r * math.sin(start + (end - start) * i / steps),
             cy - r * math.cos(start + (end - start) * i / steps)) for i in range(steps + 1)]


def _polygon(ctx, points):
    ctx.move_to(*points[0])
    for p in points[1:]:
        ctx.line_to(*p)
    ctx.close_path()


def _editor_text(cv, text, rect, height):
    """A value text as the editor prints it: the default face at a font
    height (ascent plus descent) of `height`, centred in rect."""
    ascent, descent = 0.928, 0.236   # DejaVu Sans, in ems
    size = height / (ascent + descent)
    x, y, w, h = rect
    baseline = y + (h - height) / 2.0 + ascent * size
    draw_text(cv.ctx, text, x + w / 2.0, baseline, theme.FONT_EDITOR_DEFAULT, size,
              theme.VALUE_BLUE)


def save_small(image, path):
    """Saves a review picture, reduced to a palette if it would be large."""
    save_png(image, path)
    if os.path.getsize(path) > LIMIT_BYTES:
        reduced = image.convert("RGB").quantize(256, method=Image.Quantize.MEDIANCUT,
                                                dither=Image.Dither.FLOYDSTEINBERG)
        save_png(reduced, path)


# --- the window ----------------------------------------------------------------------
def _meter_bars(cv, bar_image, levels_db, group_x):
    """Stereo bars of one side, as the level meter cuts and places them."""
    seg_x, seg_y = theme.IO_SEGMENT[:2]
    w, h = bar_image.size
    r = w / 2.0
    for x, level in zip(group_x, levels_db):
        offset = level * -355.0 / 60.0
        top = 2.0 * (offset + 2.0)

        def dome(ctx, top=top):
            _polygon(ctx, _arc_points(r, 2.0, r, -math.pi / 2, math.pi / 2)
                     + [(w, top)] + _arc_points(r, top, r, math.pi / 2, -math.pi / 2))
        _paste(cv, _erase_where(bar_image, dome), seg_x + x, seg_y + theme.METER_BAR_TOP)


def _faders(cv, thumb, gains_db):
    seg_x, seg_y = theme.IO_SEGMENT[:2]
    for (fx, fy, fw, fh), gain in zip((theme.INPUT_FADER, theme.OUTPUT_FADER), gains_db):
        height = theme.FADER_TRAVEL
        thumb_y = (theme.FADER_TRAVEL_TOP + height) - (gain + 20.0) * height / 40.0 - 38.0
        top = int(thumb_y)
        x, y = seg_x + fx, seg_y + fy
        _paste(cv, thumb, x, y + top, clip=(x, y, fw, fh))
        _editor_text(cv, "%.1f" % gain, (x, y + top, 77, 76), 13.0)


def _mix_knob(cv, images, mix_value):
    angle = math.pi + mix_value / 100.0 * 2.0 * math.pi
    mx, my = theme.MIX[:2]

    def untravelled(ctx):
        _polygon(ctx, [(158.0, 158.0)] + _arc_points(158.0, 158.0, 160.0, angle, 3 * math.pi))
    ring = _erase_where(images[47], untravelled)
    rx, ry = theme.MIX_RING[:2]
    _paste(cv, ring, mx + rx, my + ry)
    _paste(cv, images[46], mx, my)
    pointer = images[45].rotate(-math.degrees(angle), resample=Image.BICUBIC,
                                center=(195.0, 195.0))
    _paste(cv, pointer, mx, my)
    _editor_text(cv, "%.1f" % mix_value, (mx + 67, my + 87, 60, 20), 20.0)


def window_picture(images, knobs=(0.35, 0.35), gains=(0.0, 0.0), mix=100.0,
                   link=False, auto_gain=True, levels=((-13.0, -11.0), (-9.0, -8.0)),
                   bypass=False, about=False, menu_row=None):
    """The window as the editor draws it, at twice its size."""
    width, height = theme.WINDOW
    cv = Canvas(int(width * SCALE), int(height * SCALE))
    _paste(cv, images[64], 0, 0)
    _meter_bars(cv, images[40], levels[0], (41, 56))
    _meter_bars(cv, images[40], levels[1], (115, 130))
    _faders(cv, images[42], gains)
    seg_x, seg_y = theme.IO_SEGMENT[:2]
    lx, ly = theme.LINK_TOGGLE[:2]
    _paste(cv, images[44 if link else 43], seg_x + lx, seg_y + ly)
    hx, hy = pad_geometry.handle_position(*knobs)
    _paste(cv, images[63], theme.PAD[0] + int(hx - 38), theme.PAD[1] + int(hy - 38))
    _paste(cv, images[35 if auto_gain else 34], *theme.AUTO_GAIN[:2])
    _mix_knob(cv, images, mix)
    _paste(cv, images[61], *theme.PRESETS[:2])
    _paste(cv, images[38], *theme.BYPASS[:2])
    _paste(cv, images[33], *theme.INFO[:2])
    if menu_row is not None:
        _preset_menu(cv, images, menu_row)
    if about:
        _paste(cv, images[31], *theme.ABOUT_PANEL[:2])
    if bypass:
        _paste(cv, images[37], 0, 0)
    return cv


def _preset_menu(cv, images, highlighted):
    x, y = 90, 84
    _paste(cv, images[54], x, y)
    names = ["Default", "Best Bright", "Best Dark", "Brighter", "Darker"]
    for i, name in enumerate(names):
        row_y = y + 6 + 30 * i
        _paste(cv, images[48 if i == highlighted else 49], x, row_y)
        ascent, descent = 0.928, 0.236
        size = 13.0 / (ascent + descent)
        baseline = row_y + 6 + (18 - 13.0) / 2 + ascent * size
        draw_text(cv.ctx, name, x + 12, baseline, theme.FONT_EDITOR_DEFAULT, size,
                  (0x86, 0x8c, 0x94), align="left")


def window_mockup(images, **state):
    """The 900 x 567 mock-up: controls at their default values, a little
    signal on the meters."""
    picture = window_picture(images, **state).image().convert("RGB")
    return picture.resize(theme.WINDOW, Image.LANCZOS)


# --- contact sheet ---------------------------------------------------------------------
SHEET_WIDTH = 1884
MARGIN, GAP, LABEL_SPACE = 28, 28, 42


def _checkerboard(cv, x, y, w, h):
    ctx = cv.ctx
    ctx.save()
    ctx.rectangle(x, y, w, h)
    ctx.clip()
    ctx.set_source_rgba(*rgba((255, 255, 255)))
    ctx.paint()
    ctx.set_source_rgba(*rgba((226, 230, 236)))
    step = 8
    for j in range(int(h // step) + 1):
        for i in range(int(w // step) + 1):
            if (i + j) % 2:
                ctx.rectangle(x + i * step, y + j * step, step, step)
    ctx.fill()
    ctx.restore()


def _layout(entries):
    """Flows the entries into rows; returns placements and sheet height."""
    placed, x, y, row_height = [], MARGIN, MARGIN, 0
    for entry in entries:
        w, h = entry[2].size
        cell_w = max(w, 150)
        if x + cell_w > SHEET_WIDTH - MARGIN and x > MARGIN:
            x, y = MARGIN, y + row_height + LABEL_SPACE + GAP
            row_height = 0
        placed.append((entry, x, y))
        x += cell_w + GAP
        row_height = max(row_height, h)
    return placed, y + row_height + LABEL_SPACE + MARGIN


SHEET_ORDER = [64, 37, 31, 46, 45, 47, 42, 63, 44, 43, 40, 41,
               61, 62, 38, 36, 35, 34, 33, 32, 54, 49, 48]


def contact_sheet(images):
    """Every image at the size the editor draws it, on a checkerboard that
    shows its transparency, with its file name, resource index and pixels."""
    entries = [(index, images[index][0], _half(images[index][1])) for index in SHEET_ORDER]
    placed, height = _layout(entries)
    cv = Canvas(SHEET_WIDTH, height, scale=1.0)
    cv.ctx.set_source_rgba(*rgba(SHEET_BACKGROUND))
    cv.ctx.paint()
    for (index, name, small), x, y in placed:
        w, h = small.size
        _checkerboard(cv, x, y, w, h)
        _paste(cv, small, x, y)
        full = images[index][1].size
        draw_text(cv.ctx, name, x, y + h + 16, theme.FONT_MEDIUM, 12.0, theme.TITLE,
                  align="left")
        draw_text(cv.ctx, "#%d  %d x %d px" % ((index,) + full), x, y + h + 32,
                  theme.FONT_REGULAR, 11.0, theme.CAPTION, align="left")
    return cv.image().convert("RGB")
