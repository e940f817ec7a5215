"""The interface texts a user should read, in both languages.

The tests keep one copy of them, tests/unit/expected_texts.inc, written out
independently of the program's own tables: the unit tests compile it and the
end-to-end tests read it here, so a text is corrected in one place.

    EN["TxtSettingsRead"]   "Settings read!"
    RU["TxtSettingsRead"]   "Настройки считаны!"
    BY_LANGUAGE["EN"]       the same as EN
"""

import os
import re

_PATH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "unit", "expected_texts.inc")
_ESCAPES = {"n": "\n", "r": "\r", "\\": "\\", "'": "'", '"': '"'}
_ENTRY = re.compile(r'\{"(Txt\w+)", u8"((?:[^"\\]|\\.)*)", u8"((?:[^"\\]|\\.)*)"\}')


def _unescape(text):
    return re.sub(r"\\(.)", lambda m: _ESCAPES[m.group(1)], text)


def load():
    """{id: (russian, english)} in table order."""
    with open(_PATH, encoding="utf-8") as f:
        source = f.read()
    texts = {m.group(1): (_unescape(m.group(2)), _unescape(m.group(3))) for m in _ENTRY.finditer(source)}
    if not texts:
        raise AssertionError("no texts read from %s" % _PATH)
    return texts


_TEXTS = load()
RU = {id: russian for id, (russian, _) in _TEXTS.items()}
EN = {id: english for id, (_, english) in _TEXTS.items()}
BY_LANGUAGE = {"EN": EN, "RU": RU}
