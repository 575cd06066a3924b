#!/usr/bin/env python3
"""Checks a built Windows module without running it, so that a build for an
architecture this host cannot execute is still checked.

  check_pe.py launcher EXE win32|win64   machine, GUI subsystem, system-only
                                         imports, icon group and manifest
  check_pe.py game DLL win32|win64       machine, undecorated RunGame export
  check_pe.py tool EXE win32|win64       machine, console subsystem, system-only
                                         imports (the studio's packer)
"""
import struct
import sys

MACHINES = {"win32": (0x14C, 0x10B), "win64": (0x8664, 0x20B)}  # machine, optional-header magic
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
               "msvcrt.dll", "ntdll.dll"}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
ICON_SIZES = {1: 64, 2: 32, 3: 24, 4: 16}
MANIFEST_NAMESPACE = b"urn:schemas-microsoft-com:asm.v1"


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", self.data, optional)[0]
        self.subsystem = struct.unpack_from("<H", self.data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rsize), raw))

    def offset(self, rva):
        for vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError("address 0x%x is in no section" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def imports(self):
        rva = self.directories[1][0]
        names = []
        while rva:
            entry = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if entry[3] == 0:
                break
            names.append(self.cstring(entry[3]))
            rva += 20
        return names

    def exports(self):
        rva = self.directories[0][0]
        if not rva:
            return []
        fields = struct.unpack_from("<IIHHIIIIIII", self.data, self.offset(rva))
        count, names = fields[7], fields[9]
        return [self.cstring(struct.unpack_from("<I", self.data, self.offset(names + 4 * i))[0])
                for i in range(count)]

    def resources(self):
        """{(type, name): data}, name an int id or a string; first language."""
        base = self.directories[2][0]
        found = {}
        if not base:
            return found

        def entries(rva):
            at = self.offset(rva)
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                key, value = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if key & 0x80000000:
                    name_at = self.offset(base + (key & 0x7FFFFFFF))
                    length = struct.unpack_from("<H", self.data, name_at)[0]
                    key = self.data[name_at + 2:name_at + 2 + 2 * length].decode("utf-16-le")
                yield key, value

        for kind, kind_dir in entries(base):
            for name, name_dir in entries(base + (kind_dir & 0x7FFFFFFF)):
                for _, leaf in entries(base + (name_dir & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, self.offset(base + leaf))
                    start = self.offset(data_rva)
                    found[(kind, name)] = self.data[start:start + size]
                    break
        return found


def check_machine(image, arch, problems):
    machine, magic = MACHINES[arch]
    if (image.machine, image.magic) != (machine, magic):
        problems.append("machine 0x%x, header magic 0x%x: not a %s module" % (image.machine, image.magic, arch))


def check_system_imports(image, problems):
    for dll in image.imports():
        if dll.lower() not in SYSTEM_DLLS:
            problems.append("imports %s, which is not a system DLL" % dll)


def check_launcher(image, problems):
    if image.subsystem != 2:
        problems.append("subsystem %d, not the Windows GUI (2)" % image.subsystem)
    check_system_imports(image, problems)
    check_no_fault_hook(image, problems)
    resources = image.resources()
    group = resources.get((RT_GROUP_ICON, "IDI_MAIN_ICON"))
    if group is None:
        problems.append("no icon group named IDI_MAIN_ICON")
    else:
        _, kind, count = struct.unpack_from("<HHH", group, 0)
        sizes = {}
        for i in range(count):
            width, height, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            sizes[icon_id] = (width, height, bits)
            if (RT_ICON, icon_id) not in resources:
                problems.append("icon %d of the group is missing" % icon_id)
        wanted = {i: (s, s, 8) for i, s in ICON_SIZES.items()}
        if kind != 1 or sizes != wanted:
            problems.append("icon group holds %s, not four 8-bit images 64/32/24/16 with ids 1-4" % sizes)
    manifest = resources.get((RT_MANIFEST, 1))
    if manifest is None:
        problems.append("no manifest (type 24, id 1)")
    elif MANIFEST_NAMESPACE not in manifest or b'manifestVersion="1.0"' not in manifest \
            or b"requestedExecutionLevel" in manifest or b"dependency" in manifest:
        problems.append("the manifest is not the minimal assembly: %r" % manifest[:200])


# The test build's fault points read this variable; the release launcher has
# no fault point at all.
FAULT_HOOK = b"LAUNCHER_FAULT_AT"


def check_no_fault_hook(image, problems):
    if FAULT_HOOK in image.data:
        problems.append("holds the test build's fault points (%s)" % FAULT_HOOK.decode())


def check_fault_build(image, problems):
    if FAULT_HOOK not in image.data:
        problems.append("has no fault points: the check of the release launcher would see nothing")


def check_game(image, problems):
    if "RunGame" not in image.exports():
        problems.append("no undecorated RunGame export (exports: %s)" % ", ".join(image.exports()))


def check_tool(image, problems):
    if image.subsystem != 3:
        problems.append("subsystem %d, not the Windows console (3)" % image.subsystem)
    check_system_imports(image, problems)


CHECKS = {"launcher": check_launcher, "game": check_game, "tool": check_tool, "faults": check_fault_build}


def main(argv):
    if len(argv) != 4 or argv[1] not in CHECKS or argv[3] not in MACHINES:
        print(__doc__, file=sys.stderr)
        return 2
    kind, path, arch = argv[1:]
    problems = []
    try:
        image = Image(path)
        check_machine(image, arch, problems)
        CHECKS[kind](image, problems)
    except (OSError, ValueError, struct.error) as error:
        problems.append("cannot read %s: %s" % (path, error))
    for problem in problems:
        print("%s: %s" % (path, problem))
    if not problems:
        print("%s: a %s %s module as it should be" % (path, arch, kind))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
