#!/usr/bin/env python3
"""Packs one architecture's release kit into a zip whose bytes depend only
on its content: entries sorted, every time the source date, fixed
permissions, one compression level.

  make_release.py --epoch SECONDS --name TOP --readme README.md OUT.zip STAGE...

Each STAGE is an installed tree (cmake --install); their files go under TOP/,
with README.md (the shipping sections of the project's README) and
SHA256SUMS (every other file of the kit, sha256sum's format).
"""
import argparse
import hashlib
import os
import sys
import time
import zipfile

# The README's sections a studio needs; the rest is about this repository.
README_SECTIONS = ("Shipping it", "The game-module contract", "Settings: `game.xml`",
                   "Where the game runs from", "The data folder's lifecycle: first start, refresh, access",
                   "Shipping an update to players",
                   "Shipping an update: from two build folders to a player's restarted game",
                   "The release kit", "Exit codes")


def readme_sections(path):
    kept, keep = [], False
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("## "):
                keep = line[3:].strip() in README_SECTIONS
            if keep:
                kept.append(line)
    return "".join(kept)


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
    parser.add_argument("--readme", required=True)
    parser.add_argument("out")
    parser.add_argument("stages", nargs="+")
    options = parser.parse_args(argv[1:])

    files = collect(options.stages)
    files["README.md"] = readme_sections(options.readme).encode("utf-8")
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
