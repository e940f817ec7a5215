"""What the main window should look like from outside: its captions in both
languages, the 40 controls in creation order, the radio groups with their
page defaults, the lamp geometry and colours, and a few helpers shared by
test_window, test_panel and test_lamps (screenshots kept as PNG artefacts).
"""

import os
import re
import struct
import zlib

import harness
from expected_texts import BY_LANGUAGE, EN, RU
from harness import CYAN, MAGENTA, RED, WHITE, wait_until

LNX, USB = 0, 1
PAGE_NAMES = {LNX: "lnx", USB: "usb"}

# The bench's screen is 1024 x 768: both windows are centred by their
# top-left corner with truncating division.
MAIN_RECT = [315, 49, 315 + 395, 49 + 670]
POPUP_RECT = [364, 359, 364 + 291, 359 + 50]

WS_VISIBLE, WS_DISABLED, WS_CLIPSIBLINGS = 0x10000000, 0x08000000, 0x04000000
WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, WS_TABSTOP = 0x00C00000, 0x00080000, 0x00020000, 0x00010000
WS_EX_TOPMOST, WS_EX_WINDOWEDGE = 0x00000008, 0x00000100
PBS_SMOOTH = 0x01

# The main window: WS_SYSMENU | WS_MINIMIZEBOX as created; the system adds a
# caption and sibling clipping to an overlapped window, and WS_VISIBLE once
# shown. Topmost shows in the extended style, with the system's window edge.
MAIN_STYLE = WS_VISIBLE | WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
MAIN_EXSTYLE = WS_EX_WINDOWEDGE | WS_EX_TOPMOST
# The progress popup: WS_VISIBLE | PBS_SMOOTH as created, a caption from the
# system, and no system menu (hence no close box). Its owner is topmost, so
# it is topmost too.
POPUP_STYLE = WS_VISIBLE | WS_CLIPSIBLINGS | WS_CAPTION | PBS_SMOOTH
POPUP_EXSTYLE = WS_EX_WINDOWEDGE | WS_EX_TOPMOST

TITLES = {lang: BY_LANGUAGE[lang]["TxtWindowTitle"] for lang in BY_LANGUAGE}
CAPTION = {lang: BY_LANGUAGE[lang]["TxtMessageCaption"] for lang in BY_LANGUAGE}
SEARCH_TITLES = {
    ("EN", LNX): EN["TxtProgressSearchLnx"],
    ("EN", USB): EN["TxtProgressSearchUsb"],
    ("RU", LNX): RU["TxtProgressSearchLnx"],
    ("RU", USB): RU["TxtProgressSearchUsb"],
}
NO_PORTS = {lang: BY_LANGUAGE[lang]["TxtNoPorts"] for lang in BY_LANGUAGE}

# Captions that follow the language, by text id (the rest are literals).
TEXTS = BY_LANGUAGE

TAB_LABELS = ["Tarvik-LNA_B", "  Tarvik-USB   "]

BOTH = "both"

# The panel in creation order: class, caption (a Txt key or a literal),
# style, x, y, width, height, id, page; from the tests' one copy of the
# control table, which the unit tests compile.
_CONTROLS_PATH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "unit",
                              "expected_controls.inc")
_CONTROL_ROW = re.compile(r'^(TEXT|LITERAL)_CONTROL\(\w+, "([^"]*)", (?:(Txt\w+)|"([^"]*)"), (0x[0-9A-Fa-f]+), '
                          r'(\d+), (\d+), (\d+), (\d+), (\d+), (Both|Lnx|Usb)\)$', re.M)
_PAGES = {"Both": BOTH, "Lnx": LNX, "Usb": USB}


def _read_controls():
    with open(_CONTROLS_PATH, encoding="utf-8") as f:
        rows = _CONTROL_ROW.findall(f.read())
    if not rows:
        raise AssertionError("no controls read from %s" % _CONTROLS_PATH)
    return [(cls, text_id or literal, int(style, 16), int(x), int(y), int(w), int(h), int(id), _PAGES[page])
            for _, cls, text_id, literal, style, x, y, w, h, id, page in rows]


CONTROLS = _read_controls()

# Creation-order indexes of the cards-to-read group box and its radios:
# visible on both pages, enabled on the Usb page only.
CARDS_GROUP = {33, 34, 35, 36}
HEX_DEC = {harness.ID_FMT_HEX, harness.ID_FMT_DEC}

# Radio groups (first id, last id), the page they are on and the radio the
# page defaults check.
GROUPS = [
    ((3, 5), LNX, 3), ((6, 7), LNX, 6), ((8, 10), LNX, 10), ((11, 12), LNX, 11),
    ((20, 21), USB, 20), ((22, 23), USB, 22), ((24, 25), USB, 24), ((26, 29), USB, 26),
    ((32, 34), BOTH, 32),
]


def group_of(radio):
    for (first, last), _, _ in GROUPS:
        if first <= radio <= last:
            return range(first, last + 1)
    raise KeyError(radio)


class PanelState:
    """What the panel should show: the page, the checked radios and whether
    HEX and DEC are enabled. Changed the way the program is told to change
    it: page defaults on start-up and tab switch, clicks on radios."""

    def __init__(self, page):
        self.page = LNX
        self.checked = set()
        self.hex_dec_enabled = True
        self.switch(page)

    def switch(self, page):
        self.page = page
        for (first, last), group_page, default in GROUPS:
            if group_page in (page, BOTH):
                self.click(default)
        if page == USB:
            self.hex_dec_enabled = True

    def click(self, radio):
        self.checked.difference_update(group_of(radio))
        self.checked.add(radio)
        if radio == harness.ID_OUT_TOUCH_MEMORY:
            self.hex_dec_enabled = False
        elif radio == harness.ID_OUT_HEX_DEC:
            self.hex_dec_enabled = True


def expected_controls(language, state):
    """The 40 records the driver should list, in creation order, with the
    fields the tests compare: class (lower case), text, style, rect, id,
    visible, enabled, check."""
    texts = TEXTS[language]
    records = []
    for index, (cls, caption, style, x, y, w, h, id, page) in enumerate(CONTROLS):
        visible = page in (BOTH, state.page)
        enabled = True
        if index in CARDS_GROUP:
            enabled = state.page == USB
        elif id in HEX_DEC:
            enabled = state.hex_dec_enabled
        is_radio = (style & 0xF) == 0x9
        check = None
        if cls == "Button":
            check = 1 if id in state.checked and is_radio else 0
        style = style & ~WS_VISIBLE | (WS_VISIBLE if visible else 0)
        if not enabled:
            style |= WS_DISABLED
        # A radio button gives itself WS_TABSTOP while it is checked and
        # takes it away when it is cleared (Windows and Wine alike); the
        # program gives no control a tab stop.
        if check == 1:
            style |= WS_TABSTOP
        records.append({
            "class": cls.lower(),
            "text": texts.get(caption, caption),
            "style": "0x%08x" % style,
            "rect": [x, y, x + w, y + h],
            "id": id,
            "visible": visible,
            "enabled": enabled,
            "check": check,
        })
    return records


def actual_controls(driver):
    """The driver's child list (GW_CHILD order) in the shape of
    expected_controls."""
    return [{
        "class": record["class"].lower(),
        "text": record["text"],
        "style": record["style"],
        "rect": list(record["rect"]),
        "id": record["id"],
        "visible": record["visible"],
        "enabled": record["enabled"],
        "check": record.get("check"),
    } for record in driver.controls()]


def assert_panel(test, language, state):
    """Every control of the panel, in creation order, as state says. Under
    Wine (as on Windows) a new child goes to the bottom of the z-order, so
    the driver's GW_CHILD order is the creation order."""
    actual = actual_controls(test.driver)
    expected = expected_controls(language, state)
    test.assertEqual(len(actual), len(expected), [a["text"] for a in actual])
    for index, (got, want) in enumerate(zip(actual, expected)):
        if want["id"] == harness.ID_PORT_LIST:
            # A drop-down list's window is as high as its closed field,
            # which the system sizes; the height given is its list's.
            height = got["rect"][3] - got["rect"][1]
            test.assertTrue(0 < height < 200, got)
            want = dict(want, rect=want["rect"][:3] + [got["rect"][3]])
        test.assertEqual(got, want, "control No. %d (%r), page %s, %s" %
                         (index + 1, want["text"], PAGE_NAMES[state.page], language))
    tabs = test.driver.tabs()
    test.assertEqual([item["text"] for item in tabs["items"]], TAB_LABELS)
    test.assertEqual(tabs["sel"], state.page)


# ---- lamps

LAMP_RECTS = harness.LAMP_RECTS
DEFAULT_LAMPS = {LNX: [RED, RED, MAGENTA, RED, WHITE], USB: [CYAN, WHITE, WHITE, WHITE, WHITE]}
# A lamp's rim (a 2-pixel pen centred on the circle) stays within this
# margin around its 20 x 20 rectangle.
LAMP_MARGIN = 3


def grown(rect, margin=LAMP_MARGIN):
    l, t, r, b = rect
    return (l - margin, t - margin, r + margin, b + margin)


def uncovered_parts(old, new):
    """The parts of rectangle old (as horizontal bands) that rectangle new
    does not cover; both span the same columns, as the lamps do."""
    ol, ot, orr, ob = old
    _, nt, _, nb = new
    if nb <= ot or nt >= ob:
        return [old]
    bands = []
    if ot < nt:
        bands.append((ol, ot, orr, nt))
    if nb < ob:
        bands.append((ol, nb, orr, ob))
    return bands


def old_lamp_bands(old_page, new_page):
    """Where the old page's lamps were drawn and the new page's are not."""
    bands = []
    for old, new in zip(LAMP_RECTS[old_page], LAMP_RECTS[new_page]):
        bands.extend(uncovered_parts(grown(old), grown(new)))
    return bands


# ---- the start-up search and screenshots

def dismiss_boxes(test, language, expected, timeout=10):
    """Checks the boxes shown one after another, [(text, picture), ...],
    presses OK on each and waits until the main window is enabled again."""
    for text, picture in expected:
        boxes = test.driver.wait_box(timeout)
        test.assertEqual(len(boxes), 1, boxes)
        test.assertBox(boxes[0], text, picture, CAPTION[language])
        test.assertEqual(boxes[0]["buttons"], [{"id": 1, "text": "OK"}], boxes[0])
        test.driver.ok()
    test.driver.wait_enabled(timeout)
    test.assertEqual(test.driver.boxes(), [])


def artefact_dir():
    path = os.path.join(harness.BUILD, "artefacts")
    os.makedirs(path, exist_ok=True)
    return path


def write_png(path, width, height, rgb):
    """An 8-bit RGB PNG (Python's standard library has no image writer)."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\0" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        f.write(chunk(b"IEND", b""))


def keep_window_shot(test, name):
    """Saves the main window's part of a screenshot as BUILD/artefacts/NAME
    and checks that the screenshot agrees with the pixels the driver reads
    at the lamp centres. Returns the path, or None without ImageMagick."""
    info = test.driver.wininfo()
    shot = harness.screenshot(test.env)
    if shot is None:
        return None
    width, height, rgb = shot
    left, top, right, bottom = info["rect"]
    left, top = max(left, 0), max(top, 0)
    right, bottom = min(right, width), min(bottom, height)
    crop = b"".join(rgb[(y * width + left) * 3:(y * width + right) * 3] for y in range(top, bottom))
    path = os.path.join(artefact_dir(), name)
    write_png(path, right - left, bottom - top, crop)
    ox, oy = info["client_origin"]
    page = test.driver.tabsel()
    centres = harness.lamp_centres(page)
    test.assertEqual([harness.shot_pixel(shot, x + ox, y + oy) for x, y in centres],
                     test.driver.pixels(centres), "screenshot %s" % name)
    return path


def wait_lamps(test, page, colours, timeout=3):
    wait_until(lambda: test.driver.lamps(page) == colours, timeout,
               message="lamps %s on page %d" % (colours, page))
