"""A small drawing layer over pycairo: one canvas per image, drawn in display
pixels on a surface of twice that size, with soft shadows and PNG output.

Everything here is deterministic: no noise, no clocks, and PNGs are written
without any time or software chunks.
"""

import math

import cairo
import numpy as np
from PIL import Image
from scipy import ndimage

SCALE = 2.0


def rgba(colour, alpha=1.0):
    """Cairo source tuple from an 0..255 colour and a 0..1 alpha."""
    r, g, b = colour[:3]
    return (r / 255.0, g / 255.0, b / 255.0, alpha)


class Canvas:
    """An ARGB image of width_px x height_px, addressed in display pixels."""

    def __init__(self, width_px, height_px, scale=SCALE):
        self.width_px = width_px
        self.height_px = height_px
        self.scale = scale
        self.surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, width_px, height_px)
        self.ctx = self._context(self.surface)

    def _context(self, surface):
        ctx = cairo.Context(surface)
        ctx.scale(self.scale, self.scale)
        options = cairo.FontOptions()
        options.set_antialias(cairo.ANTIALIAS_GRAY)
        options.set_hint_style(cairo.HINT_STYLE_NONE)
        options.set_hint_metrics(cairo.HINT_METRICS_OFF)
        ctx.set_font_options(options)
        return ctx

    # --- coverage masks and layers ---------------------------------------
    def coverage(self, draw):
        """Float array (h, w) of the area that draw(ctx) fills, anti-aliased."""
        surface = cairo.ImageSurface(cairo.FORMAT_A8, self.width_px, self.height_px)
        ctx = self._context(surface)
        ctx.set_source_rgba(0, 0, 0, 1)
        draw(ctx)
        surface.flush()
        stride = surface.get_stride()
        data = np.frombuffer(surface.get_data(), np.uint8).reshape(self.height_px, stride)
        return data[:, : self.width_px].astype(np.float32) / 255.0

    def paint_layer(self, colour, alpha):
        """Composites a flat colour (or an (h, w, 3) colour field) through an
        alpha array over the canvas."""
        alpha = np.clip(alpha, 0.0, 1.0).astype(np.float32)
        field = np.asarray(colour, np.float32)
        if field.ndim == 1:
            field = np.broadcast_to(field, alpha.shape + (3,))
        premul = field * alpha[..., None]
        bgra = np.empty(alpha.shape + (4,), np.uint8)
        bgra[..., 0] = np.rint(premul[..., 2])
        bgra[..., 1] = np.rint(premul[..., 1])
        bgra[..., 2] = np.rint(premul[..., 0])
        bgra[..., 3] = np.rint(alpha * 255.0)
        self.paint_premultiplied(bgra)

    def paint_premultiplied(self, bgra):
        layer = cairo.ImageSurface.create_for_data(
            memoryview(np.ascontiguousarray(bgra)), cairo.FORMAT_ARGB32,
            self.width_px, self.height_px, self.width_px * 4)
        ctx = cairo.Context(self.surface)
        ctx.set_source_surface(layer, 0, 0)
        ctx.paint()
        self.surface.flush()

    def blur(self, alpha, radius):
        """Gaussian blur of an alpha array; radius in display pixels (sigma)."""
        if radius <= 0:
            return alpha
        return ndimage.gaussian_filter(alpha, radius * self.scale, mode="constant")

    def shift(self, alpha, dx, dy):
        return ndimage.shift(alpha, (dy * self.scale, dx * self.scale), order=1, mode="constant")

    def shadow(self, draw, opacity, blur, dx=0.0, dy=0.0, colour=(60, 70, 96)):
        """Soft shadow of the shape that draw(ctx) fills, painted now (so it
        lies under whatever is drawn next)."""
        alpha = self.shift(self.blur(self.coverage(draw), blur), dx, dy)
        self.paint_layer(colour, alpha * opacity)

    def inner_shadow(self, draw, opacity, blur, dx=0.0, dy=0.0, colour=(60, 70, 96)):
        """Shadow cast inside the shape by its own rim, as in a recess."""
        shape = self.coverage(draw)
        outside = self.shift(self.blur(1.0 - shape, blur), dx, dy)
        # ndimage.shift fills with 0 where the image is entered: beyond the
        # image edge counts as outside as well.
        self.paint_layer(colour, np.clip(outside, 0, 1) * shape * opacity)

    # --- output ------------------------------------------------------------
    def rgba_array(self):
        """Straight (not premultiplied) RGBA uint8 array."""
        self.surface.flush()
        data = np.frombuffer(self.surface.get_data(), np.uint8)
        bgra = data.reshape(self.height_px, self.surface.get_stride() // 4, 4)[:, : self.width_px]
        alpha = bgra[..., 3].astype(np.float32)
        out = np.zeros((self.height_px, self.width_px, 4), np.uint8)
        safe = np.where(alpha > 0, alpha, 1.0)
        for dst, src in ((0, 2), (1, 1), (2, 0)):
            straight = bgra[..., src].astype(np.float32) * 255.0 / safe
            out[..., dst] = np.clip(np.rint(straight), 0, 255).astype(np.uint8)
        out[..., 3] = bgra[..., 3]
        out[alpha == 0] = 0
        return out

    def image(self):
        return Image.fromarray(self.rgba_array(), "RGBA")


def save_png(image, path):
    """Writes a PNG with no time, software or gamma chunks, so the same
    drawing gives the same bytes."""
    image.save(path, format="PNG", optimize=True, compress_level=9)


# --- paths -----------------------------------------------------------------
def rounded_rect(ctx, x, y, w, h, r):
    r = min(r, w / 2.0, h / 2.0)
    ctx.new_sub_path()
    ctx.arc(x + w - r, y + r, r, -math.pi / 2, 0)
    ctx.arc(x + w - r, y + h - r, r, 0, math.pi / 2)
    ctx.arc(x + r, y + h - r, r, math.pi / 2, math.pi)
    ctx.arc(x + r, y + r, r, math.pi, 3 * math.pi / 2)
    ctx.close_path()


def circle(ctx, cx, cy, r):
    ctx.new_sub_path()
    ctx.arc(cx, cy, r, 0, 2 * math.pi)
    ctx.close_path()


def filler(path, *args):
    """A draw function for coverage/shadow: fills path(ctx, *args)."""
    def draw(ctx):
        path(ctx, *args)
        ctx.fill()
    return draw


def vertical_gradient(y0, y1, stops):
    """Linear gradient from y0 to y1; stops are (offset, colour, alpha)."""
    pattern = cairo.LinearGradient(0, y0, 0, y1)
    for offset, colour, alpha in stops:
        pattern.add_color_stop_rgba(offset, *rgba(colour, alpha))
    return pattern


# --- text ------------------------------------------------------------------
def set_font(ctx, face, size):
    ctx.select_font_face(face, cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_NORMAL)
    ctx.set_font_size(size)


def text_width(ctx, text, tracking=0.0):
    advances = [ctx.text_extents(ch).x_advance for ch in text]
    return sum(advances) + tracking * (len(text) - 1)


def cap_height(ctx):
    return -ctx.text_extents("H").y_bearing


def text_path(ctx, text, x, baseline, tracking=0.0, align="centre"):
    """Adds the glyph outlines of text to the path; x is the left edge, the
    centre or the right edge depending on align."""
    width = text_width(ctx, text, tracking)
    if align == "centre":
        x -= width / 2.0
    elif align == "right":
        x -= width
    if tracking == 0.0:
        ctx.move_to(x, baseline)
        ctx.text_path(text)
        return
    for ch in text:
        ctx.move_to(x, baseline)
        ctx.text_path(ch)
        x += ctx.text_extents(ch).x_advance + tracking


def draw_text(ctx, text, x, baseline, face, size, colour, alpha=1.0,
              tracking=0.0, align="centre"):
    set_font(ctx, face, size)
    ctx.new_path()
    text_path(ctx, text, x, baseline, tracking, align)
    ctx.set_source_rgba(*rgba(colour, alpha))
    ctx.fill()


def centred_baseline(ctx, face, size, centre_y):
    """Baseline that centres capital letters on centre_y."""
    set_font(ctx, face, size)
    return centre_y + cap_height(ctx) / 2.0


class Layered:
    """A flat colour layer of exact alpha with a canvas drawn over it.

    Cairo keeps 8-bit premultiplied pixels, so a translucent flat colour
    read back from it is off by a unit here and there; composing in floating
    point keeps every pixel that nothing covers at exactly the colour and
    alpha asked for.
    """

    def __init__(self, colour, alpha, top):
        self.colour, self.alpha, self.top = colour, alpha, top

    def image(self):
        top = self.top.rgba_array().astype(np.float64) / 255.0
        a_top = top[..., 3:4]
        a_flat = self.alpha[..., None].astype(np.float64)
        a_out = a_top + a_flat * (1.0 - a_top)
        flat = np.asarray(self.colour, np.float64) / 255.0
        colour = (top[..., :3] * a_top + flat * a_flat * (1.0 - a_top)) / np.where(a_out > 0, a_out, 1.0)
        out = np.concatenate([colour, a_out], axis=-1)
        out = np.clip(np.rint(out * 255.0), 0, 255).astype(np.uint8)
        out[out[..., 3] == 0] = 0
        return Image.fromarray(out, "RGBA")
