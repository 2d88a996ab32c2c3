"""The two slate layers: the bypass overlay over the whole window and the
about panel."""

import cairo

import symbols
import theme
from canvas import (Canvas, Layered, SCALE, centred_baseline, draw_text, filler, rgba,
                    rounded_rect, set_font, text_width)

SLATE_ALPHA = theme.OVERLAY_ALPHA / 255.0


def _maker_mark(ctx, cx, cy, size, alpha):
    """Logo mark and name side by side, centred on (cx, cy), in white."""
    face = theme.FONT_SEMIBOLD
    set_font(ctx, face, size)
    mark, gap = size * 1.15, size * 0.55
    total = mark + gap + text_width(ctx, theme.MAKER, 0.3)
    left = cx - total / 2
    symbols.logo_mark(ctx, left, cy - mark / 2, mark, tone=1.0)
    baseline = centred_baseline(ctx, face, size, cy)
    draw_text(ctx, theme.MAKER, left + mark + gap, baseline, face, size, theme.WHITE,
              alpha=alpha, tracking=0.3, align="left")


def bypass_overlay():
    width, height = theme.WINDOW
    cv = Canvas(int(width * SCALE), int(height * SCALE))
    ctx = cv.ctx
    body = cv.coverage(filler(rounded_rect, 0, 0, width, height, theme.WINDOW_CORNER))
    cx, cy = width / 2.0, height / 2.0
    symbols.power_symbol(ctx, cx, cy - 58.0, 15.0, theme.WHITE, width=3.2)
    draw_text(ctx, "BYPASSED", cx, cy + 6.0, theme.FONT_SEMIBOLD, 30.0, theme.WHITE,
              tracking=5.0)
    draw_text(ctx, "Click anywhere to continue", cx, cy + 40.0,
              theme.FONT_MEDIUM, 14.0, theme.WHITE)
    _maker_mark(ctx, cx, height - 32.0, 13.0, 0.9)
    return Layered(theme.OVERLAY_SLATE, body * SLATE_ALPHA, cv)


ABOUT_CORNER = 14.0


def manual_link_rect():
    """The manual link's hot spot in the about panel's own coordinates."""
    px, py = theme.ABOUT_PANEL[:2]
    x, y, w, h = theme.MANUAL_LINK
    return x - px, y - py, w, h


def about_panel():
    pw, ph = theme.ABOUT_PANEL[2:]
    cv = Canvas(pw * 2, ph * 2)
    ctx = cv.ctx
    body = cv.coverage(filler(rounded_rect, 0, 0, pw, ph, ABOUT_CORNER))
    rounded_rect(ctx, 0.5, 0.5, pw - 1, ph - 1, ABOUT_CORNER - 0.5)
    ctx.set_line_width(1.0)
    ctx.set_source_rgba(*rgba(theme.WHITE, 0.16))
    ctx.stroke()
    cx = pw / 2.0
    draw_text(ctx, theme.TITLE_TEXT, cx, 86.0, theme.FONT_SEMIBOLD, 34.0, theme.WHITE,
              tracking=0.6)
    stroke = cairo.LinearGradient(cx - 20, 0, cx + 20, 0)
    stroke.add_color_stop_rgba(0.0, *rgba(theme.PAD_BRIGHT))
    stroke.add_color_stop_rgba(0.5, *rgba(theme.PAD_NEUTRAL))
    stroke.add_color_stop_rgba(1.0, *rgba((170, 140, 255)))
    rounded_rect(ctx, cx - 20, 100.0, 40, 3.0, 1.5)
    ctx.set_source(stroke)
    ctx.fill()
    draw_text(ctx, "Version " + theme.VERSION, cx, 146.0, theme.FONT_REGULAR, 13.0,
              theme.WHITE, alpha=0.8)
    _manual_link(ctx)
    _maker_mark(ctx, cx, ph - 44.0, 14.0, 0.92)
    return Layered(theme.ABOUT_SLATE, body * SLATE_ALPHA, cv)


def _manual_link(ctx):
    x, y, w, h = manual_link_rect()
    rounded_rect(ctx, x + 0.5, y + 0.5, w - 1, h - 1, (h - 1) / 2)
    ctx.set_source_rgba(*rgba(theme.WHITE, 0.12))
    ctx.fill_preserve()
    ctx.set_line_width(1.0)
    ctx.set_source_rgba(*rgba(theme.WHITE, 0.75))
    ctx.stroke()
    face, size = theme.FONT_MEDIUM, 12.0
    set_font(ctx, face, size)
    label = "User Manual"
    arrow, gap = 6.5, 5.0
    total = text_width(ctx, label) + gap + arrow
    left = x + (w - total) / 2
    baseline = centred_baseline(ctx, face, size, y + h / 2)
    draw_text(ctx, label, left, baseline, face, size, theme.WHITE, align="left")
    symbols.arrow_out(ctx, left + total - arrow, y + h / 2 - arrow / 2 - 0.5, arrow, theme.WHITE)
