#!/usr/bin/env python3
"""What a user downloads: the help PDF, the portable zip, the version
resource and the installer, made by tools/package from this build's
velmora.exe and velmora-cli.exe and checked under Wine; and the console
tool's Linux downloads (the .deb and the static tarball), checked natively,
the .deb also by Debian's lintian. Every date inside a download is the last
commit's; tools/reproduce checks the rest of reproducibility (two clones).

The installer is built for the build's own architecture (x64 on hosts whose
kernel cannot run 32-bit programs), so the same script that makes the x86
product installer is run here as a 64-bit one.

Environment: VELMORA_BUILD (the build folder), VELMORA_PACKAGE_PROBE
(package-probe.exe, default BUILD/tests/e2e/). Exit code 77 when every test
was skipped (packaging tools missing: run `tools/setup packaging`).
"""

import glob
import gzip
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

ROOT = harness.ROOT
BUILD = harness.BUILD
PROBE = os.environ.get("VELMORA_PACKAGE_PROBE") or os.path.join(BUILD, "tests", "e2e", "package-probe.exe")
PACKAGE_DIR = os.path.join(BUILD, "package-test")
TOOLS = ("makensis", "weasyprint", "pdftotext", "pdffonts", "lintian")
GENERATED = os.path.join(BUILD, "generated")

INSTALL_DIR = "C:\\Velmora v.1.0"
HELP_NAME = "Velmora ver_1_0.pdf"
UNINSTALL_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora"
CONFIG_KEY = "HKCU\\Software\\Velmora"
FIRST_CONFIG = {  # what setup writes, by the language it ran in
    b"Language = EN;\r\nTabCtrl = LNA_LNB;\r\n": harness.TITLE_EN,
    b"Language = RU;\r\nTabCtrl = LNA_LNB;\r\n": harness.TITLE_RU,
}
SHORTCUTS_EN = {"Velmora.lnk", "Velmora help.lnk", "Uninstall Velmora.lnk"}
# The uninstaller runs from a copy of itself in %TEMP% (Un.exe in NSIS 3.08).
UNINSTALLER_COPY = re.compile(r"^(Un|Un_[A-Z]|Au_)\.exe$", re.I)
SHORTCUTS_RU = {"Velmora.lnk", "Справка Velmora.lnk", "Удалить Velmora.lnk"}


def build_arch():
    conf = os.path.join(BUILD, "bench.conf")
    with open(conf) as f:
        return "x64" if "win64" in f.read() else "x86"


ARCH = build_arch() if os.path.exists(os.path.join(BUILD, "bench.conf")) else "x64"
SUFFIX = "-x64" if ARCH == "x64" else ""
SETUP_EXE = os.path.join(PACKAGE_DIR, "Velmora-1.0%s-setup.exe" % SUFFIX)
PORTABLE_ZIP = os.path.join(PACKAGE_DIR, "Velmora-1.0%s-portable.zip" % SUFFIX)
PDF = os.path.join(PACKAGE_DIR, HELP_NAME)
# The browser page is packaged once, with the product's (x86) downloads.
WEB_ZIP = os.path.join(PACKAGE_DIR, "velmora-web-1.0.zip") if not SUFFIX else None
PE_MACHINE = {"x64": 0x8664, "x86": 0x014C}
PE_GUI, PE_CONSOLE = 2, 3
CLI_NAME = "velmora-cli.exe"
DEB_ARCH = subprocess.run(["dpkg", "--print-architecture"], stdout=subprocess.PIPE).stdout.decode().strip()
DEB = os.path.join(PACKAGE_DIR, "velmora-cli_1.0_%s.deb" % DEB_ARCH)
TARBALL = os.path.join(PACKAGE_DIR, "velmora-cli-1.0-linux-%s.tar.gz" % os.uname().machine)
UDEV_RULE = "usr/lib/udev/rules.d/60-velmora.rules"
LICENSE = os.path.join(ROOT, "LICENSE")
DEB_DOC = "usr/share/doc/velmora-cli/"

_packaged = None


# tools/package's exit status and output, kept beside the downloads when the
# packaging runs as a test of its own (package.build) before the checks.
PACKAGE_LOG = PACKAGE_DIR + ".log"


def missing_prerequisites():
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        return "packaging tools missing (%s): run tools/setup packaging" % " ".join(missing)
    for program in (os.path.join(BUILD, "velmora.exe"), os.path.join(BUILD, CLI_NAME)):
        if not os.path.exists(program):
            return "%s is not built" % program
    return None


def run_package():
    """tools/package on this build's programs: (exit status, output)."""
    shutil.rmtree(PACKAGE_DIR, ignore_errors=True)
    # The Linux console tools are built by tools/package itself
    # (build/linux-deb), as for a release.
    # Niced: the tests beside it wait on timers and must not starve.
    run = subprocess.run(["nice", "-n", "10", os.path.join(ROOT, "tools", "package"), "--no-setup", "--arch", ARCH,
                          "--exe", os.path.join(BUILD, "velmora.exe"), "--cli", os.path.join(BUILD, CLI_NAME),
                          "--dist", PACKAGE_DIR],
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=900)
    return run.returncode, run.stdout.decode(errors="replace")


def package():
    """The downloads of this build's programs: made once per process, or
    taken from package.build when CTest ran it first (VELMORA_PACKAGED);
    skips the calling test when the packaging tools are missing."""
    global _packaged
    why = missing_prerequisites()
    if why:
        raise unittest.SkipTest(why)
    if _packaged is None:
        if os.environ.get("VELMORA_PACKAGED"):
            try:
                with open(PACKAGE_LOG, encoding="utf-8") as f:
                    status, _, output = f.read().partition("\n")
                _packaged = (int(status), output)
            except (OSError, ValueError):
                _packaged = (1, "package.build left no result in " + PACKAGE_LOG)
        else:
            _packaged = run_package()
    if _packaged[0] != 0:
        raise AssertionError("tools/package failed:\n" + _packaged[1])


def package_only():
    """package.build: the downloads made beside the checks' bench, since
    making them needs the processor, not Wine."""
    why = missing_prerequisites()
    if why:
        print("skipped: " + why)
        return 77
    status, output = run_package()
    with open(PACKAGE_LOG, "w", encoding="utf-8") as f:
        f.write("%d\n%s" % (status, output))
    print(output)
    return 0 if status == 0 else 1


def commit_time():
    """The date every file in a download carries: the last commit's."""
    return int(subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"], stdout=subprocess.PIPE,
                              check=True).stdout)


def squeeze(text):
    """Text without any whitespace: PDF extraction breaks lines anywhere."""
    return re.sub(r"\s+", "", text)


def expected_texts():
    """{id: (russian, english)} from the unit tests' independent copy."""
    path = os.path.join(ROOT, "tests", "unit", "expected_texts.inc")
    with open(path, encoding="utf-8") as f:
        source = f.read()
    escapes = {"n": "\n", "r": "\r", "\\": "\\", "'": "'", '"': '"'}

    def unescape(text):
        return re.sub(r"\\(.)", lambda m: escapes[m.group(1)], text)

    pattern = r'\{"(Txt\w+)", u8"((?:[^"\\]|\\.)*)", u8"((?:[^"\\]|\\.)*)"\}'
    return {m.group(1): (unescape(m.group(2)), unescape(m.group(3))) for m in re.finditer(pattern, source)}


# Every text the program shows in a message box, alone or as part of one.
MESSAGE_IDS = [
    "TxtLnxNotFound", "TxtLnxFound", "TxtUsbNotFound", "TxtUsbFound", "TxtReplyUnrecognized", "TxtNoReply",
    "TxtInvalidCommand", "TxtSettingsWritten", "TxtSettingsRead", "TxtFirmwareUnsupported",
    "TxtBadInterface", "TxtBadIndicationControl", "TxtBadStandbyIndication", "TxtBadTouchButtonPoll",
    "TxtBadOperatingMode", "TxtBadOutputType", "TxtBadOutputFormat", "TxtBadIdByteCount", "TxtBadCardsToRead",
    "TxtHelpFileNotFound", "TxtMessageCaption", "TxtSaveFailed", "TxtNoPorts", "TxtHelpNoViewer",
    "TxtErrorOpening", "TxtHelpOpenFailed", "TxtErrorCode", "TxtConnectionBroken", "TxtDisabled",
    "TxtUsbDisconnected", "TxtError", "TxtWhenReading", "TxtWhenWriting", "TxtSelectPortHint",
    "TxtHelpFolderHint", "TxtInstallPdfViewer",
]

# The help's colour words for each lamp colour (COLORREF 0x00BBGGRR).
COLOUR_WORDS = {
    harness.RED: ("красный", "red"), harness.GREEN: ("зелёный", "green"), harness.CYAN: ("голубой", "cyan"),
    harness.BLUE: ("синий", "blue"), harness.MAGENTA: ("пурпурный", "magenta"),
    harness.YELLOW: ("жёлтый", "yellow"),
}
# Each choice with a lamp, as the program colours it: (Russian, English caption, colour).
LAMP_CHOICES = [
    ("Touch Memory", "Touch Memory", harness.RED),
    ("Wiegand 26", "Wiegand 26", harness.GREEN),
    ("Wiegand 44", "Wiegand 44", harness.CYAN),
    ("WINDOWS", "WINDOWS", harness.CYAN),
    ("Windows, Linux, MacOS", "Windows, Linux, MacOS", harness.MAGENTA),
    ("Прямая (активная '1')", "Direct (active '1')", harness.RED),
    ("Инверсная (активный '0')", "Inverse (active '0')", harness.BLUE),
    ("Динамическая", "Dynamic", harness.RED),
    ("Статическая", "Static", harness.GREEN),
    ("Выкл.", "Off", harness.MAGENTA),      # standby indication off
    ("Вкл.", "On", harness.RED),
    ("Выкл.", "Off", harness.YELLOW),       # touch-button poll off
]
# Topics the troubleshooting chapters must cover, in both languages.
TOPICS = [
    "Диспетчер устройств", "Device Manager", "CH340", "PL2303", "CP210x", "FT232R",
    "только для зарядки", "Charge-only", "Порт занят другой программой", "A port held by another program",
    "Номера COM-портов растут", "COM numbers that keep growing", "Показать скрытые устройства",
    "Show hidden devices", "appconfig.ini", "/REMOVECONFIG", "C:\\Velmora v.1.0",
]


def probe(env, command, path):
    """package-probe's JSON for a Windows or Unix path."""
    run = subprocess.run([env["WINELOADER"], PROBE, command, path], env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    if run.returncode != 0:
        raise AssertionError("package-probe %s %s: %s" % (command, path, run.stderr.decode(errors="replace")))
    return json.loads(run.stdout.decode("utf-8"))


def unix_path(env, windows_path):
    """The prefix's own file for a C: path."""
    drive, _, rest = windows_path.partition(":\\")
    assert drive.upper() == "C", windows_path
    return os.path.join(env["WINEPREFIX"], "drive_c", *rest.split("\\"))


def start_menu(env):
    """The current user's Start-menu Programs folder in the prefix."""
    folders = [f for f in glob.glob(os.path.join(env["WINEPREFIX"], "drive_c", "users", "*", "AppData", "Roaming",
                                                 "Microsoft", "Windows", "Start Menu", "Programs"))
               if os.sep + "Public" + os.sep not in f]
    assert len(folders) == 1, folders
    return folders[0]


def listing(folder):
    """Every file and folder below folder, relative, '/'-separated."""
    found = set()
    for base, dirs, files in os.walk(folder):
        for name in dirs + files:
            found.add(os.path.relpath(os.path.join(base, name), folder).replace(os.sep, "/"))
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


def pe_header(image):
    """(machine, subsystem, link time stamp) of a PE image."""
    assert image[:2] == b"MZ"
    pe = int.from_bytes(image[0x3C:0x40], "little")
    assert image[pe:pe + 4] == b"PE\0\0"
    machine = int.from_bytes(image[pe + 4:pe + 6], "little")
    stamp = int.from_bytes(image[pe + 8:pe + 12], "little")
    # The optional header follows the 20-byte file header; Subsystem sits at
    # offset 68 in both its 32- and 64-bit forms.
    subsystem = int.from_bytes(image[pe + 24 + 68:pe + 24 + 70], "little")
    return machine, subsystem, stamp


def elf_is_static(image):
    """Whether an ELF executable asks for no program interpreter (ld.so)."""
    assert image[:4] == b"\x7fELF", "not an ELF file"
    assert image[4] == 2 and image[5] == 1, "not 64-bit little-endian"
    phoff = int.from_bytes(image[0x20:0x28], "little")
    phentsize = int.from_bytes(image[0x36:0x38], "little")
    phnum = int.from_bytes(image[0x38:0x3A], "little")
    types = [int.from_bytes(image[phoff + i * phentsize:phoff + i * phentsize + 4], "little") for i in range(phnum)]
    return 3 not in types      # PT_INTERP


class HelpPdfTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        package()
        cls.text = subprocess.run(["pdftotext", "-raw", "-enc", "UTF-8", PDF, "-"], stdout=subprocess.PIPE,
                                  check=True).stdout.decode("utf-8")
        cls.flat = squeeze(cls.text)

    def test_fonts_are_embedded_with_unicode_maps(self):
        fonts = subprocess.run(["pdffonts", PDF], stdout=subprocess.PIPE, check=True).stdout.decode()
        rows = [line.split() for line in fonts.splitlines()[2:] if line.strip()]
        self.assertTrue(rows, fonts)
        for row in rows:
            # name type... encoding emb sub uni object-id generation
            self.assertEqual(row[-5:-2], ["yes", "yes", "yes"], fonts)
        self.assertTrue(any("DejaVu" in row[0] for row in rows), fonts)

    def test_every_message_is_explained_in_both_languages(self):
        texts = expected_texts()
        missing = []
        for text_id in MESSAGE_IDS:
            for language, text in zip(("ru", "en"), texts[text_id]):
                if squeeze(text) not in self.flat:
                    missing.append((text_id, language, text))
        self.assertEqual(missing, [])

    def test_every_lamp_choice_has_its_colour(self):
        missing = []
        for russian, english, colour in LAMP_CHOICES:
            for caption, word in ((russian, COLOUR_WORDS[colour][0]), (english, COLOUR_WORDS[colour][1])):
                if squeeze(caption + " — " + word) not in self.flat:
                    missing.append((caption, word))
        self.assertEqual(missing, [])

    def test_troubleshooting_topics(self):
        self.assertEqual([t for t in TOPICS if squeeze(t) not in self.flat], [])

    def test_pages(self):
        info = subprocess.run(["pdfinfo", PDF], stdout=subprocess.PIPE, check=True).stdout.decode()
        pages = int(re.search(r"^Pages:\s+(\d+)", info, re.M).group(1))
        self.assertGreaterEqual(pages, 10)
        self.assertIn("A4", info)


class WebZipTest(unittest.TestCase):
    def test_page_for_a_static_host(self):
        if WEB_ZIP is None:
            self.skipTest("the page is packaged with the x86 downloads")
        package()
        with zipfile.ZipFile(WEB_ZIP) as archive:
            self.assertIsNone(archive.testzip())
            names = archive.namelist()
            # The page at the top, as a static host serves it, the licence
            # beside it, every entry dated to the commit.
            for name in ("index.html", "app.js", "core.wasm", "sw.js", "manifest.webmanifest"):
                self.assertIn(name, names)
            self.assertEqual(names, sorted(names))
            self.assertEqual(archive.read("LICENSE.txt"), read(LICENSE))
            self.assertEqual({info.date_time for info in archive.infolist()}, {time.gmtime(commit_time() & ~1)[:6]})
            # The service worker caches every file of the page (itself aside).
            cached = set(json.loads(re.search(rb"\[\"\./\"[^\]]*\]", archive.read("sw.js")).group(0)))
            self.assertEqual(cached - {"./"}, set(names) - {"LICENSE.txt", "sw.js"})


class PortableZipTest(unittest.TestCase):
    def test_layout_is_the_install_folder(self):
        package()
        with zipfile.ZipFile(PORTABLE_ZIP) as archive:
            self.assertIsNone(archive.testzip())
            # Sorted by name, each dated to the commit: the same commit gives
            # the same archive.
            self.assertEqual(archive.namelist(), [
                "Velmora v.1.0/", "Velmora v.1.0/COPYRIGHT.txt", "Velmora v.1.0/LICENSE.txt", "Velmora v.1.0/help/",
                "Velmora v.1.0/help/" + HELP_NAME, "Velmora v.1.0/" + CLI_NAME, "Velmora v.1.0/velmora.exe",
            ])
            dated = commit_time()
            # (to the two seconds zip counts in)
            self.assertEqual({info.date_time for info in archive.infolist()}, {time.gmtime(dated & ~1)[:6]})
            self.assertEqual(archive.read("Velmora v.1.0/help/" + HELP_NAME), read(PDF))
            self.assertEqual(archive.read("Velmora v.1.0/LICENSE.txt"), read(LICENSE))
            exe = archive.read("Velmora v.1.0/velmora.exe")
            cli = archive.read("Velmora v.1.0/" + CLI_NAME)
        # PE images for this build's machine: the window program and the
        # console tool, each for its own subsystem, dated to the commit (strip
        # writes SOURCE_DATE_EPOCH), not to the build.
        self.assertEqual(pe_header(exe), (PE_MACHINE[ARCH], PE_GUI, dated))
        self.assertEqual(pe_header(cli), (PE_MACHINE[ARCH], PE_CONSOLE, dated))


class VersionResourceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(PROBE):
            raise unittest.SkipTest("no %s (build package-probe)" % PROBE)
        cls.env = harness.bench_env()

    def check_version(self, path):
        info = probe(self.env, "version", path)
        self.assertEqual(info["signature"], 0xFEEF04BD)
        self.assertEqual(info["file_version"], "1.0.0.0")
        self.assertEqual(info["product_version"], "1.0.0.0")
        self.assertEqual(info["file_type"], 1)            # VFT_APP
        self.assertEqual(info["file_os"], 0x40004)        # VOS_NT_WINDOWS32
        self.assertEqual(info["file_flags"], 0)
        self.assertEqual(info["translations"], [[0x0409, 1200], [0x0419, 1200]])
        blocks = {
            "040904b0": "Velmora - Tarvik reader configurator",
            "041904b0": "Velmora - конфигуратор считывателей Tarvik",
        }
        self.assertEqual(sorted(info["strings"]), sorted(blocks))
        for block, description in blocks.items():
            with self.subTest(block=block):
                self.assertEqual(info["strings"][block], {
                    "CompanyName": "Velmora", "FileDescription": description, "FileVersion": "1.0",
                    "InternalName": "velmora", "LegalCopyright": "Velmora", "OriginalFilename": "velmora.exe",
                    "ProductName": "Velmora", "ProductVersion": "1.0",
                })
        self.check_manifest(info["manifest"])

    def check_manifest(self, text):
        self.assertTrue(text, "no RT_MANIFEST 1")
        root = ElementTree.fromstring(text.encode("utf-8"))
        v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        levels = [e.get("level") for e in root.iter(v3 + "requestedExecutionLevel")]
        self.assertEqual(levels, ["asInvoker"])
        aware = [e.text for e in root.iter("{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")]
        self.assertEqual(aware, ["false"])
        scaling = [e.text for e in root.iter("{http://schemas.microsoft.com/SMI/2017/WindowsSettings}gdiScaling")]
        self.assertEqual(scaling, ["true"])
        # Classic common controls: no dependency on version 6.
        self.assertEqual(list(root.iter(v1 + "dependency")), [])

    def test_build(self):
        self.check_version(os.path.join(BUILD, "velmora.exe"))

    def test_packaged_program(self):
        # The stripped copy that the zip and the installer carry.
        package()
        with zipfile.ZipFile(PORTABLE_ZIP) as archive, tempfile.TemporaryDirectory() as folder:
            archive.extract("Velmora v.1.0/velmora.exe", folder)
            self.check_version(os.path.join(folder, "Velmora v.1.0", "velmora.exe"))

    def test_x86_product(self):
        # Resources of a 32-bit image read fine from a 64-bit process.
        exe = os.path.join(ROOT, "build", "windows-x86", "velmora.exe")
        if not os.path.exists(exe):
            self.skipTest("no x86 build at %s" % exe)
        self.check_version(exe)


class InstallerTest(harness.VelmoraTestCase):
    """The installer and uninstaller run silently in the bench's prefix."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        package()
        if not os.path.exists(PROBE):
            raise unittest.SkipTest("no %s (build package-probe)" % PROBE)

    def setUp(self):
        super().setUp()
        self.forget_install()
        self.addCleanup(self.forget_install)

    # ---- steps

    def forget_install(self):
        """Leaves the prefix as if Velmora had never been installed."""
        for folder in (INSTALL_DIR, "C:\\Tools"):
            shutil.rmtree(unix_path(self.env, folder), ignore_errors=True)
        shutil.rmtree(os.path.join(start_menu(self.env), "Velmora"), ignore_errors=True)
        for key in (UNINSTALL_KEY, CONFIG_KEY):
            harness.wine_cmd(self.env, "reg", "delete", key, "/f")

    def install(self, *args):
        self.assertEqual(harness.wine_cmd(self.env, SETUP_EXE, "/S", *args, timeout=120), 0)

    def uninstall(self, folder, *args):
        """Runs the uninstaller and waits for its copy in %TEMP% to finish."""
        uninstaller = folder + "\\uninstall.exe"
        self.assertEqual(harness.wine_cmd(self.env, uninstaller, "/S", *args, timeout=120), 0)
        harness.wait_until(lambda: not [p for p in self.driver.procs() if UNINSTALLER_COPY.match(p["exe"])],
                           60, 0.1, "the uninstaller to finish")

    def key_exists(self, key):
        return harness.wine_cmd(self.env, "reg", "query", key) == 0

    def shortcut(self, name):
        path = os.path.join(start_menu(self.env), "Velmora", name)
        self.assertTrue(os.path.exists(path), path)
        windows = "C:\\" + os.path.relpath(path, os.path.join(self.env["WINEPREFIX"], "drive_c")).replace("/", "\\")
        return probe(self.env, "lnk", windows)

    def assertInstalled(self, folder):
        files = unix_path(self.env, folder)
        self.assertEqual(listing(files), {"velmora.exe", CLI_NAME, "LICENSE.txt", "COPYRIGHT.txt", "help",
                                          "help/" + HELP_NAME, "uninstall.exe", "appconfig.ini"})
        self.assertEqual(read(os.path.join(files, "LICENSE.txt")), read(LICENSE))
        with zipfile.ZipFile(PORTABLE_ZIP) as archive:
            self.assertEqual(read(os.path.join(files, "velmora.exe")), archive.read("Velmora v.1.0/velmora.exe"))
            self.assertEqual(read(os.path.join(files, CLI_NAME)), archive.read("Velmora v.1.0/" + CLI_NAME))
            self.assertEqual(read(os.path.join(files, "COPYRIGHT.txt")), archive.read("Velmora v.1.0/COPYRIGHT.txt"))
        self.assertEqual(read(os.path.join(files, "help", HELP_NAME)), read(PDF))
        self.assertIn(read(os.path.join(files, "appconfig.ini")), FIRST_CONFIG)
        self.assertIn(set(os.listdir(os.path.join(start_menu(self.env), "Velmora"))), (SHORTCUTS_EN, SHORTCUTS_RU))
        link = self.shortcut("Velmora.lnk")
        self.assertEqual(link["path"].lower(), (folder + "\\velmora.exe").lower())
        self.assertEqual(link["workdir"].lower(), folder.lower())
        self.assertTrue(self.key_exists(UNINSTALL_KEY))
        return link

    def assertUninstalled(self, folder, left):
        """Only `left` (relative names) stays of the install folder."""
        files = unix_path(self.env, folder)
        if left:
            self.assertEqual(listing(files), left)
        else:
            self.assertFalse(os.path.exists(files), listing(files))
        self.assertFalse(os.path.exists(os.path.join(start_menu(self.env), "Velmora")))
        self.assertFalse(self.key_exists(UNINSTALL_KEY))
        self.assertFalse(self.key_exists(CONFIG_KEY))

    def help_boxes(self, wait):
        """Gives the help command; the texts of the boxes it shows (each closed)."""
        self.driver.command(harness.ID_MENU_HELP)
        texts = []
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            boxes = self.driver.boxes()
            if boxes:
                texts.append(boxes[0]["text"])
                self.driver.ok()
                deadline = time.monotonic() + 2   # a hint may follow
            time.sleep(0.05)
        return texts

    # ---- tests

    def test_install_run_from_the_shortcut_and_uninstall(self):
        self.install()
        link = self.assertInstalled(INSTALL_DIR)
        folder = unix_path(self.env, INSTALL_DIR)
        first_config = read(os.path.join(folder, "appconfig.ini"))

        # Started as the shell starts a shortcut: its target in its working folder.
        program = self.start(exe=unix_path(self.env, link["path"]), workdir=unix_path(self.env, link["workdir"]))
        self.assertEqual(self.driver.title(), FIRST_CONFIG[first_config])
        english = first_config.startswith(b"Language = EN;")
        # The start-up search finds no serial port in the bench.
        box = self.driver.wait_box(10)[0]
        self.assertEqual(box["text"], "No COM ports found in the system!" if english
                         else "Не найдены COM-порты в системе!")
        self.driver.ok()
        self.driver.wait_no_box()
        self.driver.wait_enabled()

        # The help is found: no box at all.
        self.assertEqual(self.help_boxes(wait=3), [])
        # Without the PDF the same command reports it (the check above can fail).
        pdf = os.path.join(folder, "help", HELP_NAME)
        os.rename(pdf, pdf + ".away")
        try:
            boxes = self.help_boxes(wait=5)
        finally:
            os.rename(pdf + ".away", pdf)
        self.assertEqual(len(boxes), 2, boxes)
        self.assertTrue(boxes[0].startswith("File not found!" if english else "Файл не найден!"), boxes)

        # The settings file lives in the install folder.
        self.driver.command(harness.ID_MENU_LANG_RU if english else harness.ID_MENU_LANG_EN)
        expected = (b"Language = RU;" if english else b"Language = EN;") + b"\r\nTabCtrl = LNA_LNB;\r\n"
        harness.wait_until(lambda: read(os.path.join(folder, "appconfig.ini")) == expected, 5,
                           message="appconfig.ini rewritten in the install folder")

        # The uninstaller refuses while the program runs, and removes nothing.
        self.uninstall(INSTALL_DIR)
        self.assertEqual(listing(folder), {"velmora.exe", CLI_NAME, "LICENSE.txt", "COPYRIGHT.txt", "help",
                                           "help/" + HELP_NAME, "uninstall.exe", "appconfig.ini"})
        self.assertTrue(self.key_exists(UNINSTALL_KEY))

        self.driver.close_window()
        self.assertEqual(program.wait(10), 0)
        # The driver keeps the program's file loaded (it compares box pictures
        # with the program's icons); a fresh one holds nothing.
        self.driver.close()
        self.driver = harness.Driver(self.env)

        # By default the user's settings stay, and so does their folder.
        self.uninstall(INSTALL_DIR)
        self.assertUninstalled(INSTALL_DIR, {"appconfig.ini"})
        self.assertEqual(read(os.path.join(folder, "appconfig.ini")), expected)

    def test_installed_console_tool_runs(self):
        self.install()
        self.assertInstalled(INSTALL_DIR)
        # Run from the install folder as a script would; its output to a
        # file, never a pipe a Wine process could inherit.
        with tempfile.TemporaryFile() as out:
            code = subprocess.run([self.env["WINELOADER"], unix_path(self.env, INSTALL_DIR + "\\" + CLI_NAME),
                                   "ports", "--json"], env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=60).returncode
            out.seek(0)
            text = out.read().decode("utf-8")
        self.assertEqual(code, 0, text)
        self.assertIn("ports", json.loads(text))

    def test_remove_config_on_request(self):
        cases = [
            # (install arguments, folder, a file of the user's own, left after /REMOVECONFIG)
            ((), INSTALL_DIR, None, set()),
            (("/D=C:\\Tools\\Velmora",), "C:\\Tools\\Velmora", "notes.txt", {"notes.txt"}),
        ]
        for args, folder, own_file, left in cases:
            with self.subTest(folder=folder):
                self.install(*args)
                link = self.assertInstalled(folder)
                self.assertEqual(link["workdir"].lower(), folder.lower())
                if own_file:
                    with open(os.path.join(unix_path(self.env, folder), own_file), "w") as f:
                        f.write("kept\n")
                self.uninstall(folder, "/REMOVECONFIG")
                self.assertUninstalled(folder, left)


def dep5(text):
    """The paragraphs of a machine-readable copyright file as {field: value}
    (continuation lines joined with newlines, "." lines as empty ones)."""
    paragraphs = []
    for block in re.split(r"\n\s*\n", text.strip()):
        fields, name = {}, None
        for line in block.splitlines():
            if line[:1].isspace():
                assert name, block
                fields[name] += "\n" + ("" if line.strip() == "." else line[1:].rstrip())
            else:
                name, _, value = line.partition(":")
                assert name and _ and name not in fields, line
                fields[name] = value.strip()
        paragraphs.append(fields)
    return paragraphs


def cmake_facts():
    """The version project() sets and the USB ids protocol/usb_ids.h sets:
    what the generated documents must say."""
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        version = re.search(r"^project\(Velmora VERSION ([0-9.]+)", f.read(), re.M).group(1)
    with open(os.path.join(ROOT, "protocol", "usb_ids.h")) as f:
        ids = dict(re.findall(r"constexpr int TarvikUsb(\w+) = 0x([0-9A-Fa-f]{4});", f.read()))
    return version, ids["VendorId"], ids["ProductId"]


class LinuxPackageTest(unittest.TestCase):
    """The console tool's .deb and static tarball, checked natively."""

    @classmethod
    def setUpClass(cls):
        package()
        cls.work = tempfile.mkdtemp()
        cls.deb_root = os.path.join(cls.work, "deb")
        subprocess.run(["dpkg-deb", "-x", DEB, cls.deb_root], check=True)
        cls.control = os.path.join(cls.work, "control")
        subprocess.run(["dpkg-deb", "-e", DEB, cls.control], check=True)
        cls.tar_root = os.path.join(cls.work, "tar")
        os.mkdir(cls.tar_root)
        subprocess.run(["tar", "-xzf", TARBALL, "-C", cls.tar_root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", DEB, name], stdout=subprocess.PIPE,
                              check=True).stdout.decode().strip()

    def test_deb_installs_the_program_the_rule_and_the_man_page(self):
        self.assertEqual(self.field("Package"), "velmora-cli")
        self.assertEqual(self.field("Version"), "1.0")
        self.assertEqual(self.field("Architecture"), DEB_ARCH)
        self.assertRegex(self.field("Maintainer"), r"^The Velmora developers <[\w.-]+@[\w-]+(\.[\w-]+)+>$")
        # Linked against Debian's libraries, which it names.
        depends = [item.split()[0] for item in self.field("Depends").split(",")]
        self.assertIn("libc6", depends)
        self.assertIn("libstdc++6", depends)
        files = {path for path in listing(self.deb_root) if os.path.isfile(os.path.join(self.deb_root, path))}
        self.assertEqual(files, {"usr/bin/velmora-cli", UDEV_RULE, "usr/share/man/man1/velmora-cli.1.gz",
                                 DEB_DOC + "copyright", DEB_DOC + "changelog.gz"})
        # Every file root's and dated to the commit, as dpkg will install it.
        contents = subprocess.run(["dpkg-deb", "--fsys-tarfile", DEB], stdout=subprocess.PIPE, check=True).stdout
        with tarfile.open(fileobj=io.BytesIO(contents)) as tar:
            for member in tar.getmembers():
                self.assertEqual((member.uname, member.gname, member.mtime), ("root", "root", commit_time()),
                                 member.name)
        program = os.path.join(self.deb_root, "usr", "bin", "velmora-cli")
        self.assertTrue(os.access(program, os.X_OK))
        self.assertFalse(elf_is_static(read(program)), "the Debian program is linked statically")
        self.assertEqual(read(os.path.join(self.deb_root, UDEV_RULE)), read(os.path.join(GENERATED, "60-velmora.rules")))
        with gzip.open(os.path.join(self.deb_root, "usr/share/man/man1/velmora-cli.1.gz")) as man:
            self.assertEqual(man.read(), read(os.path.join(GENERATED, "velmora-cli.1")))
        with gzip.open(os.path.join(self.deb_root, DEB_DOC + "changelog.gz")) as changelog:
            self.assertRegex(changelog.read().decode(), r"^velmora-cli \(1\.0\) unstable; urgency=medium\n")
        # md5sums covers every file, with the sums dpkg --verify will check.
        run = subprocess.run(["md5sum", "-c", "--strict", os.path.join(self.control, "md5sums")],
                             cwd=self.deb_root, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(run.returncode, 0, run.stdout)
        self.assertEqual(len(read(os.path.join(self.control, "md5sums")).splitlines()), len(files))

    def test_maintainer_scripts_reload_udev_rules(self):
        # Each script run as dpkg runs it, with a udevadm that records its
        # calls: installing applies the rule, removing forgets it.
        bin_dir = os.path.join(self.work, "bin")
        os.makedirs(bin_dir, exist_ok=True)
        calls = os.path.join(self.work, "udevadm-calls")
        with open(os.path.join(bin_dir, "udevadm"), "w") as f:
            f.write('#!/bin/sh\necho "$*" >>"%s"\n' % calls)
        os.chmod(os.path.join(bin_dir, "udevadm"), 0o755)
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"])
        cases = [
            ("postinst", "configure", ["control --reload-rules", "trigger --subsystem-match=tty --action=change"]),
            ("postrm", "remove", ["control --reload-rules"]),
            ("postrm", "purge", ["control --reload-rules"]),
            ("postrm", "upgrade", []),
        ]
        for script, action, expected in cases:
            with self.subTest(script=script, action=action):
                if os.path.exists(calls):
                    os.remove(calls)
                run = subprocess.run([os.path.join(self.control, script), action], env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                self.assertEqual(run.returncode, 0, run.stdout)
                done = read(calls).decode().splitlines() if os.path.exists(calls) else []
                self.assertEqual(done, expected)

    def test_copyright_names_every_licence(self):
        # Each download names, beyond ours, what its programs have in them:
        # the .deb's links Debian's shared libraries, the tarball's has the C
        # library linked in, the Windows programs the mingw-w64 runtime.
        with zipfile.ZipFile(PORTABLE_ZIP) as archive:
            windows = archive.read("Velmora v.1.0/COPYRIGHT.txt")
            windows_cli = archive.read("Velmora v.1.0/" + CLI_NAME)
        headers = {"CLI/*": "BSD-3-clause", "nlohmann/*": "Expat"}
        cases = [
            ("deb", read(os.path.join(self.deb_root, DEB_DOC + "copyright")), headers, True),
            ("tarball", read(os.path.join(self.tar_root, "velmora-cli-1.0", "copyright")),
             dict(headers, **{"glibc/*": "LGPL-2.1+"}), True),
            ("zip", windows, dict(headers, **{"mingw-w64/*": "ZPL-2.1", "mingw-w64/mingw-w64-crt/gdtoa/*": "Lucent",
                                              "mingw-w64/mingw-w64-libraries/winpthreads/*": "Expat"}), False),
        ]
        licence = read(LICENSE).decode()
        self.assertIn("Copyright (c) 2026 The Velmora developers", licence)
        for download, text, libraries, exactly in cases:
            with self.subTest(download=download):
                paragraphs = dep5(text.decode("utf-8"))
                self.assertEqual(paragraphs[0]["Format"],
                                 "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/")
                # A stanza by the first of its file patterns.
                files = {p["Files"].split("\n")[0]: p for p in paragraphs if "Files" in p}
                texts = {p["License"].split("\n")[0]: p["License"].partition("\n")[2] for p in paragraphs
                         if "License" in p and "Files" not in p}
                ours = files.pop("*")
                self.assertEqual((ours["Copyright"], ours["License"]), ("2026 The Velmora developers", "Expat"))
                named = {pattern: p["License"] for pattern, p in files.items()}
                if exactly:
                    self.assertEqual(named, libraries)
                else:
                    self.assertEqual({pattern: named.get(pattern) for pattern in libraries}, libraries)
                # Every licence named has its text, given once; ours is
                # LICENSE's, word for word.
                self.assertEqual(set(named.values()) | {"Expat"}, set(texts))
                self.assertEqual(squeeze(texts["Expat"]), squeeze(licence.partition("The Velmora developers")[2]))
                for name, words in [("BSD-3-clause", "Redistributions in binary form must reproduce"),
                                    ("ZPL-2.1", "Redistributions in binary form must reproduce"),
                                    ("LGPL-2.1+", "GNU LESSER GENERAL PUBLIC LICENSE")]:
                    if name in texts:
                        self.assertIn(words, texts[name])
        # The threads library named is the one velmora-cli.exe has in it.
        self.assertIn(b"mingw-w64-libraries/winpthreads/", windows_cli)

    def test_lintian_finds_nothing(self):
        # Errors and warnings fail; an override would need its reason here.
        run = subprocess.run(["lintian", "--fail-on", "error,warning", "--display-level", ">=warning", DEB],
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        tags = [line for line in run.stdout.decode().splitlines() if re.match(r"^[EWX]: ", line)]
        self.assertEqual((run.returncode, tags), (0, []), run.stdout.decode())

    def test_packaged_program_runs(self):
        # Both builds: Debian's and the static one.
        for program in (os.path.join(self.deb_root, "usr", "bin", "velmora-cli"),
                        os.path.join(self.tar_root, "velmora-cli-1.0", "velmora-cli")):
            with self.subTest(program=program):
                run = subprocess.run([program, "--help"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, timeout=30)
                self.assertEqual(run.returncode, 0, run.stderr)
                for command in (b"ports", b"read", b"apply", b"verify"):
                    self.assertIn(command, run.stdout)
                # Wrong usage is exit code 2, with a message and nothing on stdout.
                run = subprocess.run([program, "apply"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, timeout=30)
                self.assertEqual(run.returncode, 2)
                self.assertTrue(run.stderr.strip())

    def test_tarball_holds_the_same_files(self):
        folder = os.path.join(self.tar_root, "velmora-cli-1.0")
        self.assertEqual(listing(self.tar_root), {"velmora-cli-1.0", "velmora-cli-1.0/velmora-cli",
                                                  "velmora-cli-1.0/60-velmora.rules", "velmora-cli-1.0/velmora-cli.1",
                                                  "velmora-cli-1.0/copyright", "velmora-cli-1.0/INSTALL"})
        program = read(os.path.join(folder, "velmora-cli"))
        self.assertTrue(elf_is_static(program), "the tarball's program needs a dynamic loader")
        self.assertTrue(os.access(os.path.join(folder, "velmora-cli"), os.X_OK))
        self.assertEqual(read(os.path.join(folder, "60-velmora.rules")), read(os.path.join(self.deb_root, UDEV_RULE)))
        self.assertEqual(read(os.path.join(folder, "velmora-cli.1")), read(os.path.join(GENERATED, "velmora-cli.1")))
        self.assertIn(b"dialout", read(os.path.join(folder, "INSTALL")))
        with tarfile.open(TARBALL) as tar:
            names = tar.getnames()
            self.assertEqual(names, sorted(names))
            self.assertEqual({(m.uid, m.gid, m.mtime) for m in tar.getmembers()}, {(0, 0, commit_time())})

    def test_generated_documents_state_the_facts_of_their_sources(self):
        version, vendor, product = cmake_facts()
        cases = [
            # (generated file, what it must say)
            ("velmora-cli.1", ['"Velmora %s"' % version, "%s:%s" % (vendor.upper(), product.upper())]),
            ("60-velmora.rules", ['ATTRS{idVendor}=="%s"' % vendor.lower(), 'ATTR{idProduct}=="%s"' % product.lower()]),
            ("velmora-help.html", ["<h1>Velmora %s</h1>" % version, "Velmora-%s-setup.exe" % version, HELP_NAME,
                                   "VID_%s&amp;PID_%s" % (vendor.upper(), product.upper())]),
        ]
        for name, facts in cases:
            with self.subTest(name=name):
                text = read(os.path.join(GENERATED, name)).decode("utf-8")
                self.assertEqual(re.findall(r"@\w+@", text), [])
                for fact in facts:
                    self.assertIn(fact, text)

    def test_udev_rule(self):
        rules = read(os.path.join(self.deb_root, UDEV_RULE)).decode()
        # Continuation lines joined, comments dropped: one rule a line.
        lines = [line for line in rules.replace("\\\n", " ").splitlines() if line.strip()
                 and not line.lstrip().startswith("#")]
        tty = [line for line in lines if 'SUBSYSTEM=="tty"' in line]
        self.assertEqual(len(tty), 1, lines)
        for part in ('ATTRS{idVendor}=="2e3c"', 'ATTRS{idProduct}=="5750"', 'GROUP="dialout"', 'MODE="0660"',
                     'ENV{ID_MM_DEVICE_IGNORE}="1"'):
            self.assertIn(part, tty[0])
        usb = [line for line in lines if 'SUBSYSTEM=="usb"' in line]
        self.assertEqual(len(usb), 1, lines)
        for part in ('ATTR{idVendor}=="2e3c"', 'ATTR{idProduct}=="5750"', 'ENV{ID_MM_DEVICE_IGNORE}="1"'):
            self.assertIn(part, usb[0])
        # Every assignment or match is KEY op "value": a typo would make udev
        # skip the line silently.
        for line in lines:
            for item in re.split(r",\s*", line.strip()):
                self.assertRegex(item, r'^([A-Z_]+(\{[A-Za-z_]+\})?(==|!=|=|\+=)"[^"]*"|LABEL="\w+"|GOTO="\w+")$', line)

    def test_man_page_renders_cleanly(self):
        if not shutil.which("groff"):
            self.skipTest("no groff")
        run = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", os.path.join(GENERATED, "velmora-cli.1")],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        self.assertEqual((run.returncode, run.stderr), (0, b""))

    def test_checksums(self):
        sums = os.path.join(PACKAGE_DIR, "SHA256SUMS" + SUFFIX)
        names = {line.split(None, 1)[1].lstrip("*") for line in read(sums).decode().splitlines()}
        self.assertEqual(names, {os.path.basename(p) for p in (SETUP_EXE, PORTABLE_ZIP, PDF, DEB, TARBALL, WEB_ZIP) if p})
        run = subprocess.run(["sha256sum", "-c", "--quiet", os.path.basename(sums)], cwd=PACKAGE_DIR,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(run.returncode, 0, run.stdout)


def main():
    result = unittest.main(exit=False, verbosity=2).result
    if not result.wasSuccessful():
        return 1
    if result.testsRun and len(result.skipped) == result.testsRun:
        return 77
    return 0


if __name__ == "__main__":
    sys.exit(package_only() if sys.argv[1:] == ["--package"] else main())
