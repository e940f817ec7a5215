#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/.

Seeds are real replies of the readers (with and without the echo of the
command, line ends, refusals, write acknowledgements), payloads,
appconfig.ini variants and port names. Run it again after changing a seed;
the files are kept in the repository.
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
BUFFER = 64

LNX_SETTINGS = [b"TMX1DO", b"TMX1AO", b"W260SF", b"W441AF", b"W440DO", b"TMX0SF"]
USB_SETTINGS = [b"WHDH5EM", b"AHDD4EX", b"WTMX3XM", b"ATMX2EM", b"WHDD5XM", b"AHDH2EX"]


def reply_seed(block, count=None):
    """The reply target's input: the count byte, then the receive buffer."""
    block = block[:BUFFER]
    if count is None:
        count = len(block)
    return bytes([count]) + block


def replies():
    seeds = {}
    for letters in LNX_SETTINGS:
        seeds["lnx-read-" + letters.decode()] = reply_seed(b"AT+READS_LNX - OK! >> 1.00" + letters + b"\r\n")
        seeds["lnx-write-" + letters.decode()] = reply_seed(b"AT+" + letters + b" - OK!\r\n")
    for letters in USB_SETTINGS:
        seeds["usb-read-" + letters.decode()] = reply_seed(b"AT+READS_USB - OK! >> 1.00" + letters + b"\r\n")
        seeds["usb-write-" + letters.decode()] = reply_seed(b"AT+" + letters + b" - OK!\r\n")
    seeds.update({
        "lnx-read-no-echo": reply_seed(b" - OK! >> 1.00TMX1DO"),
        "usb-read-no-echo": reply_seed(b" - OK! >> 1.00WHDH5EM"),
        "lnx-read-other-version": reply_seed(b"AT+READS_LNX - OK! >> 1.01TMX1DO\r\n"),
        "usb-read-other-version": reply_seed(b"AT+READS_USB - OK! >> 1.01WHDH5EM\r\n"),
        "lnx-read-unknown-letters": reply_seed(b"AT+READS_LNX - OK! >> 1.00TMXxDO\r\n"),
        "usb-read-unknown-type": reply_seed(b"AT+READS_USB - OK! >> 1.00WHDX5EM\r\n"),
        "lnx-refusal": reply_seed(b"AT+READS_LNX - UNKNOWN CMD!\r\n"),
        "usb-refusal": reply_seed(b"AT+READS_USB - UNKNOWN CMD!\r\n"),
        "write-refusal": reply_seed(b"AT+TMX1DO - UNKNOWN CMD!\r\n"),
        "refusal-then-ack": reply_seed(b" - UNKNOWN CMD! - OK!"),
        "ack-then-refusal": reply_seed(b" - OK! - UNKNOWN CMD!"),
        "double-separator": reply_seed(b" - - OK!"),
        "refusal-without-bang": reply_seed(b" - UNKNOWN CMD\r\n"),
        "introducer-at-end": reply_seed(b"AT+READS_LNX - OK! >> "),
        "introducer-cut": reply_seed(b"AT+READS_LNX - OK! >>"),
        "ack-cut": reply_seed(b"AT+READS_LNX - OK"),
        "marker-behind-count": reply_seed(b"AT+READS_LNX - OK! >> 1.00TMX1DO", count=14),
        "empty": reply_seed(b"", count=0),
        "zeros": reply_seed(bytes(BUFFER)),
        "ff": reply_seed(b"\xff" * BUFFER),
        "garbage": reply_seed(b"\x00\x13\xfeAT+?#\x7fnoise:2E3C/5750\xff\r\n"),
        # A reader that streams without pause: the block is full and the
        # payload runs to its last byte.
        "stream": reply_seed((b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n0123456789ABCDEF\xff\x00" * 2)[:BUFFER]),
        "full-block-payload-at-end": reply_seed(b"x" * 44 + b" - OK! >> 1.00TMX1DO"),
        "nul-inside-marker": reply_seed(b"AT+READS_LNX -\x00OK! >> 1.00TMX1DO"),
    })
    return seeds


def lnx_payloads():
    seeds = {"lnx-" + letters.decode(): b"1.00" + letters for letters in LNX_SETTINGS}
    seeds.update({
        "other-version": b"1.01TMX1DO",
        "unknown-indication": b"1.00TMXxDO",
        "w2-then-other": b"1.00W2xSF",
        "t-then-other": b"1.00TMY1DO",
        "zeros": bytes(10),
    })
    return seeds


def usb_payloads():
    seeds = {"usb-" + letters.decode(): b"1.00" + letters for letters in USB_SETTINGS}
    seeds.update({
        "other-version": b"1.01WHDH5EM",
        "unknown-type": b"1.00WHDX5EM",
        "h-then-other": b"1.00WHXH5EM",
        "e-then-other": b"1.00WHDH5EZ",
        "count-out-of-range": b"1.00WHDH6EM",
        "zeros": bytes(11),
    })
    return seeds


def preference_files():
    en, usb = b"Language = EN;\n", b"TabCtrl = USB_USB;\n"
    return {
        "written-crlf": b"Language = RU;\r\nTabCtrl = LNA_LNB;\r\n",
        "written-lf": b"Language = RU;\nTabCtrl = LNA_LNB;\n",
        "english-usb": en + usb,
        "english-usb-crlf": b"Language = EN;\r\nTabCtrl = USB_USB;\r\n",
        "english-only": en,
        "no-line-end": b"Language = EN;",
        "bom": b"\xef\xbb\xbf" + en + usb,
        "lower-case": b"language = en;\ntabctrl = usb_usb;\n",
        "no-blanks": b"Language=EN;\nTabCtrl=USB_USB;\n",
        "blank-after-semicolon": b"Language = EN; \n" + usb,
        "long-first-line": b"Language = EN;" + b"x" * 65 + b"\n" + usb,
        "first-line-79": b"x" * 79 + usb,
        "third-line": en + usb + b"Language = RU;\n",
        "empty": b"",
        "binary": b"\xff\xfe\x00\x01\x80\n\x1b[0m\n\x00" + en,
    }


def port_names():
    names = [b"COM1", b"COM3", b"COM9", b"COM10", b"COM99", b"COM256", b"COM007", b"com3", b"COM", b"CO", b"",
             b"COM5x", b"COM-1", b"COM 12", b"COM+7", b"COM2147483647", b"COM2147483648", b"COM-2147483649",
             b"COM99999999999999999999", b"\\\\.\\COM3", b"CNCA0", b"/dev/ttyS0", b"COM3\x00COM4", b"COM\xff1"]
    return {"name-%02d" % i: name for i, name in enumerate(names)}


def profiles():
    lnx = (b'{"format": "velmora-profile/1", "kind": "lnx", "settings": {"interface": "wiegand26", '
           b'"indication": "direct", "standby": "static", "touch_poll": "off"}}')
    usb = (b'{\n  "format": "velmora-profile/1",\n  "kind": "usb",\n  "settings": {\n    "mode": "windows",\n'
           b'    "output": "hex",\n    "id_bytes": 5,\n    "cards": "all"\n  }\n}\n')
    return {
        "lnx": lnx,
        "usb": usb,
        "usb-id-bytes-string": usb.replace(b"5,", b'"3",'),
        "unknown-version": lnx.replace(b"profile/1", b"profile/2"),
        "missing-key": lnx.replace(b', "touch_poll": "off"', b""),
        "unknown-key": lnx.replace(b'"off"}', b'"off", "colour": "red"}'),
        "wrong-type": lnx.replace(b'"off"}', b'false}'),
        "cut": lnx[:40],
        "array": b"[" + lnx + b"]",
        "escapes": lnx.replace(b'"direct"', b'"\\u0064irect"'),
    }


def tx_chunk(data, delay_quarters=4):
    """One piece of the transaction target's input: bytes after a delay."""
    return bytes([0, delay_quarters, len(data)]) + data


def transactions():
    """Operation byte (bit 0 usb, bits 1-2 read/apply/verify, bit 3 dry run),
    then events; a delay of 100 quarters (25 ms) lets a reply's quiet time
    pass, so the next command goes out."""
    lnx_read = b"AT+READS_LNX - OK! >> 1.00"
    usb_read = b"AT+READS_USB - OK! >> 1.00"
    apply_lnx = (bytes([2]) + tx_chunk(lnx_read + b"TMX1AO\r\n") + tx_chunk(b"AT+W261SF - OK!\r\n", 100)
                 + tx_chunk(lnx_read + b"W261SF\r\n", 100))
    apply_usb = (bytes([3]) + tx_chunk(usb_read + b"WHDH5EM\r\n") + tx_chunk(b"AT+AHDD4EX - OK!\r\n", 100)
                 + tx_chunk(usb_read + b"AHDD4EX\r\n", 100))
    return {
        "apply-lnx": apply_lnx,
        "apply-usb": apply_usb,
        "apply-lnx-in-pieces": (bytes([2]) + tx_chunk(lnx_read[:9]) + tx_chunk(lnx_read[9:], 120)
                                + tx_chunk(b"TMX1AO") + tx_chunk(b"\r\n", 40) + tx_chunk(b"AT+W261SF - OK!", 100)),
        "apply-lnx-chatter": bytes([2]) + tx_chunk(lnx_read + b"TMX1AO chatter"),
        "apply-lnx-stopped": bytes([2]) + tx_chunk(lnx_read + b"TMX1AO\r\n") + bytes([2, 100]),
        "verify-lnx-unplugged": bytes([4]) + tx_chunk(lnx_read + b"W261SF\r\n") + bytes([1, 10]),
        "read-usb-refused": bytes([1]) + tx_chunk(b"AT+READS_USB - UNKNOWN CMD!\r\n"),
    }


TARGETS = {
    "reply": replies,
    "lnx_settings": lnx_payloads,
    "usb_settings": usb_payloads,
    "preference_lines": preference_files,
    "port_number": port_names,
    "profile": profiles,
    "transaction": transactions,
}


def main():
    for target, seeds in TARGETS.items():
        folder = os.path.join(CORPUS, target)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name, data in sorted(seeds().items()):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
