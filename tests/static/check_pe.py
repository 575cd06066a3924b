#!/usr/bin/env python3
"""Checks a built Windows module without running it, so that a build for an
architecture this host cannot execute is still checked.

  check_pe.py launcher EXE win32|win64   machine, GUI subsystem, system-only
                                         imports, icon group and manifest
  check_pe.py game DLL win32|win64       machine, undecorated RunGame export
  check_pe.py package-game DLL win32|win64
                                         a game built against the helper package:
                                         machine, RunGame export, system-only imports
  check_pe.py tool EXE win32|win64       machine, console subsystem, system-only
                                         imports (the studio's packer); which of
                                         them old Windows lack is only reported
  check_pe.py lacking MODULE win32|win64 SYSTEM...
                                         lists the imports those systems lack

Launchers and game modules import only what the oldest Windows of their
architecture export (windows_exports.txt beside this file): the 32-bit ones
Windows 2000 SP4, XP SP3 and XP x64's 32-bit DLLs, the 64-bit ones XP x64.

Options of launcher and tool, read back from the resources:
  --icon FILE.ico       the icon group holds exactly that file's images
                        (default: the drawn four 8-bit images 64/32/24/16)
  --version 1.2.3.4     a version resource with these file and product numbers
  --string Key=Value    ... and this string (repeatable); with neither option
                        the module must carry no version resource
"""
import os
import struct
import sys

MACHINES = {"win32": (0x14C, 0x10B), "win64": (0x8664, 0x20B)}  # machine, optional-header magic
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
               "msvcrt.dll", "ntdll.dll", "winhttp.dll"}
OLDEST_SYSTEMS = {"win32": ("2000", "xp", "xp64"), "win64": ("xp64",)}
EXPORTS_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows_exports.txt")
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
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

    def imported_functions(self):
        """(DLL, function name or "#ordinal") of every import."""
        rva = self.directories[1][0]
        wide = self.magic == 0x20B
        size, ordinal_flag = (8, 1 << 63) if wide else (4, 1 << 31)
        while rva:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if name == 0:
                break
            dll = self.cstring(name)
            thunk = lookup or first
            while True:
                value = struct.unpack_from("<Q" if wide else "<I", self.data, self.offset(thunk))[0]
                if value == 0:
                    break
                yield dll, ("#%d" % (value & 0xFFFF) if value & ordinal_flag else self.cstring(value + 2))
                thunk += size
            rva += 20

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


def read_exports(path=EXPORTS_FILE):
    """{(DLL, function): set of system tags} of windows_exports.txt."""
    found = {}
    with open(path) as f:
        for line in f:
            fields = line.split()
            if fields and not fields[0].startswith("#"):
                found[(fields[0], fields[1])] = set() if fields[2] == "-" else set(fields[2].split(","))
    return found


def lacking_imports(image, systems, exports=None):
    """(DLL, function, systems lacking it) of each import some of `systems`
    lack; a function the list does not know is taken as lacking everywhere."""
    exports = read_exports() if exports is None else exports
    for dll, function in image.imported_functions():
        known = exports.get((dll.upper(), function), set())
        lacking = [system for system in systems if system not in known]
        if lacking:
            yield dll, function, lacking


def check_old_windows_imports(image, arch, problems):
    for dll, function, lacking in lacking_imports(image, OLDEST_SYSTEMS[arch]):
        problems.append("imports %s!%s, missing on %s (by %s; where a source shows it there, "
                        "list it with that source)" % (dll, function, ", ".join(lacking), os.path.basename(EXPORTS_FILE)))


def read_ico(path):
    """[(width, height, bits, image bytes)] of an .ico file."""
    with open(path, "rb") as f:
        data = f.read()
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    if kind != 1:
        raise ValueError("%s is not an icon file" % path)
    images = []
    for i in range(count):
        width, height, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append((width or 256, height or 256, bits, data[offset:offset + size]))
    return images


def check_icon(resources, icon_file, problems):
    group = resources.get((RT_GROUP_ICON, "IDI_MAIN_ICON"))
    if group is None:
        problems.append("no icon group named IDI_MAIN_ICON")
        return
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    found = []
    for i in range(count):
        width, height, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        found.append((icon_id, width or 256, height or 256, bits, resources.get((RT_ICON, icon_id))))
    for icon_id, _, _, _, data in found:
        if data is None:
            problems.append("icon %d of the group is missing" % icon_id)
    if icon_file is None:
        wanted = {i: (s, s, 8) for i, s in ICON_SIZES.items()}
        sizes = {f[0]: f[1:4] for f in found}
        if kind != 1 or sizes != wanted:
            problems.append("icon group holds %s, not four 8-bit images 64/32/24/16 with ids 1-4" % sizes)
    elif kind != 1 or [f[1:] for f in found] != read_ico(icon_file):
        problems.append("icon group holds %s, not the images of %s"
                        % ([f[1:4] for f in found], icon_file))


def version_block(data, at=0):
    """(key, value bytes, children, end) of one block of a version resource."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_at = at + 6
    key_end = key_at
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_at:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    value_size = value_length * (2 if kind == 1 else 1)
    value = data[value_at:value_at + value_size]
    children = []
    child = (value_at + value_size + 3) & ~3
    while child < end:
        block = version_block(data, child)
        children.append(block)
        child = (block[3] + 3) & ~3
    return key, value, children, end


def read_version(data):
    """(file version "a.b.c.d", product version, {string: value})."""
    key, fixed, children, _ = version_block(data)
    if key != "VS_VERSION_INFO" or len(fixed) < 52:
        raise ValueError("malformed version resource")
    ms, ls, pms, pls = struct.unpack_from("<IIII", fixed, 8)
    numbers = lambda hi, lo: "%d.%d.%d.%d" % (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF)
    strings = {}
    for name, _, tables, _ in children:
        if name == "StringFileInfo":
            for _, _, entries, _ in tables:
                for entry, value, _, _ in entries:
                    strings[entry] = value.decode("utf-16-le").rstrip("\0")
    return numbers(ms, ls), numbers(pms, pls), strings


def check_version(resources, options, problems):
    data = resources.get((RT_VERSION, 1))
    if options.version is None and not options.strings:
        if data is not None:
            problems.append("carries a version resource, and none was set")
        return
    if data is None:
        problems.append("no version resource")
        return
    file_version, product_version, strings = read_version(data)
    if options.version is not None:
        wanted = ".".join((options.version.split(".") + ["0"] * 4)[:4])
        if (file_version, product_version) != (wanted, wanted):
            problems.append("version numbers %s/%s, not %s" % (file_version, product_version, wanted))
    for pair in options.strings:
        name, _, value = pair.partition("=")
        if strings.get(name) != value:
            problems.append("version string %s is %r, not %r" % (name, strings.get(name), value))


def check_launcher(image, problems, options):
    if image.subsystem != 2:
        problems.append("subsystem %d, not the Windows GUI (2)" % image.subsystem)
    check_system_imports(image, problems)
    check_old_windows_imports(image, options.arch, problems)
    check_no_fault_hook(image, problems)
    resources = image.resources()
    check_icon(resources, options.icon, problems)
    check_version(resources, options, problems)
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


def check_fault_build(image, problems, options):
    if FAULT_HOOK not in image.data:
        problems.append("has no fault points: the check of the release launcher would see nothing")


def check_game(image, problems, options):
    if "RunGame" not in image.exports():
        problems.append("no undecorated RunGame export (exports: %s)" % ", ".join(image.exports()))


def check_package_game(image, problems, options):
    check_game(image, problems, options)
    check_system_imports(image, problems)
    check_old_windows_imports(image, options.arch, problems)


def check_tool(image, problems, options):
    if image.subsystem != 3:
        problems.append("subsystem %d, not the Windows console (3)" % image.subsystem)
    check_system_imports(image, problems)
    check_version(image.resources(), options, problems)
    # A studio's tool: what old Windows lack is told, not refused.
    for dll, function, lacking in lacking_imports(image, OLDEST_SYSTEMS[options.arch]):
        print("%s: note: imports %s!%s, missing on %s" % (options.path, dll, function, ", ".join(lacking)))


CHECKS = {"launcher": check_launcher, "game": check_game, "package-game": check_package_game, "tool": check_tool, "faults": check_fault_build}


class Options:
    """The command line; plain parsing, as the test VM's Python is minimal."""

    def __init__(self, argv):
        positional, self.icon, self.version, self.strings = [], None, None, []
        args = iter(argv)
        for arg in args:
            name, _, value = arg.partition("=")
            if name in ("--icon", "--version", "--string"):
                value = value if "=" in arg else next(args, None)
                if value is None:
                    raise ValueError("%s takes a value" % name)
                if name == "--icon":
                    self.icon = value
                elif name == "--version":
                    self.version = value
                else:
                    self.strings.append(value)
            else:
                positional.append(arg)
        if len(positional) != 3 or positional[0] not in CHECKS or positional[2] not in MACHINES:
            raise ValueError("usage")
        self.kind, self.path, self.arch = positional


def list_lacking(argv):
    if len(argv) < 4 or argv[2] not in MACHINES:
        print(__doc__, file=sys.stderr)
        return 2
    for dll, function, lacking in lacking_imports(Image(argv[1]), argv[3:]):
        print("%s!%s: %s" % (dll, function, ", ".join(lacking)))
    return 0


def main(argv):
    if argv[1:2] == ["lacking"]:
        return list_lacking(argv[1:])
    try:
        options = Options(argv[1:])
    except ValueError:
        print(__doc__, file=sys.stderr)
        return 2
    path, arch, kind = options.path, options.arch, options.kind
    problems = []
    try:
        image = Image(path)
        check_machine(image, arch, problems)
        CHECKS[kind](image, problems, options)
    except (OSError, ValueError, struct.error) as error:
        problems.append("cannot read %s: %s" % (path, error))
    for problem in problems:
        print("%s: %s" % (path, problem))
    if not problems:
        print("%s: a %s %s module as it should be" % (path, arch, kind))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
