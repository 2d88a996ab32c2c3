"""The tone pad's accepted area, computed the way the pad tests a point, so
that the triangle printed on the background is exactly the area that takes
clicks.

The pad is 512 x 445 pixels; its triangle has a horizontal bottom edge and
its three corners cut off by circles of radius 47. Arithmetic is float32
where the pad's is, so pixels on the border fall on the same side.
"""

import numpy as np

SQRT3 = np.float32(1.73205)
PAD_WIDTH, PAD_HEIGHT = 512, 445
SIDE = np.float32(512) - np.float32(45) * SQRT3
BOTTOM_LEFT = (np.float32(22.5) * SQRT3, np.float32(PAD_HEIGHT) - np.float32(22.5))
EPSILON = 1e-6
CORNER_RADIUS_SQUARED = np.float32(2209)


def is_inside(x, y):
    """Vectorised inside test for float32 arrays of pad coordinates."""
    x, y = np.broadcast_arrays(np.asarray(x, np.float32), np.asarray(y, np.float32))
    dx = x - BOTTOM_LEFT[0]
    up = BOTTOM_LEFT[1] - y
    inside = ~(up.astype(np.float64) + EPSILON < 0)
    inside &= ~((dx * SQRT3 - up).astype(np.float64) + EPSILON < 0)
    inside &= ~((dx * SQRT3 + up - SQRT3 * SIDE).astype(np.float64) - EPSILON > 0)
    r2 = CORNER_RADIUS_SQUARED
    dark = (x >= 391) & (y >= 345)
    neutral = ~dark & (x <= 121) & (y >= 345)
    bright = ~dark & ~neutral & (y <= 109)
    corner_ok = np.ones_like(inside)
    corner_ok = np.where(dark, (x - 391) ** 2 + (y - 375) ** 2 < r2, corner_ok)
    corner_ok = np.where(neutral, (121 - x) ** 2 + (y - 375) ** 2 < r2, corner_ok)
    corner_ok = np.where(bright, (140 - y) ** 2 + (x - 256) ** 2 < r2, corner_ok)
    return inside & corner_ok


def knob_coordinates(x, y):
    """(knob1, knob2) of pad points: position across and height up."""
    dx = np.asarray(x, np.float64) - float(BOTTOM_LEFT[0])
    up = float(BOTTOM_LEFT[1]) - np.asarray(y, np.float64)
    s3, side = float(SQRT3), float(SIDE)
    return (dx - up / s3) / side, (2.0 * up / s3) / side


def handle_position(knob1, knob2):
    """Pad point of the handle for two knob values."""
    s3, side = float(SQRT3), float(SIDE)
    k = knob2 * 0.5 * side * s3
    return float(BOTTOM_LEFT[0]) + (k / s3 + knob1 * side), float(BOTTOM_LEFT[1]) - k


def window_coverage(width_px, height_px, pad_origin, scale, oversample=4):
    """Fraction of each image pixel covered by the accepted area, for an
    image of the window at `scale` image pixels per window pixel with the pad
    at pad_origin (window pixels)."""
    n = oversample
    offsets = (np.arange(n, dtype=np.float64) + 0.5) / n
    cover = np.zeros((height_px, width_px), np.float32)
    cols = np.arange(width_px, dtype=np.float64)
    rows = np.arange(height_px, dtype=np.float64)
    for oy in offsets:
        py = ((rows + oy) / scale - pad_origin[1]).astype(np.float32)
        for ox in offsets:
            px = ((cols + ox) / scale - pad_origin[0]).astype(np.float32)
            cover += is_inside(px[None, :], py[:, None])
    return cover / (n * n)
