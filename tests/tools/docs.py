#!/usr/bin/env python3
"""The documentation as a reader follows it.

  docs.py links SOURCE          every relative link of README.md and docs/
                                leads to a file, and its #part to a heading there
  docs.py kit SOURCE SCRATCH    the release kit's README builds from its
                                template and pages as tools/release.sh builds it
"""
import glob
import os
import re
import subprocess
import sys
import tempfile
import zipfile


def links(source):
    sys.path.insert(0, os.path.join(source, "tools"))
    from make_release import LINK, anchor, headings
    broken = []
    for page in [os.path.join(source, "README.md")] + sorted(glob.glob(os.path.join(source, "docs", "*.md"))):
        with open(page, encoding="utf-8") as f:
            text = f.read()
        for link in LINK.finditer(text):
            target, _, part = link.group(1).partition("#")
            if re.match(r"[a-z]+:", target):
                continue
            linked = os.path.normpath(os.path.join(os.path.dirname(page), target)) if target else page
            if not os.path.isfile(linked):
                broken.append("%s: %s: no such file" % (os.path.relpath(page, source), link.group(1)))
                continue
            with open(linked, encoding="utf-8") as f:
                if part and part not in [anchor(title) for title in headings(f.read())]:
                    broken.append("%s: %s: no such heading" % (os.path.relpath(page, source), link.group(1)))
    print("\n".join(broken) or "every link leads somewhere")
    return 1 if broken else 0


def kit(source, scratch):
    os.makedirs(scratch, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=scratch) as work:
        stage = os.path.join(work, "stage")
        os.mkdir(stage)
        out = os.path.join(work, "kit.zip")
        made = subprocess.run([sys.executable, os.path.join(source, "tools", "make_release.py"),
                               "--epoch", "0", "--name", "kit", "--launcher", "rocket", "--version", "1.0",
                               "--arch", "win64", "--readme", os.path.join(source, "tools", "kit-readme.md"),
                               out, stage])
        if made.returncode != 0:
            return 1
        with zipfile.ZipFile(out) as archive:
            text = archive.read("kit/README.md").decode("utf-8")
    left = re.findall(r"@[A-Z]+[^@\n]*@", text)
    print("left unfilled: %s" % " ".join(left) if left else "the kit's README is whole")
    return 1 if left else 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["links"] and len(sys.argv) == 3:
        sys.exit(links(sys.argv[2]))
    if sys.argv[1:2] == ["kit"] and len(sys.argv) == 4:
        sys.exit(kit(sys.argv[2], sys.argv[3]))
    sys.exit(__doc__)
