#!/usr/bin/env python3
"""Writes the page's facts module from the sources that define them: the
interface texts of both languages, the panel's groups, captions and lamp
colours, the Tarvik-USB ids and the version. Nothing here is typed twice."""
import json
import os
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def read(rel):
    return (ROOT / rel).read_text(encoding="utf-8")


def c_string(body):
    # Concatenated wide literals; the only escapes the texts use.
    parts = re.findall(r'L"((?:[^"\\]|\\.)*)"', body)
    text = "".join(parts)
    return text.replace("\\n", "\n").replace("\\r", "\r").replace("\\'", "'").replace('\\"', '"').replace("\\\\", "\\")


def version():
    m = re.search(r"project\(\s*Velmora\s+VERSION\s+([0-9.]+)", read("CMakeLists.txt"))
    return m.group(1)


def text_ids():
    header = read("prefs/texts.h")
    body = header[header.index("enum TextId"):]
    body = body[body.index("{") + 1:body.index("}")]
    return [name for name in re.findall(r"\b(Txt\w+)\b", body)]


def texts(rel, label):
    source = read(rel)
    consts = {m.group(1): c_string(m.group(2))
              for m in re.finditer(r"static const wchar_t (\w+)\[\] = (L\".*?\");", source)}
    table = {}
    for m in re.finditer(r"^\s*(.+?),\s*//\s*(Txt\w+)\s*$", source, re.M):
        value, tid = m.group(1), m.group(2)
        value = value.replace("VELMORA_VERSION_LABEL", 'L"%s"' % label)
        table[tid] = consts[value] if value in consts else c_string(value)
    return table


def panel_groups():
    source = read("ui/panel.cpp")
    source = source[source.index("PageControls[]"):]
    source = source[:source.index("};")]
    rows = re.findall(r"\{&(\w+), L\"Button\", (\w+), (nullptr|L\"[^\"]*\"), \w+, [\d, \s]*?(\w+)\}", source)
    groups = []
    for var, caption_id, literal, control_id in rows:
        caption = {"text": caption_id} if caption_id != "LiteralCaption" else {"literal": c_string(literal)}
        if control_id == "0" and var.endswith("Group"):
            groups.append({"name": var, "caption": caption["text"], "radios": []})
        elif control_id.startswith("ID_") and groups:
            groups[-1]["radios"].append({"id": control_id, **caption})
    return [g for g in groups if g["radios"]]


def default_values():
    """The value names each kind starts with, by field in wire order."""
    source = read("protocol/settings_table.cpp")
    out = {}
    for kind, name in (("lnx", "Lnx"), ("usb", "Usb")):
        m = re.search(r"%sDefaults\[\] = \{([^}]*)\};" % name, source)
        out[kind] = re.findall(r'"(\w+)"', m.group(1)) if m else []
    return out


def fields():
    """The keys of each kind's fields, in wire order."""
    source = read("protocol/settings_table.cpp")
    out = {}
    for kind, name in (("lnx", "Lnx"), ("usb", "Usb")):
        m = re.search(r"const SettingField %sFields\[\] = \{(.*?)\n\};" % name, source, re.S)
        out[kind] = re.findall(r'\{"(\w+)",', m.group(1)) if m else []
    return out


def group_bindings():
    """The window program's bindings of radio groups to settings: kind, key,
    lamp index (a number or NoLamp), text for a value not recognised, and
    the radios as (control id, value name, lamp colour name)."""
    source = read("protocol/win32/panel_settings.cpp")
    pattern = re.compile(r"\{ReaderType::(\w+), \"(\w+)\", ID_\w+, ID_\w+, (\w+), (Txt\w+), \"\w*\",\s*\{(.*?)\},\s*\d+\}", re.S)
    return [{"kind": m.group(1).lower(), "key": m.group(2), "lamp": m.group(3), "unrecognised": m.group(4),
             "radios": re.findall(r"\{(ID_\w+), \"(\w+)\", (\w+)\}", m.group(5))}
            for m in pattern.finditer(source)]


def pages(binds):
    """Each page's default radios and lamp colours, as the window program
    shows them: every bound group at its kind's default (the cards group on
    the Lnx page greyed at the Usb default), the output radios after the
    Usb output default, lamps without a group white."""
    source = read("ui/panel.cpp")
    groups = [(b["kind"], b["key"], b["lamp"], b["radios"]) for b in binds]
    defaults, keys = default_values(), fields()
    value_of = {kind: dict(zip(keys[kind], defaults[kind])) for kind in keys}
    output_radios = {"hex": ["ID_OUT_HEX_DEC", "ID_FMT_HEX"], "dec": ["ID_OUT_HEX_DEC", "ID_FMT_DEC"],
                     "touch_memory": ["ID_OUT_TOUCH_MEMORY"]}
    out = {}
    for kind, name in (("lnx", "Lnx"), ("usb", "Usb")):
        chosen, lamps = [], ["LampWhite"] * 5
        for group_kind, key, lamp, radios in groups:
            if group_kind != kind and key != "cards":
                continue
            for radio_id, value, colour in radios:
                if value == value_of[group_kind].get(key):
                    chosen.append(radio_id)
                    if group_kind == kind and lamp.isdigit():
                        lamps[int(lamp)] = colour
        if kind == "usb":
            chosen += output_radios.get(value_of["usb"].get("output"), [])
        page = source[source.index("HWND *const %sPage[]" % name):]
        out[kind] = {"defaults": chosen, "lamps": lamps, "groups": re.findall(r"&(\w+Group)", page[:page.index("};")])}
    return out


def bindings(binds, colors):
    return [{"kind": b["kind"], "key": b["key"], "lamp": -1 if b["lamp"] == "NoLamp" else int(b["lamp"]),
             "unrecognised": b["unrecognised"],
             "radios": [{"id": r[0], "value": r[1], "lamp": r[2] if r[2] in colors else None} for r in b["radios"]]}
            for b in binds]


def lamp_colors():
    header = read("ui/lamps.h")
    colors = {}
    for name, value in re.findall(r"constexpr COLORREF (Lamp\w+) = (0x[0-9A-Fa-f]+);", header):
        v = int(value, 16)  # 0x00BBGGRR
        colors[name] = "#%02x%02x%02x" % (v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF)
    return colors


def product_names():
    source = read("protocol/settings_table.cpp")
    body = source[source.index("const char *readerProductName"):]
    m = re.search(r'ReaderType::Usb \? "([^"]+)" : "([^"]+)"', body)
    return [m.group(2), m.group(1)]


def core_numbers():
    """The numbers of the core's C interface (protocol/core_api.h), without
    their VC_ prefix: operations, kinds, actions, reasons, sizes."""
    return {name: int(value) for name, value in
            re.findall(r"^#define VC_(\w+) (\d+)$", read("protocol/core_api.h"), re.M)}


def line_format():
    """The reader's line as Web Serial's open() takes it (protocol/line_format.h),
    and how many reads a drain takes at most."""
    header = read("protocol/line_format.h")
    get = lambda n: re.search(r"constexpr \w+ %s = ([^;]+);" % n, header).group(1)
    parity = {"'N'": "none", "'E'": "even", "'O'": "odd"}[get("ReaderParity")]
    return {"baudRate": int(get("ReaderBaudRate")), "dataBits": int(get("ReaderDataBits")),
            "stopBits": int(get("ReaderStopBits")), "parity": parity, "drainReads": int(get("DrainReadLimit"))}


def reply_timeout():
    """How long velmora-cli waits for a reply by default (cli/main.cpp)."""
    return int(re.search(r"constexpr int DefaultTimeoutMs = (\d+);", read("cli/main.cpp")).group(1))


def usb_ids():
    header = read("protocol/usb_ids.h")
    get = lambda n: int(re.search(n + r" = (0x[0-9A-Fa-f]+);", header).group(1), 16)
    return {"vendor": get("TarvikUsbVendorId"), "product": get("TarvikUsbProductId")}


def main():
    v = version()
    ids = text_ids()
    en, ru = texts("prefs/texts_en.cpp", v + " (web)"), texts("prefs/texts_ru.cpp", v + " (web)")
    for table in (en, ru):
        missing = [t for t in ids if t not in table]
        if missing:
            sys.exit("generate: texts missing: %s" % missing)
    colors = lamp_colors()
    binds = group_bindings()
    facts = {
        "version": v,
        "usb": usb_ids(),
        "productNames": product_names(),
        "core": core_numbers(),
        "line": line_format(),
        "replyTimeoutMs": reply_timeout(),
        "texts": {"en": en, "ru": ru},
        "lampColors": colors,
        "groups": panel_groups(),
        "bindings": bindings(binds, colors),
        "pages": pages(binds),
    }
    # The page is useless without any of these: fail the build, not the page.
    problems = []
    if len(facts["groups"]) != 9 or any(not g["radios"] for g in facts["groups"]):
        problems.append("the panel's nine radio groups in ui/panel.cpp")
    if sorted(b["key"] for b in facts["bindings"]) != sorted(
            ["interface", "indication", "standby", "touch_poll", "mode", "id_bytes", "cards"]):
        problems.append("the group bindings in protocol/win32/panel_settings.cpp")
    for kind, page in facts["pages"].items():
        if len(page["defaults"]) != 5 or len(page["lamps"]) != 5 or len(page["groups"]) != 4:
            problems.append("the %s page's defaults, lamps and groups (protocol/settings_table.cpp, ui/panel.cpp)" % kind)
    if any(c is None for b in facts["bindings"] for r in b["radios"] if b["lamp"] >= 0 for c in [r["lamp"]]):
        problems.append("the lamp colours in ui/lamps.h")
    if not {"READ", "LNX", "SEND", "MAX_FIELDS", "REASON_NONE"} <= set(facts["core"]):
        problems.append("the numbers of protocol/core_api.h")
    if problems:
        sys.exit("generate: cannot read " + "; ".join(problems))
    text = ("// Generated by tools/web-gen/generate.py from the program's sources; do not edit.\n"
            "export const facts = " + json.dumps(facts, ensure_ascii=False, indent=1, sort_keys=True) + " as const;\n")
    # Whole or not at all: another build of the page may be reading it.
    out = Path(sys.argv[1])
    temporary = out.with_name("%s.%d.tmp" % (out.name, os.getpid()))
    temporary.write_text(text, encoding="utf-8")
    os.replace(temporary, out)


if __name__ == "__main__":
    main()
