"""What ships: a 32-bit GUI program with its icons, version and manifest, its
two helpers (a GUI one for Explorer, a console one for scripts), and what
`make dist` packs for Windows users."""

import os
import re
import struct
import unittest
import xml.etree.ElementTree as ET
import zipfile

from harness import dist_file

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


class PortableExecutable:
    """Just enough of the PE format to read the header and the resources."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections, self.time_stamp, _, _, optional_size, self.characteristics = \
            struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", self.data, optional)[0]
        self.subsystem = struct.unpack_from("<H", self.data, optional + 68)[0]
        resource_rva = struct.unpack_from("<I", self.data, optional + 96 + 2 * 8)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((rva, max(vsize, raw_size), raw))
        self.resource_base = self.offset(resource_rva)

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} is in no section")

    def _entries(self, directory):
        named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            if name & 0x80000000:
                at = self.resource_base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, at)[0]
                name = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            yield name, target

    def resources(self, kind):
        """{name: bytes} of the first language of each resource of a type."""
        found = {}
        for type_id, type_dir in self._entries(self.resource_base):
            if type_id != kind:
                continue
            for name, name_dir in self._entries(self.resource_base + (type_dir & 0x7FFFFFFF)):
                _, leaf = next(self._entries(self.resource_base + (name_dir & 0x7FFFFFFF)))
                rva, size = struct.unpack_from("<II", self.data, self.resource_base + leaf)
                found[name] = self.data[self.offset(rva):self.offset(rva) + size]
        return found


class ShippedExecutable(unittest.TestCase):

    def setUp(self):
        build = os.environ.get("E2E_BUILD", "build/win32")
        self.build = build
        self.exe = PortableExecutable(os.path.join(build, "Folderlane.exe"))

    def test_is_a_32_bit_gui_program(self):
        # Explorer's helper shows no console either; the sender is one, for scripts.
        for name, subsystem in (("Folderlane.exe", 2), ("folderlane-open.exe", 2),
                                ("folderlane-send.exe", 3)):
            exe = PortableExecutable(os.path.join(self.build, name))
            self.assertEqual((exe.machine, exe.magic, exe.subsystem), (0x14C, 0x10B, subsystem), name)
        # The read-me the About box offers ships beside it, for Windows editors.
        with open(os.path.join(self.build, "Nelvoreadme.txt"), "rb") as f:
            readme = f.read()
        self.assertTrue(readme.startswith(b"Folderlane 5.4.0.0\r\n"), readme[:40])
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"))

    def test_icons_hold_the_palette_image_then_32_bit_pictures_of_each_size(self):
        groups = self.exe.resources(RT_GROUP_ICON)
        images = self.exe.resources(RT_ICON)
        pictures = {"MAINICON": (16, 20, 24, 32, 40, 48, 64, 96, 256),
                    "SMALICON": (16, 20, 24, 28, 32, 36, 40, 48, 56)}
        for name, (size, bits) in {"MAINICON": (32, 8), "SMALICON": (16, 4)}.items():
            group = groups[name]
            count = struct.unpack_from("<H", group, 4)[0]
            # Width (0 for 256) and bits of each entry of the directory.
            found = [(group[6 + 14 * i] or 256, group[12 + 14 * i]) for i in range(count)]
            self.assertEqual(found, [(size, bits)] + [(s, 32) for s in pictures[name]], name)
            icon_id = struct.unpack_from("<H", group, 6 + 12)[0]
            header = images[icon_id]
            width, height = struct.unpack_from("<ii", header, 4)
            bit_count = struct.unpack_from("<H", header, 14)[0]
            # An icon's bitmap counts the image and its mask in its height.
            self.assertEqual((width, height // 2, bit_count), (size, size, bits), name)

    def test_version_resource_gives_file_version_5_4_0_0(self):
        for name in ("Folderlane.exe", "folderlane-send.exe", "folderlane-open.exe"):
            exe = PortableExecutable(os.path.join(self.build, name))
            self.assertEqual(file_version(exe), "5.4.0.0", name)

    def test_manifest_asks_for_common_controls_6_and_per_monitor_dpi_awareness(self):
        manifest = ET.fromstring(self.exe.resources(RT_MANIFEST)[1])
        v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        dependencies = [(a.get("name"), a.get("version"), a.get("publicKeyToken"))
                        for a in manifest.iter(v1 + "assemblyIdentity")]
        self.assertIn(("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df"),
                      dependencies)
        self.assertEqual(manifest.find(f"{v1}assemblyIdentity").get("version"), "5.4.0.0")
        (level,) = manifest.iter(v3 + "requestedExecutionLevel")
        self.assertEqual(level.get("level"), "asInvoker")
        supported = {os_.get("Id") for os_ in
                     manifest.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")}
        self.assertIn("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", supported, "Windows 10 and 11")
        self.assertIn("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", supported, "Windows 7")
        settings = {element.tag.split("}")[1]: element.text for element in
                    manifest.find(f"{v3}application/{v3}windowsSettings")}
        self.assertEqual(settings, {"dpiAware": "true", "dpiAwareness": "PerMonitorV2, system"})


def file_version(exe, table="040904E4"):
    """FileVersion of a string table (US English, Windows Latin 1 by default)."""
    (version,) = exe.resources(RT_VERSION).values()
    text = version.decode("utf-16-le", errors="replace")
    table = text[text.index(table):]
    key = table.index("FileVersion")
    return table[key + len("FileVersion"):].lstrip("\0").split("\0", 1)[0]


class Distribution(unittest.TestCase):
    """dist/: the installer and the portable archive of the same build."""

    SHIPPED = ["Folderlane.exe", "LICENSE.txt", "Nelvoreadme.txt", "THIRD-PARTY-NOTICES.txt", "folderlane-open.exe",
               "folderlane-send.exe"]

    def setUp(self):
        self.build = os.environ.get("E2E_BUILD", "build/win32")

    def test_portable_archive_holds_the_shipped_files_of_the_build(self):
        archive = dist_file("Folderlane-5.4.0.0-portable.zip")
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(sorted(z.namelist()), self.SHIPPED)
            for name in self.SHIPPED:
                with open(os.path.join(self.build, name), "rb") as f:
                    self.assertEqual(z.read(name), f.read(), name)

    def test_the_notices_name_every_library_linked_into_the_programs(self):
        with open(os.path.join(self.build, "THIRD-PARTY-NOTICES.txt")) as f:
            notices = f.read()
        for program in ("Folderlane", "folderlane-send", "folderlane-open"):
            with open(os.path.join(self.build, program + ".map")) as f:
                # The toolchain's own files; the build's are named relative to it.
                linked = {os.path.basename(path) for path in re.findall(r"^LOAD (/\S+)$", f.read(), re.M)}
            self.assertGreater(len(linked), 5, program)
            self.assertEqual(sorted(name for name in linked if name not in notices), [], program)

    def test_installer_is_a_32_bit_windows_program_of_the_same_version(self):
        setup = PortableExecutable(dist_file("Folderlane-5.4.0.0-setup.exe"))
        self.assertEqual((setup.machine, setup.subsystem), (0x14C, 2))
        self.assertEqual(file_version(setup, "040904b0"), "5.4.0.0")
        # Per user: it must not ask for administrator rights.
        manifest = setup.resources(RT_MANIFEST)[1].decode("utf-8")
        self.assertRegex(manifest, r'requestedExecutionLevel level="asInvoker"')
        # Its header has the release's one time, not when makensis's stub was built.
        with open(dist_file("BUILDINFO")) as f:
            info = f.read()
        self.assertIn(f"\nSource-Date-Epoch: {setup.time_stamp}\n", info)
        self.assertIn("\n nsis-common (= ", info)


if __name__ == "__main__":
    unittest.main()
