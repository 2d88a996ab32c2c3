#!/usr/bin/python3
"""Draws the editor's images and writes them into resources/images/, with
their resource index table, plus a contact sheet and a window mock-up into
docs/.

Run from anywhere:  tools/artwork/make_artwork.py
Needs Debian's python3-cairo, python3-numpy, python3-scipy, python3-pil and
fonts-inter. The output is deterministic: running it again rewrites the same
bytes (on the same library versions).
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import background  # noqa: E402
import controls  # noqa: E402
import panels  # noqa: E402
import sheets  # noqa: E402
from canvas import save_png  # noqa: E402

ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
IMAGE_DIR = os.path.join(ROOT, "resources", "images")
DOCS_DIR = os.path.join(ROOT, "docs")

# resource index, file name, pixel size, recipe
IMAGES = [
    (31, "about_panel.png", (740, 688), panels.about_panel),
    (32, "info_button_hover.png", (368, 92), lambda: controls.info_button(True)),
    (33, "info_button.png", (368, 92), lambda: controls.info_button(False)),
    (34, "auto_gain_switch_off.png", (318, 162), lambda: controls.auto_gain_switch(False)),
    (35, "auto_gain_switch_on.png", (318, 162), lambda: controls.auto_gain_switch(True)),
    (36, "bypass_button_pressed.png", (240, 130), lambda: controls.bypass_button(True)),
    (37, "bypass_overlay.png", (1800, 1134), panels.bypass_overlay),
    (38, "bypass_button.png", (240, 130), lambda: controls.bypass_button(False)),
    (40, "meter_bar_wide.png", (10, 710), controls.meter_bar_wide),
    (41, "meter_bar_thin.png", (4, 710), controls.meter_bar_thin),
    (42, "fader_thumb.png", (154, 152), controls.fader_thumb),
    (43, "link_toggle_off.png", (76, 98), lambda: controls.link_toggle(False)),
    (44, "link_toggle_on.png", (76, 98), lambda: controls.link_toggle(True)),
    (45, "mix_knob_pointer.png", (390, 390), controls.mix_knob_pointer),
    (46, "mix_knob_body.png", (392, 392), controls.mix_knob_body),
    (47, "mix_ring.png", (316, 316), controls.mix_ring),
    (48, "preset_menu_row_highlighted.png", (342, 60), lambda: controls.preset_menu_row(True)),
    (49, "preset_menu_row.png", (342, 60), lambda: controls.preset_menu_row(False)),
    (54, "preset_menu_background.png", (346, 328), controls.preset_menu_background),
    (61, "preset_button.png", (300, 130), lambda: controls.preset_button(False)),
    (62, "preset_button_pressed.png", (300, 130), lambda: controls.preset_button(True)),
    (63, "pad_handle.png", (152, 152), controls.pad_handle),
    (64, "window_background.png", (1800, 1134), background.window_background),
]


def write_index(path):
    """The CMake table that maps each image to the resource index that the
    editor's code names."""
    lines = ["# Written by tools/artwork/make_artwork.py: resource index = image file.",
             "set(TESSALINE_IMAGE_RESOURCES"]
    lines += ['    "%d=%s"' % (index, name) for index, name, _, _ in IMAGES]
    lines.append(")")
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(lines) + "\n")


def render_all():
    images = {}
    for index, name, size, recipe in IMAGES:
        image = recipe().image()
        if image.size != size:
            raise SystemExit("%s came out %dx%d, expected %dx%d" % ((name,) + image.size + size))
        images[index] = (name, image)
        print("drew %-34s %4d x %-4d  (resource %d)" % ((name,) + size + (index,)))
    return images


def main():
    os.makedirs(IMAGE_DIR, exist_ok=True)
    os.makedirs(DOCS_DIR, exist_ok=True)
    images = render_all()
    for name, image in images.values():
        save_png(image, os.path.join(IMAGE_DIR, name))
    write_index(os.path.join(IMAGE_DIR, "image_index.cmake"))
    by_index = {index: image for index, (_, image) in images.items()}
    sheets.save_small(sheets.contact_sheet(images),
                      os.path.join(DOCS_DIR, "artwork-contact-sheet.png"))
    sheets.save_small(sheets.window_mockup(by_index),
                      os.path.join(DOCS_DIR, "window-mockup.png"))


if __name__ == "__main__":
    main()
