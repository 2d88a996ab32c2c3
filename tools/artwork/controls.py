"""The control images: everything the editor draws over the background.

Each function returns a Canvas of the image's pixel size, drawn in display
pixels (half the pixel size).
"""

import math

import cairo
import numpy as np

import symbols
import theme
from canvas import (Canvas, centred_baseline, circle, draw_text, filler,
                    rgba, rounded_rect, set_font, text_width, vertical_gradient)


# --- tone pad ----------------------------------------------------------------
def pad_handle():
    """White disc with a soft magenta glow, centred in 76 x 76."""
    cv = Canvas(152, 152)
    centre = 38.0
    yy, xx = np.mgrid[0:152, 0:152].astype(np.float32)
    r = np.hypot((xx + 0.5) / 2 - centre, (yy + 0.5) / 2 - centre)
    glow = 0.85 * np.exp(-((np.maximum(r - 10.0, 0.0) / 13.0) ** 2))
    glow *= np.clip((37.5 - r) / 5.0, 0.0, 1.0)
    cv.paint_layer(theme.MAGENTA, glow)
    ctx = cv.ctx
    cv.shadow(filler(circle, centre, centre, 11.5), 0.35, 1.6, 0, 1.0, colour=(120, 30, 110))
    pattern = cairo.RadialGradient(centre - 3, centre - 4, 1, centre, centre, 12)
    pattern.add_color_stop_rgba(0, *rgba(theme.WHITE))
    pattern.add_color_stop_rgba(1, *rgba((250, 238, 250)))
    circle(ctx, centre, centre, 11.5)
    ctx.set_source(pattern)
    ctx.fill_preserve()
    ctx.set_line_width(1.0)
    ctx.set_source_rgba(*rgba((255, 255, 255), 0.9))
    ctx.stroke()
    return cv


# --- level meter -------------------------------------------------------------
def _bar_gradient(height):
    return vertical_gradient(0, height, [(0.0, theme.VIOLET, 1), (0.5, theme.ACCENT, 1),
                                         (1.0, theme.SKY, 1)])


def meter_bar_wide():
    """6 opaque columns (image pixels 2 to 7) centred in 10, rounded ends."""
    cv = Canvas(10, 710)
    rounded_rect(cv.ctx, 1.0, 0.0, 3.0, 355.0, 1.5)
    cv.ctx.set_source(_bar_gradient(355.0))
    cv.ctx.fill()
    return cv


def meter_bar_thin():
    cv = Canvas(4, 710)
    cv.ctx.rectangle(0, 0, 2, 355)
    cv.ctx.set_source(_bar_gradient(355.0))
    cv.ctx.fill()
    return cv


# --- gain faders and link ----------------------------------------------------
THUMB_CENTRE = (38.5, 38.0)
THUMB_RADIUS = 23.5


def fader_thumb():
    """Round pale cap; the editor prints the value on it."""
    cv = Canvas(154, 152)
    cx, cy = THUMB_CENTRE
    cv.shadow(filler(circle, cx, cy, THUMB_RADIUS), 0.30, 3.0, 0, 2.2)
    ctx = cv.ctx
    circle(ctx, cx, cy, THUMB_RADIUS)
    ctx.set_source(vertical_gradient(cy - THUMB_RADIUS, cy + THUMB_RADIUS,
                                     [(0, theme.WHITE, 1), (1, (234, 238, 246), 1)]))
    ctx.fill()
    circle(ctx, cx, cy, THUMB_RADIUS - 0.5)
    ctx.set_line_width(1.0)
    ctx.set_source_rgba(*rgba((200, 208, 224)))
    ctx.stroke()
    circle(ctx, cx, cy, THUMB_RADIUS - 4.0)
    ctx.set_line_width(1.4)
    ctx.set_source_rgba(*rgba(theme.ACCENT, 0.30))
    ctx.stroke()
    return cv


LINK_PILL = (8.5, 4.5, 21.0, 40.0)


def link_toggle(on):
    cv = Canvas(76, 98)
    x, y, w, h = LINK_PILL
    pill = filler(rounded_rect, x, y, w, h, w / 2)
    cv.shadow(pill, 0.22 if on else 0.16, 1.8, 0, 1.2)
    ctx = cv.ctx
    rounded_rect(ctx, x, y, w, h, w / 2)
    if on:
        ctx.set_source(vertical_gradient(y, y + h, [(0, theme.SKY, 1), (1, theme.ACCENT, 1)]))
        ctx.fill()
        symbols.link_symbol(ctx, x + w / 2, y + h / 2, True, theme.WHITE)
    else:
        ctx.set_source(vertical_gradient(y, y + h, [(0, theme.WHITE, 1), (1, (238, 242, 248), 1)]))
        ctx.fill_preserve()
        ctx.set_line_width(1.0)
        ctx.set_source_rgba(*rgba((208, 215, 229)))
        ctx.stroke()
        symbols.link_symbol(ctx, x + w / 2, y + h / 2, False, theme.MUTED)
    return cv


# --- mix knob ----------------------------------------------------------------
RING_RADIUS = 79.5
KNOB_BODY_RADIUS = 62.0


def mix_ring():
    """A disc whose colour runs clockwise from blue at 6 o'clock to cyan."""
    cv = Canvas(316, 316)
    yy, xx = np.mgrid[0:316, 0:316].astype(np.float64)
    dx = (xx + 0.5) / 2 - 79.0
    dy = (yy + 0.5) / 2 - 79.0
    clockwise_from_top = np.arctan2(dx, -dy)
    travel = np.mod(clockwise_from_top - math.pi, 2 * math.pi) / (2 * math.pi)
    start, end = np.array(theme.ACCENT, float), np.array(theme.CYAN, float)
    colour = start + (end - start) * travel[..., None]
    r = np.hypot(dx, dy)
    # lighter toward the outer rim, as if lit from the front
    colour += (255 - colour) * (np.clip((r - 64.0) / 15.0, 0, 1) * 0.12)[..., None]
    alpha = np.clip(RING_RADIUS - 0.5 - r + 0.5, 0.0, 1.0)
    cv.paint_layer(colour, alpha)
    return cv


def mix_knob_body():
    """Pale disc with a soft shadow, centred in 196 x 196."""
    cv = Canvas(392, 392)
    c = 98.0
    body = filler(circle, c, c, KNOB_BODY_RADIUS)
    cv.shadow(body, 0.30, 5.0, 0, 3.5)
    ctx = cv.ctx
    circle(ctx, c, c, KNOB_BODY_RADIUS)
    ctx.set_source(vertical_gradient(c - KNOB_BODY_RADIUS, c + KNOB_BODY_RADIUS,
                                     [(0, theme.WHITE, 1), (1, (232, 236, 244), 1)]))
    ctx.fill()
    circle(ctx, c, c, KNOB_BODY_RADIUS - 0.5)
    ctx.set_line_width(1.0)
    ctx.set_source_rgba(*rgba((204, 212, 227)))
    ctx.stroke()
    # a shallow dish in the middle, where the value is printed
    dish = filler(circle, c, c, 41.0)
    cv.inner_shadow(dish, 0.16, 2.0, 0, 1.2)
    circle(ctx, c, c, 41.5)
    ctx.set_line_width(1.0)
    ctx.set_source_rgba(*rgba(theme.WHITE, 0.9))
    ctx.stroke()
    return cv


def mix_knob_pointer():
    """A short cyan tick at 12 o'clock, rotated by the editor about the centre."""
    cv = Canvas(390, 390)
    c = 97.5
    tick = filler(lambda ctx: rounded_rect(ctx, c - 2.0, c - 58.0, 4.0, 12.5, 2.0))
    cv.shadow(tick, 0.55, 2.5, colour=theme.CYAN)
    rounded_rect(cv.ctx, c - 2.0, c - 58.0, 4.0, 12.5, 2.0)
    cv.ctx.set_source_rgba(*rgba(theme.CYAN))
    cv.ctx.fill()
    return cv


# --- buttons -------------------------------------------------------------------
def _pill_button(width, height, pressed, paint_content):
    cv = Canvas(width * 2, height * 2)
    x, y, w, h = 5.0, 11.0, width - 10.0, height - 22.0
    pill = filler(rounded_rect, x, y, w, h, h / 2)
    if pressed:
        cv.shadow(pill, 0.10, 1.5, 0, 0.6)
        top, bottom = (229, 234, 242), (221, 227, 237)
    else:
        cv.shadow(pill, 0.20, 3.2, 0, 2.0)
        top, bottom = (255, 255, 255), (241, 244, 250)
    ctx = cv.ctx
    rounded_rect(ctx, x, y, w, h, h / 2)
    ctx.set_source(vertical_gradient(y, y + h, [(0, top, 1), (1, bottom, 1)]))
    ctx.fill()
    rounded_rect(ctx, x + 0.5, y + 0.5, w - 1, h - 1, (h - 1) / 2)
    ctx.set_line_width(1.0)
    ctx.set_source_rgba(*rgba((204, 212, 227) if pressed else (212, 219, 232)))
    ctx.stroke()
    if pressed:
        cv.inner_shadow(pill, 0.18, 2.0, 0, 1.0)
    paint_content(ctx, x + w / 2, y + h / 2 + (0.5 if pressed else 0.0))
    return cv


def _button_label(ctx, text, cx, cy, icon_width, icon_gap, icon_first):
    face, size, tracking = theme.FONT_SEMIBOLD, 12.0, 1.5
    set_font(ctx, face, size)
    total = text_width(ctx, text, tracking) + icon_gap + icon_width
    left = cx - total / 2
    text_x = left + (icon_width + icon_gap if icon_first else 0.0)
    icon_x = left if icon_first else left + total - icon_width
    baseline = centred_baseline(ctx, face, size, cy)
    draw_text(ctx, text, text_x, baseline, face, size, theme.BUTTON_TEXT,
              tracking=tracking, align="left")
    return icon_x


def preset_button(pressed):
    def content(ctx, cx, cy):
        icon_x = _button_label(ctx, "PRESETS", cx, cy, 10.0, 8.0, icon_first=False)
        symbols.chevron_down(ctx, icon_x + 5.0, cy + 0.3, 4.2, theme.ACCENT)
    return _pill_button(150, 65, pressed, content)


def bypass_button(pressed):
    def content(ctx, cx, cy):
        icon_x = _button_label(ctx, "BYPASS", cx, cy, 12.0, 7.0, icon_first=True)
        symbols.power_symbol(ctx, icon_x + 6.0, cy + 0.6, 5.2, theme.ACCENT)
    return _pill_button(120, 65, pressed, content)


# --- preset menu -----------------------------------------------------------------
MENU_CORNER = 6.0


def preset_menu_background():
    cv = Canvas(346, 328)
    ctx = cv.ctx
    rounded_rect(ctx, 0, 0, 173, 164, MENU_CORNER)
    ctx.set_source_rgba(*rgba(theme.PANEL))
    ctx.fill()
    rounded_rect(ctx, 0.5, 0.5, 172, 163, MENU_CORNER - 0.5)
    ctx.set_line_width(1.0)
    ctx.set_source_rgba(*rgba((200, 209, 224)))
    ctx.stroke()
    return cv


def preset_menu_row(highlighted):
    cv = Canvas(342, 60)
    ctx = cv.ctx
    ctx.rectangle(0, 0, 171, 30)
    if highlighted:
        ctx.set_source(vertical_gradient(0, 30, [(0, (227, 235, 245), 1), (1, (217, 227, 238), 1)]))
    else:
        ctx.set_source_rgba(*rgba(theme.PANEL))
    ctx.fill()
    return cv


# --- automatic gain switch --------------------------------------------------------
SWITCH_TRACK = (51.5, 26.0, 56.0, 28.0)


def auto_gain_switch(on):
    cv = Canvas(318, 162)
    ctx = cv.ctx
    x, y, w, h = SWITCH_TRACK
    track = filler(rounded_rect, x, y, w, h, h / 2)
    if on:
        cv.shadow(track, 0.18, 2.0, 0, 1.0)
        rounded_rect(ctx, x, y, w, h, h / 2)
        pattern = cairo.LinearGradient(x, 0, x + w, 0)
        pattern.add_color_stop_rgba(0, *rgba(theme.ACCENT))
        pattern.add_color_stop_rgba(1, *rgba(theme.SKY))
        ctx.set_source(pattern)
        ctx.fill()
    else:
        rounded_rect(ctx, x, y, w, h, h / 2)
        ctx.set_source_rgba(*rgba(theme.WELL))
        ctx.fill()
        cv.inner_shadow(track, 0.22, 2.0, 0, 1.2)
    knob_x = x + w - h / 2 if on else x + h / 2
    knob = filler(circle, knob_x, y + h / 2, h / 2 - 3.0)
    cv.shadow(knob, 0.30, 1.6, 0, 1.2)
    circle(ctx, knob_x, y + h / 2, h / 2 - 3.0)
    ctx.set_source(vertical_gradient(y, y + h, [(0, theme.WHITE, 1), (1, (238, 241, 247), 1)]))
    ctx.fill()
    face, size, tracking = theme.FONT_SEMIBOLD, 11.0, 1.2
    baseline = centred_baseline(ctx, face, size, y + h / 2)
    draw_text(ctx, "OFF", x - 9.0, baseline, face, size,
              theme.MUTED if on else theme.ACCENT, tracking=tracking, align="right")
    draw_text(ctx, "ON", x + w + 9.0, baseline, face, size,
              theme.ACCENT if on else theme.MUTED, tracking=tracking, align="left")
    return cv


# --- information button -----------------------------------------------------------
def info_button(hover):
    """The maker's logo lettering; lit in the product's blue under the mouse."""
    cv = Canvas(368, 92)
    ctx = cv.ctx
    face, size, tracking = theme.FONT_SEMIBOLD, 15.0, 0.4
    set_font(ctx, face, size)
    mark, gap = 17.0, 8.0
    total = mark + gap + text_width(ctx, theme.MAKER, tracking)
    left = (184.0 - total) / 2
    cy = 23.0
    if hover:
        pill = filler(rounded_rect, left - 12, cy - 15, total + 24, 30, 15)
        cv.shadow(pill, 0.12, 2.5, 0, 1.2)
        rounded_rect(ctx, left - 12, cy - 15, total + 24, 30, 15)
        ctx.set_source_rgba(*rgba(theme.WHITE, 0.95))
        ctx.fill()
    symbols.logo_mark(ctx, left, cy - mark / 2, mark, tone=1.0 if hover else 0.35)
    baseline = centred_baseline(ctx, face, size, cy)
    draw_text(ctx, theme.MAKER, left + mark + gap, baseline, face, size,
              theme.ACCENT if hover else theme.CAPTION, tracking=tracking, align="left")
    return cv
