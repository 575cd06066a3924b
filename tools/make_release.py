#!/usr/bin/env python3
"""Packs one architecture's release kit into a zip whose bytes depend only
on its content: entries sorted, every time the source date, fixed
permissions, one compression level.

  make_release.py --epoch SECONDS --name TOP --launcher NAME --version V
                  --arch ARCH [--key HEX] --readme KIT.md
                  OUT.zip STAGE...

Each STAGE is an installed tree (cmake --install); their files go under TOP/,
with README.md (KIT.md filled in, with the whole pages of docs/ it names,
told in the kit's own paths) and SHA256SUMS (every other file of the kit,
sha256sum's format).
"""
import argparse
import hashlib
import os
import re
import sys
import time
import zipfile

# A line of the kit's README template that takes in a whole page of docs/,
# its path relative to the template.
PAGE_LINE = re.compile(r"^@PAGE (\S+)@\n", re.M)
# The repository's paths, said in the kit's (any line breaks between words).
KIT_PATHS = (
    ("`tools/build.sh` builds it natively for the build machine (`build/native/bin/packer`) and for Windows "
     "beside each launcher (`build/win32/packer.exe`, `build/win64/packer.exe`).",
     "The kit holds it for Linux build\nmachines (`linux/packer`) and for Windows (`packer.exe`)."),
    ("build/native/bin/packer", "linux/packer"),
    ("so ship `sdk/`, `include/`, `rules/`, `format/` and `hash/` together",
     "so keep `sdk/src/`, `sdk/include/`, `sdk/rules/`, `sdk/format/` and `sdk/hash/` together"),
    (" (`rules/config_files.h`)", ""),
    ("build the launcher with the printed key, `tools/build.sh -DLAUNCHER_UPDATE_PUBLIC_KEY=217af0a9...2786` "
     "(64 hex digits; a malformed key stops the build), and ship it.",
     "have the kit built with the\n   printed key (see [Signed updates with this kit](#signed-updates-with-this-kit)),"
     " and ship its launcher."),
)
INCLUDE_PATH = re.compile(r"(?<!sdk/)include/")
FORMAT_PATH = re.compile(r"(?<![\w/])(format|hash)/")
SOURCE_PATH = re.compile(r"(?<![\w/])sdk/(rungame_\w+\.c)")
# What no kit README may name: the repository's folders (the kit's sdk/ and
# the helper's relative include of its rules aside).
KIT_FOLDERS = re.compile(r"sdk/include/|sdk/src/|sdk/rules/|sdk/format/|sdk/hash/|\.\./rules/|\.\./format/|\.\./hash/")
REPOSITORY_FOLDERS = re.compile(r"\b(build|tools|tests|include|rules|format)/")
LINK = re.compile(r"\]\(([^()\s]+)\)")
FENCE = re.compile(r"^```.*?^```", re.M | re.S)


def headings(text):
    """The titles of the headings outside code blocks."""
    return [title.strip() for title in re.findall(r"^#+ (.+)$", FENCE.sub("", text), re.M)]


def anchor(title):
    """The link target of a heading, as Markdown renderers name it: lower
    case, punctuation dropped, spaces as dashes."""
    return re.sub(r"[^\w\- ]", "", title.lower()).replace(" ", "-")


def demoted(text):
    """A page's headings one level down: its title becomes a section of the kit's README."""
    parts, last = [], 0
    for block in FENCE.finditer(text):
        parts += [re.sub(r"^#", "##", text[last:block.start()], flags=re.M), block.group(0)]
        last = block.end()
    return "".join(parts) + re.sub(r"^#", "##", text[last:], flags=re.M)


def kit_paths(text):
    for old, new in KIT_PATHS:
        pattern = re.compile(r"\s+".join(re.escape(word) for word in re.split(r"\s+", old)))
        text, count = pattern.subn(lambda _: new, text)
        if count == 0:
            raise ValueError("no page of the kit's README says %r any more: say it in the kit's paths here" % old)
    text = SOURCE_PATH.sub(r"sdk/src/\1", text)
    return FORMAT_PATH.sub(r"sdk/\1/", INCLUDE_PATH.sub("sdk/include/", text))


def kit_readme(template, fields):
    """The template filled in, each @PAGE path@ line replaced by the whole
    page; links between the pages become links within the README, and a link
    to anything the README does not hold is an error."""
    with open(template, encoding="utf-8") as f:
        text = f.read()
    for name, value in fields.items():
        text = text.replace("@%s@" % name, value)
    folder = os.path.dirname(os.path.abspath(template))
    pages = {}
    for line in PAGE_LINE.finditer(text):
        path = os.path.normpath(os.path.join(folder, line.group(1)))
        with open(path, encoding="utf-8") as f:
            pages[path] = f.read()

    def page(line):
        path = os.path.normpath(os.path.join(folder, line.group(1)))

        def within(link):
            target, _, fragment = link.group(1).partition("#")
            if not target or re.match(r"[a-z]+:", target):
                return link.group(0)
            linked = os.path.normpath(os.path.join(os.path.dirname(path), target))
            if linked not in pages:
                raise ValueError("%s points to %s, which the kit's README does not hold"
                                 % (os.path.relpath(path, folder), link.group(1)))
            return "](#%s)" % (fragment or anchor(headings(pages[linked])[0]))
        return LINK.sub(within, demoted(pages[path])).rstrip("\n") + "\n"

    text = kit_paths(PAGE_LINE.sub(page, text))
    found = REPOSITORY_FOLDERS.search(KIT_FOLDERS.sub("", text))
    if found:
        raise ValueError("the kit's README names the repository's %s" % found.group(0))
    names = [anchor(title) for title in headings(text)]
    for name in names:
        if names.count(name) > 1:
            raise ValueError("the kit's README has two headings #%s" % name)
    for link in LINK.finditer(text):
        if link.group(1).startswith("#") and link.group(1)[1:] not in names:
            raise ValueError("the kit's README points to %s, a heading it does not have" % link.group(1))
    return text


def collect(stages):
    """{path in the kit: bytes}; a file in two stages is an error."""
    files = {}
    for stage in stages:
        for folder, _, names in os.walk(stage):
            for name in names:
                full = os.path.join(folder, name)
                rel = os.path.relpath(full, stage).replace(os.sep, "/")
                if rel in files:
                    raise ValueError("%s is in two stages" % rel)
                with open(full, "rb") as f:
                    files[rel] = f.read()
    return files


def is_program(rel, data):
    return rel.endswith(".exe") or data[:4] == b"\x7fELF"


def main(argv):
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--name", required=True)
    for option in ("--launcher", "--version", "--arch", "--readme"):
        parser.add_argument(option, required=True)
    parser.add_argument("--key", default="")
    parser.add_argument("out")
    parser.add_argument("stages", nargs="+")
    options = parser.parse_args(argv[1:])

    files = collect(options.stages)
    key = ("built with the public key `%s`: it installs only updates signed with its secret key" % options.key
           if options.key else "built without a key: it installs every update with its marker, signed or not")
    fields = {"LAUNCHER": options.launcher, "VERSION": options.version, "ARCH": options.arch,
              "KIT": options.name, "KEY": key}
    files["README.md"] = kit_readme(options.readme, fields).encode("utf-8")
    sums = "".join("%s  %s\n" % (hashlib.sha256(files[rel]).hexdigest(), rel) for rel in sorted(files))
    files["SHA256SUMS"] = sums.encode("ascii")

    # Zip times are local and start in 1980.
    stamp = time.gmtime(max(options.epoch, 315532800))[:6]
    tmp = options.out + ".tmp"
    with zipfile.ZipFile(tmp, "w") as archive:
        for rel in sorted(files):
            info = zipfile.ZipInfo("%s/%s" % (options.name, rel), date_time=stamp)
            info.create_system = 3  # unix, so the permissions below are read
            info.external_attr = (0o100755 if is_program(rel, files[rel]) else 0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, files[rel], compresslevel=9)
    os.replace(tmp, options.out)
    print("%s: %d files" % (options.out, len(files)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
