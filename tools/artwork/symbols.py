"""Small vector symbols shared by several images: the maker's logo mark,
the link, the power sign and the chevron."""

import math

import cairo

import theme
from canvas import rgba, rounded_rect


def logo_mark(ctx, x, y, size, tone=1.0, glyph_colour=theme.WHITE):
    """The maker's mark: a rounded square in the product's blues carrying
    three level strokes. tone < 1 washes the colours out toward grey."""
    def toned(colour):
        grey = sum(colour) / 3.0
        return tuple(grey + (c - grey) * tone for c in colour)

    pattern = cairo.LinearGradient(x, y, x + size, y + size)
    pattern.add_color_stop_rgba(0.0, *rgba(toned(theme.SKY)))
    pattern.add_color_stop_rgba(0.55, *rgba(toned(theme.ACCENT)))
    pattern.add_color_stop_rgba(1.0, *rgba(toned(theme.VIOLET)))
    rounded_rect(ctx, x, y, size, size, size * 0.28)
    ctx.set_source(pattern)
    ctx.fill()
    ctx.set_source_rgba(*rgba(glyph_colour))
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.set_line_width(size * 0.115)
    for i, length in enumerate((0.50, 0.74, 0.36)):
        yy = y + size * (0.31 + 0.19 * i)
        ctx.move_to(x + size * 0.24, yy)
        ctx.line_to(x + size * (0.24 + length * 0.72), yy)
        ctx.stroke()


def link_symbol(ctx, cx, cy, closed, colour, alpha=1.0):
    """Two chain links, interlocked when closed, pulled apart when open."""
    w, h, r = 7.0, 12.0, 3.5
    half_gap = 3.9 if closed else 7.6
    ctx.set_line_width(1.8)
    ctx.set_source_rgba(*rgba(colour, alpha))
    for sign in (-1, 1):
        rounded_rect(ctx, cx - w / 2, cy + sign * half_gap - h / 2, w, h, r)
        ctx.stroke()
    if not closed:
        ctx.set_line_cap(cairo.LINE_CAP_ROUND)
        ctx.set_line_width(1.4)
        for sx in (-1, 1):
            ctx.move_to(cx + sx * 4.6, cy - 1.0)
            ctx.line_to(cx + sx * 6.8, cy - 2.2)
            ctx.move_to(cx + sx * 4.6, cy + 1.0)
            ctx.line_to(cx + sx * 6.8, cy + 2.2)
        ctx.stroke()


def power_symbol(ctx, cx, cy, radius, colour, width=1.8):
    ctx.set_source_rgba(*rgba(colour))
    ctx.set_line_width(width)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.new_sub_path()
    ctx.arc(cx, cy, radius, -math.pi / 2 + 0.75, -math.pi / 2 - 0.75 + 2 * math.pi)
    ctx.stroke()
    ctx.move_to(cx, cy - radius - 1.0)
    ctx.line_to(cx, cy - 1.0)
    ctx.stroke()


def chevron_down(ctx, cx, cy, size, colour, width=1.8):
    ctx.set_source_rgba(*rgba(colour))
    ctx.set_line_width(width)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.set_line_join(cairo.LINE_JOIN_ROUND)
    ctx.move_to(cx - size, cy - size * 0.5)
    ctx.line_to(cx, cy + size * 0.5)
    ctx.line_to(cx + size, cy - size * 0.5)
    ctx.stroke()


def arrow_out(ctx, x, y, size, colour, width=1.4):
    """A small arrow pointing up and right: 'opens elsewhere'."""
    ctx.set_source_rgba(*rgba(colour))
    ctx.set_line_width(width)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.set_line_join(cairo.LINE_JOIN_ROUND)
    ctx.move_to(x, y + size)
    ctx.line_to(x + size, y)
    ctx.move_to(x + size * 0.35, y)
    ctx.line_to(x + size, y)
    ctx.line_to(x + size, y + size * 0.65)
    ctx.stroke()
