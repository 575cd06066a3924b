#!/usr/bin/env python3
"""Packs one architecture's release kit into a zip whose bytes depend only
on its content: entries sorted, every time the source date, fixed
permissions, one compression level.

  make_release.py --epoch SECONDS --name TOP --launcher NAME --version V
                  --arch ARCH [--key HEX] --readme KIT.md --sections README.md
                  OUT.zip STAGE...

Each STAGE is an installed tree (cmake --install); their files go under TOP/,
with README.md (KIT.md filled in, with the sections of the project's README
a studio needs, told in the kit's own paths) and SHA256SUMS (every other
file of the kit, sha256sum's format).
"""
import argparse
import hashlib
import os
import re
import sys
import time
import zipfile

# The project README's sections a studio needs; the rest is about the
# repository.
README_SECTIONS = ("Shipping it", "The game-module contract", "Settings: `game.xml`",
                   "Where the game runs from", "The data folder's lifecycle: first start, refresh, access",
                   "Shipping an update to players",
                   "Shipping an update: from two build folders to a player's restarted game",
                   "Signed updates (opt-in)", "Exit codes")
# Paragraphs about the repository's own code and tests, left out.
REPOSITORY_PARAGRAPHS = ("The tests", "the tests", "**How this is proven.**", "All these rules live once")
# The repository's paths, said in the kit's.
KIT_PATHS = (
    ("`tools/build.sh` builds it\nnatively for the build machine (`build/native/bin/packer`) and for Windows\n"
     "beside each launcher (`build/win32/packer.exe`, `build/win64/packer.exe`).",
     "The kit holds it for Linux build\nmachines (`linux/packer`) and for Windows (`packer.exe`)."),
    ("build/native/bin/packer", "linux/packer"),
    ("so ship `include/` and `rules/` together", "so keep `sdk/include/` and `sdk/rules/` together"),
    (" (`rules/config_files.h`)", ""),
    ("build the launcher with the\n   printed key, `tools/build.sh -DLAUNCHER_UPDATE_PUBLIC_KEY=217af0a9...2786`\n"
     "   (64 hex digits; a malformed key stops the build), and ship it.",
     "have the kit built with the\n   printed key (see \"Signed updates with this kit\"), and ship its launcher."),
    (re.compile(r"(?<!sdk/)include/"), "sdk/include/"),
)
# What no kit README may name: the repository's folders (the kit's sdk/ and
# the helper's relative include of its rules aside).
KIT_FOLDERS = re.compile(r"sdk/include/|sdk/rules/|\.\./rules/")
REPOSITORY_FOLDERS = re.compile(r"\b(build|tools|tests|include|rules)/")


def readme_sections(path):
    kept, keep = [], False
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("## "):
                keep = line[3:].strip() in README_SECTIONS
            if keep:
                kept.append(line)
    paragraphs = "".join(kept).split("\n\n")
    text = "\n\n".join(p for p in paragraphs if not any(mark in p for mark in REPOSITORY_PARAGRAPHS))
    for old, new in KIT_PATHS:
        text = old.sub(new, text) if hasattr(old, "sub") else text.replace(old, new)
    return text


def kit_readme(template, sections, fields):
    with open(template, encoding="utf-8") as f:
        text = f.read()
    for name, value in fields.items():
        text = text.replace("@%s@" % name, value)
    text = text.replace("@SECTIONS@\n", readme_sections(sections))
    found = REPOSITORY_FOLDERS.search(KIT_FOLDERS.sub("", text))
    if found:
        raise ValueError("the kit's README names the repository's %s" % found.group(0))
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
    for option in ("--launcher", "--version", "--arch", "--readme", "--sections"):
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
    files["README.md"] = kit_readme(options.readme, options.sections, fields).encode("utf-8")
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
