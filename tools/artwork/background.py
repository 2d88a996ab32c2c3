"""The window background: panel, plates, meter wells, the mix ring's track,
the tone pad's triangle and every printed caption."""

import math

import cairo
import numpy as np
from scipy import ndimage

import pad_geometry
import theme
from canvas import (Canvas, SCALE, circle, draw_text, filler, rgba,
                    rounded_rect, vertical_gradient)

SHADE = theme.WELL_SHADE
CAPTION_BASELINE = 510.0       # the captions along the bottom edge
INPUT_PLATE = (56.0, 92.0, 165.0, 432.0)
OUTPUT_PLATE = (676.0, 136.0, 188.0, 356.0)
WELL_TOP, WELL_BOTTOM = 116.0, 493.0
WELL_CORNER = 12.0
MIX_TRACK = (62.5, 80.5)       # radii of the ring's track around the knob


def meter_wells():
    """The two wells in window pixels (x, y, w, h)."""
    seg_x = theme.IO_SEGMENT[0]
    return [(seg_x + x, WELL_TOP, theme.METER_WELL_WIDTH, WELL_BOTTOM - WELL_TOP)
            for x in theme.METER_WELL_X]


def mix_centre():
    x, y = theme.MIX[:2]
    rx, ry, rw, rh = theme.MIX_RING
    return x + rx + rw / 2, y + ry + rh / 2


def pad_point(px, py):
    return theme.PAD[0] + px, theme.PAD[1] + py


def window_background():
    width, height = theme.WINDOW
    cv = Canvas(int(width * SCALE), int(height * SCALE))
    _panel(cv)
    _plate(cv, INPUT_PLATE)
    _plate(cv, OUTPUT_PLATE)
    for well in meter_wells():
        _well(cv, well)
    _mix_track(cv)
    _tone_pad(cv)
    _captions(cv)
    _title(cv)
    return cv


def _panel(cv):
    ctx = cv.ctx
    width, height = theme.WINDOW
    ctx.set_source_rgba(*rgba(theme.PANEL_EDGE))
    ctx.paint()
    rounded_rect(ctx, 0, 0, width, height, theme.WINDOW_CORNER)
    ctx.set_source_rgba(*rgba(theme.PANEL))
    ctx.fill()
    # a soft light behind the pad, so the eye lands there first
    cx, cy = pad_point(256, 300)
    light = cairo.RadialGradient(cx, cy, 20, cx, cy, 330)
    light.add_color_stop_rgba(0, *rgba(theme.WHITE, 0.45))
    light.add_color_stop_rgba(1, *rgba(theme.WHITE, 0.0))
    rounded_rect(ctx, 0, 0, width, height, theme.WINDOW_CORNER)
    ctx.set_source(light)
    ctx.fill()
    rounded_rect(ctx, 0.5, 0.5, width - 1, height - 1, theme.WINDOW_CORNER - 0.5)
    ctx.set_line_width(1.0)
    ctx.set_source_rgba(*rgba(theme.WHITE, 0.7))
    ctx.stroke()


def _plate(cv, rect):
    x, y, w, h = rect
    shape = filler(rounded_rect, x, y, w, h, 16)
    cv.shadow(shape, 0.10, 7.0, 0, 3.0)
    ctx = cv.ctx
    rounded_rect(ctx, x, y, w, h, 16)
    ctx.set_source(vertical_gradient(y, y + h, [(0, (249, 250, 253), 1), (1, theme.CARD, 1)]))
    ctx.fill()
    rounded_rect(ctx, x + 0.5, y + 0.5, w - 1, h - 1, 15.5)
    ctx.set_line_width(1.0)
    ctx.set_source_rgba(*rgba(theme.CARD_BORDER))
    ctx.stroke()


def _well(cv, rect):
    x, y, w, h = rect
    ctx = cv.ctx
    # a white lip below the recess
    rounded_rect(ctx, x, y + 1.0, w, h, WELL_CORNER)
    ctx.set_source_rgba(*rgba(theme.WHITE, 0.95))
    ctx.fill()
    rounded_rect(ctx, x, y, w, h, WELL_CORNER)
    ctx.set_source(vertical_gradient(y, y + h, [(0, (217, 224, 236), 1), (1, theme.WELL, 1)]))
    ctx.fill()
    cv.inner_shadow(filler(rounded_rect, x, y, w, h, WELL_CORNER), 0.26, 2.4, 0, 1.4)


def _mix_track(cv):
    cx, cy = mix_centre()
    inner, outer = MIX_TRACK

    ctx = cv.ctx
    circle(ctx, cx, cy + 1.0, outer)
    ctx.set_source_rgba(*rgba(theme.WHITE, 0.95))
    ctx.fill()
    ctx.save()
    ctx.set_fill_rule(cairo.FILL_RULE_EVEN_ODD)
    circle(ctx, cx, cy, outer)
    circle(ctx, cx, cy, inner)
    ctx.set_source_rgba(*rgba(theme.WELL))
    ctx.fill()
    ctx.restore()
    cv.inner_shadow(filler(circle, cx, cy, outer), 0.24, 2.4, 0, 1.4)


# --- tone pad -------------------------------------------------------------------
def _pad_colour_field(cv):
    """Colour of every image pixel by its place in the triangle: each corner
    in its own tone, blended across."""
    rows = (np.arange(cv.height_px) + 0.5) / SCALE - theme.PAD[1]
    cols = (np.arange(cv.width_px) + 0.5) / SCALE - theme.PAD[0]
    knob1, knob2 = np.broadcast_arrays(*pad_geometry.knob_coordinates(cols[None, :], rows[:, None]))
    weights = np.stack([knob2, knob1, 1.0 - knob1 - knob2], axis=-1)
    weights = np.clip(weights, 0.0, None)
    weights /= np.maximum(weights.sum(axis=-1, keepdims=True), 1e-9)
    corners = np.array([theme.PAD_BRIGHT, theme.PAD_DARK, theme.PAD_NEUTRAL], np.float32)
    field = weights.astype(np.float32) @ corners
    # a soft light from above, brightest toward the top corner
    light = np.clip(knob2, 0, 1).astype(np.float32) * 0.10
    field += (255.0 - field) * light[..., None]
    return field


def _pad_lattice(ctx):
    """Lines at a quarter, half and three quarters of each of the three
    directions: constant height, and parallel to either slanted edge."""
    s3 = float(pad_geometry.SQRT3)
    side = float(pad_geometry.SIDE)
    blx, bly = (float(v) for v in pad_geometry.BOTTOM_LEFT)
    ox, oy = theme.PAD[:2]
    height = side * s3 / 2

    def point(k1, k2):
        k = k2 * height
        return ox + blx + k / s3 + k1 * side, oy + bly - k

    ctx.set_line_width(1.0)
    for f in (0.25, 0.5, 0.75):
        for a, b in ((point(0, f), point(1 - f, f)),          # constant knob2
                     (point(f, 0), point(f, 1 - f)),          # constant knob1
                     (point(0, 1 - f), point(1 - f, 0))):     # constant third
            ctx.move_to(*a)
            ctx.line_to(*b)
    ctx.stroke()


def _smoothed(cv, cover, sigma_px=2.5):
    """The accepted area's border has jogs of up to a pixel where a corner
    circle takes over from an edge; blurring and re-thresholding the
    coverage rounds them off while the border stays within about half a
    window pixel of the exact one. The slope keeps a one-pixel soft edge."""
    blurred = ndimage.gaussian_filter(cover, sigma_px, mode="constant")
    slope = math.sqrt(2.0 * math.pi) * sigma_px
    return np.clip((blurred - 0.5) * slope + 0.5, 0.0, 1.0).astype(np.float32)


def _tone_pad(cv):
    exact = pad_geometry.window_coverage(cv.width_px, cv.height_px, theme.PAD[:2], SCALE)
    cover = _smoothed(cv, exact)
    shadow = cv.shift(cv.blur(cover, 9.0), 0, 6.0)
    cv.paint_layer(SHADE, shadow * 0.22)
    cv.paint_layer(_pad_colour_field(cv), cover)
    lattice = cv.coverage(_pad_lattice)
    cv.paint_layer(theme.WHITE, lattice * cover * 0.16)
    # an inner glow along the rim gives the face a slight cushion
    rim = np.clip(cv.blur(1.0 - cover, 3.0), 0, 1) * cover
    cv.paint_layer(theme.WHITE, rim * 0.30)
    # and a gentle shade toward the lower edge
    lower = np.clip(cv.shift(cv.blur(1.0 - cover, 10.0), 0, -8.0), 0, 1) * cover
    cv.paint_layer((40, 30, 120), lower * 0.10)


# --- text -------------------------------------------------------------------------
def _caption(ctx, text, x, baseline):
    draw_text(ctx, text, x, baseline, theme.FONT_SEMIBOLD, theme.CAPTION_SIZE,
              theme.CAPTION, tracking=theme.CAPTION_TRACKING)


def _captions(cv):
    ctx = cv.ctx
    in_well, out_well = meter_wells()
    _caption(ctx, "IN", in_well[0] + in_well[2] / 2, CAPTION_BASELINE)
    _caption(ctx, "OUT", out_well[0] + out_well[2] / 2, CAPTION_BASELINE)
    top_x, _ = pad_point(256.0, 0.0)
    _caption(ctx, "BRIGHT", top_x, 111.0)
    _caption(ctx, "NEUTRAL", pad_point(92.0, 0)[0], CAPTION_BASELINE)
    _caption(ctx, "DARK", pad_point(512.0 - 92.0, 0)[0], CAPTION_BASELINE)
    mix_x, mix_y = mix_centre()
    _caption(ctx, "MIX", mix_x, 356.0)
    gain_x = theme.AUTO_GAIN[0] + theme.AUTO_GAIN[2] / 2
    _caption(ctx, "AUTO GAIN", gain_x, 476.0)


def _title(cv):
    ctx = cv.ctx
    x, _ = pad_point(256.0, 0.0)
    draw_text(ctx, theme.TITLE_TEXT, x, 66.0, theme.FONT_SEMIBOLD, 28.0, theme.TITLE,
              tracking=0.6)
    # a short stroke in the pad's three tones under the title
    stroke = cairo.LinearGradient(x - 16, 0, x + 16, 0)
    stroke.add_color_stop_rgba(0.0, *rgba(theme.PAD_BRIGHT))
    stroke.add_color_stop_rgba(0.5, *rgba(theme.PAD_NEUTRAL))
    stroke.add_color_stop_rgba(1.0, *rgba(theme.PAD_DARK))
    rounded_rect(ctx, x - 16, 76.0, 32, 3.0, 1.5)
    ctx.set_source(stroke)
    ctx.fill()
