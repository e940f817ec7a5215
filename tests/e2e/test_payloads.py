"""Settings payloads on the panel, end to end: a simulated reader reports
settings, READ puts them on the panel (radio buttons, lamps read as screen
pixels, one box per field that is not recognised, in field order), and WRITE
sends back exactly what the panel shows.
"""

import unittest

import harness
from harness import WHITE
from reader_flow import (BAD_BYTE_COUNT, BAD_CARDS, BAD_INDICATION, BAD_INTERFACE, BAD_MODE,
                         BAD_OUTPUT_FORMAT, BAD_OUTPUT_TYPE, BAD_POLL, BAD_STANDBY, ERROR, LNX_FIELDS,
                         LNX_READ, LNX_TAB, SETTINGS_READ, SETTINGS_WRITTEN, SUCCESS, USB_BYTES, USB_CARDS, USB_MODES,
                         USB_OUTPUTS, USB_READ, USB_TAB, ReaderTestCase, every_lnx_combination, lnx_lamps, lnx_radios,
                         split_lnx, split_usb, usb_lamps, usb_radios)

LNX_MESSAGES = [BAD_INTERFACE, BAD_INDICATION, BAD_STANDBY, BAD_POLL]


def lnx_panel_after(panel, letters):
    """What the Lnx page shows after a payload: (radios, lamps 1 to 4) with
    every field that is not recognised left as it was, and the messages."""
    radios, lamps = list(panel[0]), list(panel[1])
    messages = []
    for i, part in enumerate(split_lnx(letters)):
        if part in LNX_FIELDS[i]:
            radios[i], lamps[i] = LNX_FIELDS[i][part]
        else:
            messages.append(LNX_MESSAGES[i])
    return (radios, lamps), messages


def usb_panel_after(panel, letters):
    """The Usb page as {mode, lamp, output, type, hex_dec_enabled, bytes,
    cards} after a payload, and the messages."""
    panel = dict(panel)
    messages = []
    mode, output, count, cards = split_usb(letters)
    if mode in USB_MODES:
        panel["mode"], panel["lamp"] = USB_MODES[mode]
    else:
        messages.append(BAD_MODE)
    if output[:2] == "HD":
        panel["output"], panel["hex_dec_enabled"] = harness.ID_OUT_HEX_DEC, True
        if output[2] in "HD":
            panel["type"] = harness.ID_FMT_HEX if output[2] == "H" else harness.ID_FMT_DEC
        else:
            messages.append(BAD_OUTPUT_TYPE)
    elif output == "TMX":
        # HEX and DEC are greyed and keep their marks.
        panel["output"], panel["hex_dec_enabled"] = harness.ID_OUT_TOUCH_MEMORY, False
    else:
        messages.append(BAD_OUTPUT_FORMAT)
    if count in USB_BYTES:
        panel["bytes"] = USB_BYTES[count]
    else:
        messages.append(BAD_BYTE_COUNT)
    if cards in USB_CARDS:
        panel["cards"] = USB_CARDS[cards]
    else:
        messages.append(BAD_CARDS)
    return panel, messages


# Lnx payload letters in the order they are read, each on the panel the one
# before left. Every field that is not recognised keeps its radio and lamp.
LNX_PAYLOADS = [
    "W440SF",      # every field recognised: lamps cyan, blue, green, yellow
    "TMXxDO",      # only the indication control is unknown: lamp 2 stays blue
    "TXX1SF",      # T not followed by MX
    "W2x0AO",      # W2 not followed by 6
    "W4x1DF",      # W4 not followed by 4
    "WX60SO",      # W followed by another character
    "QRS0AF",      # another first letter
    "W261xO",      # standby unknown
    "TMX0Sx",      # poll unknown
    "tmx1do",      # lower case is never recognised
    "?\x00#|~*",   # nothing recognised: four boxes in field order
]

# Usb payload letters, each on the panel the one before left.
USB_PAYLOADS = [
    "WTMX2EM",     # Touch Memory output: HEX and DEC greyed
    "AHDX3XM",     # H, D, X: HEX or DEC checked, HEX and DEC enabled, then the type is reported
    "xHDD4EX",     # mode unknown: lamp 1 keeps its colour
    "WHXH5EM",     # H not followed by D
    "ATMQ2XM",     # T not followed by MX
    "WQQQ3EX",     # another first letter
    "AHDH6EM",     # six bytes
    "WHDD1XM",     # one byte
    "AHDH5EZ",     # E followed by neither M nor X
    "WHDD4XX",     # X not followed by M
    "AHDH3ZM",     # another first letter
    "xQQQ9ZZ",     # mode, format, count and cards unknown
    "zHDz0MM",     # mode, type, count and cards unknown
]

# Combinations read and written back through the window; each round trip
# takes two one-second waits. The Lnx set holds every pair of values of any
# two fields, the Usb set every value of every field. (The unit tests of the
# panel show and collect all 36 Lnx and all 72 Usb combinations.)
LNX_ROUND_TRIP = ["TMX1DO", "TMX0SF", "TMX1AF", "W260DF", "W261SO", "W260AO", "W441DF", "W440SO", "W441AO"]
USB_ROUND_TRIP = ["WHDH5EM", "WHDD4EX", "WTMX3XM", "AHDH2EX", "AHDD5XM", "ATMX4EM", "AHDD2EM", "WTMX5EX"]


def pairs(letters, split):
    """Every (field, value, field, value) a combination holds."""
    parts = split(letters)
    return {(i, parts[i], j, parts[j]) for i in range(len(parts)) for j in range(i + 1, len(parts))}


class Payloads(ReaderTestCase):

    def read(self, boxes):
        """READ with the port open; the boxes that follow."""
        self.press(harness.ID_READ)
        self.wait_popup("read", self.tab)
        return self.take_boxes(len(boxes))

    def lnx_panel(self):
        return self.lnx_checked(), self.driver.lamps(LNX_TAB)[:4]

    def usb_panel(self):
        state = self.state()
        mode, output, kind, count, cards = self.checked(
            [[harness.ID_MODE_WINDOWS, harness.ID_MODE_ALL_OS],
             [harness.ID_OUT_HEX_DEC, harness.ID_OUT_TOUCH_MEMORY],
             [harness.ID_FMT_HEX, harness.ID_FMT_DEC],
             list(USB_BYTES.values()), list(USB_CARDS.values())], state)
        enabled = [state[harness.ID_FMT_HEX]["enabled"], state[harness.ID_FMT_DEC]["enabled"]]
        self.assertEqual(enabled[0], enabled[1])
        return {"mode": mode, "lamp": self.driver.lamps(USB_TAB)[0], "output": output, "type": kind,
                "hex_dec_enabled": enabled[0], "bytes": count, "cards": cards}

    def test_lnx_payloads(self):
        self.tab = LNX_TAB
        self.sim.add_port("COM4", "lnx", settings="W261SO")
        self.sim.apply()
        self.find_lnx_reader("COM4")
        panel = (lnx_radios("W261SO"), lnx_lamps("W261SO")[:4])
        for letters in LNX_PAYLOADS:
            with self.subTest(letters=letters):
                panel, messages = lnx_panel_after(panel, letters)
                self.sim.set_settings("COM4", letters)
                seen = self.read([SETTINGS_READ] + messages)
                self.assertEqual(seen, [(SETTINGS_READ, SUCCESS)] + [(m, ERROR) for m in messages])
                self.assertEqual(self.version(), "1.00")
                self.wait_lamps(LNX_TAB, panel[1] + [WHITE])
                self.assertEqual(self.lnx_panel(), panel)
        self.assertNoMoreBoxes()

    def test_usb_payloads(self):
        self.tab = USB_TAB
        self.sim.add_port("COM6", "usb", usb=True, settings="AHDD4EX")
        self.sim.apply()
        self.find_usb_reader("COM6")
        panel = self.usb_panel()
        self.assertEqual(panel, {"mode": harness.ID_MODE_ALL_OS, "lamp": harness.MAGENTA,
                                 "output": harness.ID_OUT_HEX_DEC, "type": harness.ID_FMT_DEC,
                                 "hex_dec_enabled": True, "bytes": harness.ID_BYTES_4,
                                 "cards": harness.ID_CARDS_HID_EM})
        for letters in USB_PAYLOADS:
            with self.subTest(letters=letters):
                panel, messages = usb_panel_after(panel, letters)
                self.sim.set_settings("COM6", letters)
                seen = self.read([SETTINGS_READ] + messages)
                self.assertEqual(seen, [(SETTINGS_READ, SUCCESS)] + [(m, ERROR) for m in messages])
                self.assertEqual(self.version(), "1.00")
                self.wait_lamps(USB_TAB, [panel["lamp"]] + [WHITE] * 4)
                self.assertEqual(self.usb_panel(), panel)
                if BAD_MODE in messages:
                    # No repaint was asked for; one forced now shows the
                    # colour the lamp really holds.
                    self.driver.minimize()
                    self.driver.restore()
                    self.wait_lamps(USB_TAB, [panel["lamp"]] + [WHITE] * 4)
        self.assertNoMoreBoxes()

    def round_trip(self, port, letters, tab, radios, lamps, checked):
        """READ a reader holding `letters`, then WRITE: it receives them back."""
        self.sim.set_settings(port, letters)
        self.read([SETTINGS_READ])
        self.wait_lamps(tab, lamps(letters))
        self.assertEqual(checked(), radios(letters))
        self.sim.clear_received(port)
        self.press(harness.ID_WRITE)
        self.wait_popup("write", tab)
        self.assertEqual(self.take_boxes(1), [(SETTINGS_WRITTEN, SUCCESS)])
        # The read that identifies the reader, then the write.
        read = LNX_READ if tab == LNX_TAB else USB_READ
        self.assertEqual(self.sim.commands(port), [read, b"AT+" + letters.encode()])

    def test_lnx_combinations_are_written_back_as_read(self):
        every = every_lnx_combination()
        self.assertEqual(len(every), 36)
        self.assertEqual(set().union(*(pairs(c, split_lnx) for c in LNX_ROUND_TRIP)),
                         set().union(*(pairs(c, split_lnx) for c in every)))
        self.tab = LNX_TAB
        self.sim.add_port("COM4", "lnx")
        self.sim.apply()
        self.find_lnx_reader("COM4")
        for letters in LNX_ROUND_TRIP:
            with self.subTest(letters=letters):
                self.round_trip("COM4", letters, LNX_TAB, lnx_radios, lnx_lamps, self.lnx_checked)
        self.assertNoMoreBoxes()

    def test_usb_combinations_are_written_back_as_read(self):
        for field, values in enumerate([USB_MODES, USB_OUTPUTS, USB_BYTES, USB_CARDS]):
            self.assertEqual({split_usb(c)[field] for c in USB_ROUND_TRIP}, set(values))
        self.tab = USB_TAB
        self.sim.add_port("COM6", "usb", usb=True)
        self.sim.apply()
        self.find_usb_reader("COM6")
        for letters in USB_ROUND_TRIP:
            with self.subTest(letters=letters):
                self.round_trip("COM6", letters, USB_TAB, usb_radios, usb_lamps, self.usb_checked)
        self.assertNoMoreBoxes()


if __name__ == "__main__":
    unittest.main()
