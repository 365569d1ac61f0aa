#!/usr/bin/python3
# The Windows editor's resources as Explorer and Windows read them from the
# .exe: the icon group first in the resource table, with a 16 x 16 and a
# 32 x 32 image that are the window icon's pictures; the version resource's
# numbers and strings; the manifest's supported Windows versions, DPI
# awareness and code page.
#   exe_resources_test.py EDITOR.exe ASSETS_FOLDER TITLE VERSION
import io
import struct
import sys
import xml.etree.ElementTree as ET

import pefile
from PIL import Image

EXE, ASSETS, TITLE, VERSION = sys.argv[1:5]
FOUR_PART = VERSION + ".0" * (3 - VERSION.count("."))  # 1.0.0 -> 1.0.0.0
WINDOWS_10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"  # also Windows 11's

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def entries_of(pe, type_id):
    """The resources of one type in table order, as (id, data) pairs."""
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return []
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == type_id:
            found = []
            for name in kind.directory.entries:
                leaf = name.directory.entries[0].data.struct
                found.append((name.id, pe.get_data(leaf.OffsetToData, leaf.Size)))
            return found
    return []


def icon_images(pe, group):
    """The images of an icon group, each rebuilt as an .ico file and decoded."""
    _, _, count = struct.unpack_from("<HHH", group)
    icons = dict(entries_of(pe, pefile.RESOURCE_TYPE["RT_ICON"]))
    images = {}
    for i in range(count):
        width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        data = icons.get(icon_id, b"")
        ico = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", width, height, colours, 0, planes, bits,
                                                         len(data), 22) + data
        images[(width or 256, height or 256)] = Image.open(io.BytesIO(ico)).convert("RGBA")
    return images


def strings_of(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def main():
    pe = pefile.PE(EXE)
    check(any(s.Name.rstrip(b"\0") == b".rsrc" for s in pe.sections), "the .exe has a resource section")

    groups = entries_of(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
    check(len(groups) >= 1, "the .exe has an icon")
    if groups:
        images = icon_images(pe, groups[0][1])
        check(sorted(images) == [(16, 16), (32, 32)], "the first icon has a 16 x 16 and a 32 x 32 image (%s)"
              % sorted(images))
        for size in (16, 32):
            window_icon = Image.open("%s/icon%d.png" % (ASSETS, size)).convert("RGBA")
            check(size in {w for w, _ in images} and images[(size, size)].tobytes() == window_icon.tobytes(),
                  "its %d x %d image is the window icon's" % (size, size))

    fixed = getattr(pe, "VS_FIXEDFILEINFO", [None])[0]
    numbers = [int(n) for n in FOUR_PART.split(".")]
    packed = ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3])
    check(fixed is not None and (fixed.FileVersionMS, fixed.FileVersionLS) == packed
          and (fixed.ProductVersionMS, fixed.ProductVersionLS) == packed,
          "the version resource's numbers are %s" % FOUR_PART)
    strings = strings_of(pe)
    exe_name = EXE.replace("\\", "/").rsplit("/", 1)[-1]
    for key, want in (("ProductName", TITLE), ("FileDescription", TITLE), ("FileVersion", FOUR_PART),
                      ("ProductVersion", FOUR_PART), ("OriginalFilename", exe_name)):
        check(strings.get(key) == want, "%s is %r (got %r)" % (key, want, strings.get(key)))

    manifests = entries_of(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
    check([m for m, _ in manifests] == [1], "one manifest, the one Windows reads when the process starts (ids %s)"
          % [m for m, _ in manifests])
    if manifests:
        root = ET.fromstring(manifests[0][1])
        local = {element.tag.rsplit("}", 1)[-1]: element for element in root.iter()}
        oses = [e.get("Id") for e in root.iter() if e.tag.endswith("}supportedOS")]
        check(WINDOWS_10 in oses, "the manifest names Windows 10 and 11 as supported (%s)" % oses)
        awareness = local.get("dpiAwareness")
        check(awareness is not None and awareness.text.split(",")[0].strip() == "PerMonitorV2",
              "the manifest asks for per-monitor DPI awareness, version 2")
        check("activeCodePage" not in local, "the manifest leaves the process in the system's code page")


main()
sys.exit(1 if failures else 0)
