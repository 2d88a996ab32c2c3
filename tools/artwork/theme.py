"""Colours, type and placements shared by every image of the editor.

Edit the look here: every drawing in make_artwork.py takes its colours and
fonts from this file. The placements are those of the editor's layout code
(window pixels, x, y, width, height); the artwork is drawn around them so that
what the editor draws on top lands where the background expects it.
"""

# --- colours (0..255) ------------------------------------------------------
PANEL = (239, 243, 249)          # the window panel and the preset menu
PANEL_EDGE = (206, 213, 225)     # the chassis colour beyond the panel's rounded corners
CARD = (246, 248, 252)           # raised plates behind the gain and mix groups
CARD_BORDER = (223, 229, 239)
WELL = (222, 228, 239)           # recessed tracks (meter wells, mix ring track)
WELL_SHADE = (60, 70, 96)        # the colour of every shadow
CAPTION = (114, 125, 148)        # captions printed on the panel
TITLE = (50, 60, 88)             # the product title and button text
BUTTON_TEXT = (66, 78, 110)
MUTED = (158, 168, 188)          # unlit labels and symbols
VALUE_BLUE = (111, 129, 249)     # 0xff6f81f9: the value texts the editor prints
ACCENT = VALUE_BLUE
SKY = (88, 192, 250)             # bottom of the meter bars
VIOLET = (126, 96, 246)          # top of the meter bars
CYAN = (52, 200, 236)            # mix ring end and pointer
MAGENTA = (226, 74, 200)         # glow of the pad handle
OVERLAY_SLATE = (81, 89, 104)    # bypass overlay, at OVERLAY_ALPHA
ABOUT_SLATE = (81, 89, 102)      # about panel, at OVERLAY_ALPHA
OVERLAY_ALPHA = 204
WHITE = (255, 255, 255)

# The pad's three corners, each the colour of the tone it stands for.
PAD_BRIGHT = (96, 198, 247)
PAD_NEUTRAL = (111, 129, 249)
PAD_DARK = (94, 62, 198)

# --- type -------------------------------------------------------------------
# One typeface (Inter, SIL Open Font License, Debian package fonts-inter),
# in three of its weights.
FONT_REGULAR = "Inter"
FONT_MEDIUM = "Inter Medium"
FONT_SEMIBOLD = "Inter Semi Bold"
# What the editor's own value texts look like (the framework's default sans
# face on Linux); used only in the mock-up.
FONT_EDITOR_DEFAULT = "DejaVu Sans"

CAPTION_SIZE = 11.0
CAPTION_TRACKING = 1.6

# --- placements in the 900 x 567 window -----------------------------------
WINDOW = (900, 567)
WINDOW_CORNER = 8.0              # the panel's and the bypass overlay's corner radius

IO_SEGMENT = (50, 100, 220, 410)
METER_WELL_X = (31, 105)         # in the meter (= IO segment) coordinates
METER_WELL_WIDTH = 41
METER_BAR_TOP = 27
METER_BAR_HEIGHT = 355
INPUT_FADER = (12, 24, 77, 370)  # in IO segment coordinates
OUTPUT_FADER = (86, 24, 77, 370)
FADER_TRAVEL_TOP = 25            # thumb centre at the maximum, fader coordinates
FADER_TRAVEL = 312
LINK_TOGGLE = (68, 178, 38, 49)  # in IO segment coordinates
CLIP_READOUTS = ((13, -5, 69, 23), (87, -5, 69, 23))

PAD = (193, 49, 512, 445)
MIX = (672, 151, 195, 195)
MIX_RING = (19, 19, 158, 158)    # in mix segment coordinates
AUTO_GAIN = (687, 379, 159, 81)
PRESETS = (63, 25, 150, 65)
BYPASS = (713, 25, 120, 65)
INFO = (687, 518, 184, 46)
ABOUT_PANEL = (269, 118, 370, 344)
MANUAL_LINK = (401, 338, 106, 25)

VERSION = "1.0.0"
TITLE_TEXT = "Tessaline"
MAKER = "Brackwell"
