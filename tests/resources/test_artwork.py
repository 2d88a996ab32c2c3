"""Checks of the editor's images against the window they are drawn into.

The expected sizes, placements and the pad's inside test are written out
here from the editor's layout, independently of the program that draws the
images, so a drawing that drifts from the layout fails here.
"""

import os
import re
import unittest

import numpy as np
from PIL import Image
from scipy import ndimage

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
IMAGE_DIR = os.path.join(ROOT, "resources", "images")

# resource index: (pixel size, corners) where corners is "transparent" for
# images drawn over something else and "opaque" for images that fill their
# rectangle.
EXPECTED = {
    31: ((740, 688), "transparent"),   # about panel
    32: ((368, 92), "transparent"),    # information button, hover
    33: ((368, 92), "transparent"),    # information button
    34: ((318, 162), "transparent"),   # automatic gain switch, off
    35: ((318, 162), "transparent"),   # automatic gain switch, on
    36: ((240, 130), "transparent"),   # bypass button, pressed
    37: ((1800, 1134), "transparent"),  # bypass overlay
    38: ((240, 130), "transparent"),   # bypass button
    40: ((10, 710), "transparent"),    # wide meter bar
    41: ((4, 710), "opaque"),          # thin meter bar
    42: ((154, 152), "transparent"),   # fader thumb
    43: ((76, 98), "transparent"),     # link toggle, off
    44: ((76, 98), "transparent"),     # link toggle, on
    45: ((390, 390), "transparent"),   # mix pointer
    46: ((392, 392), "transparent"),   # mix knob body
    47: ((316, 316), "transparent"),   # mix ring
    48: ((342, 60), "opaque"),         # menu row, highlighted
    49: ((342, 60), "opaque"),         # menu row
    54: ((346, 328), "transparent"),   # menu background
    61: ((300, 130), "transparent"),   # preset button
    62: ((300, 130), "transparent"),   # preset button, pressed
    63: ((152, 152), "transparent"),   # pad handle
    64: ((1800, 1134), "opaque"),      # window background
}

WINDOW = (900, 567)
IO_SEGMENT = (50, 100)
PAD_ORIGIN = (193, 49)
MANUAL_LINK = (401, 338, 106, 25)
ABOUT_PANEL = (269, 118, 370, 344)


def load_index():
    """Resource index -> file name, from the table the build embeds."""
    with open(os.path.join(IMAGE_DIR, "image_index.cmake"), encoding="ascii") as f:
        pairs = re.findall(r'"(\d+)=([^"]+)"', f.read())
    return {int(index): name for index, name in pairs}


def load(index):
    return np.asarray(Image.open(os.path.join(IMAGE_DIR, load_index()[index])).convert("RGBA"))


# --- the pad's accepted area, as the pad tests it -------------------------------------
SQRT3 = np.float32(1.73205)


def pad_is_inside(x, y):
    """Inside test of the rounded triangle for float32 pad coordinates."""
    x, y = np.broadcast_arrays(np.float32(x), np.float32(y))
    side = np.float32(512) - np.float32(45) * SQRT3
    dx = x - np.float32(22.5) * SQRT3
    up = (np.float32(445) - np.float32(22.5)) - y
    eps = 1e-6
    outside = up.astype(np.float64) + eps < 0
    outside |= (dx * SQRT3 - up).astype(np.float64) + eps < 0
    outside |= (dx * SQRT3 + up - SQRT3 * side).astype(np.float64) - eps > 0
    r2 = np.float32(2209)
    in_dark = (x >= 391) & (y >= 345)
    in_neutral = ~in_dark & (x <= 121) & (y >= 345)
    in_bright = ~in_dark & ~in_neutral & (y <= 109)
    outside |= in_dark & ~((x - 391) ** 2 + (y - 375) ** 2 < r2)
    outside |= in_neutral & ~((121 - x) ** 2 + (y - 375) ** 2 < r2)
    outside |= in_bright & ~((140 - y) ** 2 + (x - 256) ** 2 < r2)
    return ~outside


def accepted_area_on_background(shape):
    """The accepted area sampled at the centre of each background pixel
    (two per window pixel), the pad placed at PAD_ORIGIN."""
    h, w = shape
    px = ((np.arange(w) + 0.5) / 2.0 - PAD_ORIGIN[0]).astype(np.float32)
    py = ((np.arange(h) + 0.5) / 2.0 - PAD_ORIGIN[1]).astype(np.float32)
    return pad_is_inside(px[None, :], py[:, None])


def border(mask):
    """Pixels of mask with a 4-neighbour outside it."""
    return mask & ~ndimage.binary_erosion(mask, structure=[[0, 1, 0], [1, 1, 1], [0, 1, 0]])


def luminance(rgb):
    rgb = rgb.astype(np.float32)
    return 0.299 * rgb[..., 0] + 0.587 * rgb[..., 1] + 0.114 * rgb[..., 2]


def triangle_colour(rgb):
    """The pad's artwork is the only strongly blue-violet paint on the panel."""
    rgb = rgb.astype(np.int32)
    return rgb[..., 2] - rgb[..., 0] > 60


def window_rect_pixels(x, y, w, h):
    """Slices of the background (two pixels per window pixel) for a window
    rectangle."""
    return slice(int(round(2 * y)), int(round(2 * (y + h)))), slice(int(round(2 * x)), int(round(2 * (x + w))))


class ImageFiles(unittest.TestCase):
    def test_index_table_names_every_image_once(self):
        index = load_index()
        self.assertEqual(sorted(index), sorted(EXPECTED))
        self.assertEqual(len(set(index.values())), len(EXPECTED))
        on_disk = {f for f in os.listdir(IMAGE_DIR) if f.endswith(".png")}
        self.assertEqual(set(index.values()), on_disk)

    def test_pixel_sizes(self):
        for index, name in load_index().items():
            with self.subTest(resource=index, file=name):
                with Image.open(os.path.join(IMAGE_DIR, name)) as image:
                    self.assertEqual(image.format, "PNG")
                    self.assertEqual(image.mode, "RGBA")
                    self.assertEqual(image.size, EXPECTED[index][0])

    def test_corners(self):
        for index, (_, corners) in EXPECTED.items():
            with self.subTest(resource=index):
                alpha = load(index)[..., 3]
                corner_alpha = [alpha[0, 0], alpha[0, -1], alpha[-1, 0], alpha[-1, -1]]
                if corners == "opaque":
                    self.assertTrue((alpha == 255).all(), "an image that fills its rectangle has a hole")
                else:
                    self.assertEqual(corner_alpha, [0, 0, 0, 0])
                    self.assertGreater(int(alpha.max()), 0, "image is empty")

    def test_wide_bar_is_six_opaque_columns_centred(self):
        alpha = load(40)[..., 3]
        middle = alpha[20:-20]
        self.assertTrue((middle[:, 2:8] == 255).all())
        self.assertTrue((alpha[:, :2] == 0).all() and (alpha[:, 8:] == 0).all())

    def test_bars_run_from_violet_blue_to_sky_blue(self):
        for index in (40, 41):
            with self.subTest(resource=index):
                rgb = load(index)[..., :3].astype(int)
                top, bottom = rgb[20, 2 if index == 40 else 1], rgb[-20, 2 if index == 40 else 1]
                self.assertGreater(top[0], bottom[0], "top should be the redder, violet end")
                self.assertGreater(bottom[1], top[1], "bottom should be the greener, sky end")

    def test_slate_layers(self):
        """The bypass overlay and the about panel are slate at alpha 204
        wherever they carry no text."""
        for index, slate, probe in ((37, (81, 89, 104), (60, 900)), (31, (81, 89, 102), (40, 370))):
            with self.subTest(resource=index):
                pixel = load(index)[probe]
                self.assertEqual(tuple(int(v) for v in pixel), slate + (204,))

    def test_menu_rows_and_background_colours(self):
        row = load(49)
        self.assertTrue((row[..., :3] == (239, 243, 249)).all())
        highlighted = load(48)[..., :3].reshape(-1, 3).mean(axis=0)
        np.testing.assert_allclose(highlighted, (222, 231, 241), atol=4)
        menu = load(54)
        self.assertEqual(tuple(int(v) for v in menu[164, 173]), (239, 243, 249, 255))

    def test_panel_colour(self):
        """The window's panel, away from the light behind the pad, is the
        preset menu's colour, so the menu sits on it as part of it."""
        background = load(64)
        for x, y in ((25, 300), (880, 300), (30, 540), (640, 30)):
            with self.subTest(window_point=(x, y)):
                pixel = background[2 * y, 2 * x]
                np.testing.assert_allclose(pixel[:3].astype(int), (239, 243, 249), atol=1)
                self.assertEqual(pixel[3], 255)

    def test_no_time_stamps(self):
        """PNGs carry no time chunk, so regenerating gives the same bytes."""
        for name in load_index().values():
            with self.subTest(file=name):
                with open(os.path.join(IMAGE_DIR, name), "rb") as f:
                    self.assertNotIn(b"tIME", f.read())


class PadOutline(unittest.TestCase):
    """The triangle printed on the background is the area the pad accepts."""

    @classmethod
    def setUpClass(cls):
        background = load(64)
        h, w = background.shape[:2]
        cls.area = accepted_area_on_background((h, w))
        pad_box = np.zeros((h, w), bool)
        pad_box[window_rect_pixels(PAD_ORIGIN[0], PAD_ORIGIN[1], 512, 445)] = True
        coloured = triangle_colour(background[..., :3]) & pad_box
        labels, count = ndimage.label(coloured)
        sizes = ndimage.sum(coloured, labels, range(1, count + 1))
        cls.pieces = [int(s) for s in sizes]
        # the triangle is the large piece; its outer border is what counts
        cls.drawn = ndimage.binary_fill_holes(labels == 1 + int(np.argmax(sizes)))

    def border_distance(self):
        """Largest distance, in window pixels, from either border to the
        other."""
        drawn_border, area_border = border(self.drawn), border(self.area)
        to_area = ndimage.distance_transform_edt(~area_border)
        to_drawn = ndimage.distance_transform_edt(~drawn_border)
        return max(to_area[drawn_border].max(), to_drawn[area_border].max()) / 2.0

    def test_borders_within_one_window_pixel(self):
        distance = self.border_distance()
        print("\nlargest distance between printed and accepted pad border: %.2f window px" % distance)
        self.assertLessEqual(distance, 1.0)

    def test_drawn_triangle_matches_the_area(self):
        self.assertGreater(max(self.pieces), 0.98 * self.area.sum())
        disagreement = (self.drawn ^ self.area).sum() / self.area.sum()
        self.assertLess(disagreement, 0.01)

    def test_corner_cuts_printed(self):
        """Points inside the sharp triangle but cut off by the corner circles
        show the panel, not the pad's colour."""
        background = load(64)
        for pad_point in ((60, 410), (256, 60), (452, 410)):
            self.assertFalse(pad_is_inside(*pad_point))
            x = int(2 * (PAD_ORIGIN[0] + pad_point[0]))
            y = int(2 * (PAD_ORIGIN[1] + pad_point[1]))
            with self.subTest(point=pad_point):
                self.assertFalse(triangle_colour(background[y, x, :3]))


def bar_positions():
    """(x, width) of every bar of every layout from 2 to 12 channels per side,
    as the level meter computes them."""
    input_x = [31, 31, 31, 32, 31, 31, 31, 31, 31, 31, 31]
    output_x = [105, 105, 105, 106, 105, 105, 105, 105, 105, 105, 105]
    bars = []
    for c in range(2, 13):
        k = c - 2
        if c <= 5:
            pad = (41 - 5 * c) // (c + 1)
            first, step, width = pad, pad + 5, 5
        else:
            gap = 1 if c > 9 else 2
            margin = int((41 - ((c - 1) * gap + 2 * c)) / 2)
            first, step, width = margin, gap + 2, 2
        for group_x in (input_x[k], output_x[k]):
            bars += [(group_x + first + i * step, width) for i in range(c)]
    return bars


class ControlPlacement(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.background = load(64)

    def well_mask(self):
        """Meter wells are recessed: noticeably darker than the plate."""
        rgb = self.background[..., :3]
        return (luminance(rgb) < 236) & ~triangle_colour(rgb)

    def test_bar_positions_match_the_meter_table(self):
        bars = bar_positions()
        self.assertIn((41, 5), bars)
        self.assertIn((130, 5), bars)
        self.assertIn((34 + 11 * 3, 2), bars)
        self.assertIn((108 + 11 * 3, 2), bars)

    def test_every_bar_stands_in_a_well(self):
        wells = self.well_mask()
        for x, width in bar_positions():
            rows, cols = window_rect_pixels(IO_SEGMENT[0] + x, IO_SEGMENT[1] + 27, width, 355)
            with self.subTest(bar_x=x):
                self.assertTrue(wells[rows, cols].all())

    def test_wells_are_41_pixels_wide_at_31_and_105(self):
        wells = self.well_mask()
        for well_x in (31, 105):
            left = IO_SEGMENT[0] + well_x
            for y in range(IO_SEGMENT[1] + 27, IO_SEGMENT[1] + 383, 25):
                row = wells[2 * y + 1]
                centre = 2 * (left + 20)
                lo = centre
                while row[lo - 1]:
                    lo -= 1
                hi = centre
                while row[hi + 1]:
                    hi += 1
                with self.subTest(well=well_x, y=y):
                    self.assertAlmostEqual(lo / 2.0, left, delta=1.0)
                    self.assertAlmostEqual((hi + 1) / 2.0, left + 41, delta=1.0)

    def test_manual_link_label_lies_on_its_hot_spot(self):
        panel = load(31)
        px, py = ABOUT_PANEL[:2]
        x, y, w, h = MANUAL_LINK
        x, y = x - px, y - py
        light = (luminance(panel[..., :3]) > 200) & (panel[..., 3] > 200)
        band = light[2 * (y - 12): 2 * (y + h + 12)]
        ys, xs = np.nonzero(band)
        self.assertGreater(len(xs), 100, "no label near the manual link")
        self.assertGreaterEqual(xs.min(), 2 * x)
        self.assertLessEqual(xs.max(), 2 * (x + w) - 1)
        self.assertGreaterEqual(ys.min() + 2 * (y - 12), 2 * y)
        self.assertLessEqual(ys.max() + 2 * (y - 12), 2 * (y + h) - 1)
        label = light[2 * y + 12: 2 * (y + h) - 12, 2 * x + 12: 2 * (x + w) - 12]
        self.assertGreater(label.sum(), 150, "the label's text is missing")

    def caption_ink(self):
        """Printed text: dark and nearly grey. The pad's anti-aliased rim
        can be as dark, but it is bluer and lies beside the pad's colour."""
        rgb = self.background[..., :3]
        greyish = rgb[..., 2].astype(int) - rgb[..., 0].astype(int) < 45
        near_pad = ndimage.binary_dilation(triangle_colour(rgb), iterations=3)
        return (luminance(rgb) < 170) & greyish & ~near_pad

    def test_captions_below_their_controls(self):
        ink = self.caption_ink()
        # (what, window region just below or beside the control it names)
        regions = [
            ("IN", (81, 494, 41, 24)),
            ("OUT", (155, 494, 41, 24)),
            ("MIX", (740, 346, 60, 18)),
            ("AUTO GAIN", (710, 462, 114, 22)),
            ("BRIGHT", (420, 100, 58, 30)),
            ("NEUTRAL", (240, 494, 100, 24)),
            ("DARK", (560, 494, 100, 24)),
        ]
        for name, rect in regions:
            with self.subTest(caption=name):
                self.assertGreater(ink[window_rect_pixels(*rect)].sum(), 40)

    def footprint(self):
        """Every background pixel that something the editor draws can cover
        noticeably (alpha above 20 %), over all values of the controls."""
        h, w = self.background.shape[:2]
        cover = np.zeros((h, w), bool)

        def stamp(index, x, y, clip=None):
            solid = load(index)[..., 3] > 51
            ih, iw = solid.shape
            x0, y0 = int(round(2 * x)), int(round(2 * y))
            region = np.zeros((h, w), bool)
            ys, xs = np.nonzero(solid)
            ys, xs = ys + y0, xs + x0
            keep = (ys >= 0) & (ys < h) & (xs >= 0) & (xs < w)
            region[ys[keep], xs[keep]] = True
            if clip is not None:
                rows, cols = window_rect_pixels(*clip)
                limit = np.zeros((h, w), bool)
                limit[rows, cols] = True
                region &= limit
            cover[:] |= region

        for fader_x in (12, 86):
            fx, fy = IO_SEGMENT[0] + fader_x, IO_SEGMENT[1] + 24
            for top in range(-13, 300):
                stamp(42, fx, fy + top, clip=(fx, fy, 77, 370))
        stamp(43, IO_SEGMENT[0] + 68, IO_SEGMENT[1] + 178)
        stamp(44, IO_SEGMENT[0] + 68, IO_SEGMENT[1] + 178)
        for rx, ry, rw, rh in ((13, -5, 69, 23), (87, -5, 69, 23)):
            cover[window_rect_pixels(IO_SEGMENT[0] + rx, IO_SEGMENT[1] + ry, rw, rh)] = True
        stamp(47, 672 + 19, 151 + 19)
        stamp(46, 672, 151)
        pointer = load(45)[..., 3] > 51
        ys, xs = np.nonzero(pointer)
        reach = np.hypot(ys + 0.5 - 195, xs + 0.5 - 195).max()
        yy, xx = np.mgrid[0:h, 0:w]
        cover |= np.hypot(xx + 0.5 - 2 * (672 + 97.5), yy + 0.5 - 2 * (151 + 97.5)) <= reach
        for index in (34, 35):
            stamp(index, 687, 379)
        for index in (61, 62):
            stamp(index, 63, 25)
        for index in (36, 38):
            stamp(index, 713, 25)
        for index in (32, 33):
            stamp(index, 687, 518)
        handle = load(63)[..., 3] > 51
        ys, xs = np.nonzero(handle)
        handle_reach = np.hypot(ys + 0.5 - 76, xs + 0.5 - 76).max() + 2  # +2: truncated placement
        area = accepted_area_on_background((h, w))
        cover |= ndimage.distance_transform_edt(~area) <= handle_reach
        return cover

    def test_no_caption_under_a_control(self):
        ink = self.caption_ink()
        covered = ink & self.footprint()
        ys, xs = np.nonzero(covered)
        where = "" if not len(xs) else " e.g. at window (%.1f, %.1f)" % (xs[0] / 2, ys[0] / 2)
        self.assertEqual(int(covered.sum()), 0, "caption pixels under a control" + where)

    def test_value_texts_land_on_pale_caps(self):
        """The editor prints values in 0xff6f81f9 on the fader thumb and
        the mix knob; both must be pale where the text goes."""
        thumb = load(42)
        centre = thumb[76 - 14: 76 + 14, 77 - 30: 77 + 30]
        self.assertTrue((centre[..., 3] == 255).all())
        self.assertGreater(luminance(centre[..., :3]).min(), 215)
        knob = load(46)
        text = knob[2 * 87: 2 * 107, 2 * 67: 2 * 127]
        self.assertTrue((text[..., 3] == 255).all())
        self.assertGreater(luminance(text[..., :3]).min(), 200)


if __name__ == "__main__":
    unittest.main()
