#!/usr/bin/env python3
"""What the update feed costs against `packer pack`, with the native packer.

- A 100 MB file with 1 % of its bytes changed in four places (overwritten in
  two, inserted in two): the bytes a player downloads from the feed (the new
  chunks, compressed, as stored) against the gzip-packed file `pack` ships.
- A player three versions behind: the chunks they need (those of the newest
  manifest their version's manifest lacks) against the union of the chunks
  each of the three publishes added: no chain, never more than the union.
- `publish` time against `pack` time for the same pair of releases.
- Publish throughput on a release of one incompressible file and one of one
  compressible file (--publish-mb, default 1024): MB/s on one core (taskset)
  and on every core, against `gzip -6` of the same bytes (targets: at least
  60 MB/s on one core for incompressible data, at most 1.5 times gzip -6 for
  compressible data).

  bench/feed.py [--packer build/native/bin/packer] [--size-mb 100] [--publish-mb 1024] [--seed 1]

Prints ratios; the timings are one run each, on whatever else the machine is
doing, so read them as orders of magnitude.
"""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

MB = 1000 * 1000
# 16 letters: noise with 4 bits a byte, which zlib halves, as game data often is.
LETTERS = bytes.maketrans(bytes(range(256)), bytes(0x61 + (i & 15) for i in range(256)))


def game_bytes(rng, size):
    """Blocks of compressible and of random bytes, as a packed level is."""
    out = bytearray()
    while len(out) < size:
        block = rng.randbytes(min(64 * 1024, size - len(out)))
        out += block.translate(LETTERS) if rng.random() < 0.6 else block
    return out


def change(rng, data, share, places):
    """`share` of the bytes changed in `places` places: overwritten, then inserted, in turn."""
    data = bytearray(data)
    each = int(len(data) * share / places)
    for i in range(places):
        # A place of its own in each quarter, different in every version.
        at = len(data) * i // places + rng.randrange(len(data) // places - each)
        noise = game_bytes(rng, each)
        data[at:at + (each if i % 2 == 0 else 0)] = noise
    return data


def write_release(folder, minor, data):
    (folder / "properties").mkdir(parents=True)
    (folder / "game.xml").write_text('<?xml version="1.0"?>\n<settings company="Bench" product="Feed" '
                                     'lang="en" update_semaphore="update.ready" />\n')
    (folder / "properties" / "version.xml").write_text('<version x="1" y="%d"/>\n' % minor)
    (folder / "game.dll").write_bytes(b"MZ bench game module")
    (folder / "data.pak").write_bytes(data)


def run(args, what):
    start = time.perf_counter()
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("%s failed: %s%s" % (what, done.stdout, done.stderr))
    return time.perf_counter() - start


def chunk_names(feed, minor):
    """{chunk path: stored bytes} of version 1.<minor>'s manifest."""
    text = (feed / "versions" / ("1.%d.manifest" % minor)).read_text()
    names = {}
    for digest in re.findall(r"^chunk \d+ ([0-9a-f]{64})$", text, re.M):
        path = feed / "chunks" / digest[:2] / digest
        names[digest] = path.stat().st_size
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--packer", default="build/native/bin/packer")
    parser.add_argument("--size-mb", type=int, default=100)
    parser.add_argument("--publish-mb", type=int, default=1024)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    packer = str(Path(args.packer).resolve())
    rng = random.Random(args.seed)
    with tempfile.TemporaryDirectory(prefix="feed-bench-") as scratch:
        work = Path(scratch)
        run([packer, "keygen", str(work / "k.secret"), str(work / "k.public")], "keygen")
        key = str(work / "k.secret")
        feed = work / "feed"
        versions = [game_bytes(rng, args.size_mb * MB)]
        for _ in range(3):
            versions.append(change(rng, versions[-1], 0.01, 4))
        for minor, data in enumerate(versions):
            write_release(work / ("r%d" % minor), minor, data)

        # pack of 1.0 -> 1.1 against publish of the same pair.
        pack_s = run([packer, "pack", str(work / "r0"), str(work / "r1"), str(work / "update")], "pack")
        packed = (work / "update" / "data.pak.zip").stat().st_size
        first_s = run([packer, "publish", str(work / "r0"), str(feed), "--key", key], "publish 1.0")
        second_s = run([packer, "publish", str(work / "r1"), str(feed), "--key", key], "publish 1.1")
        for minor in (2, 3):
            run([packer, "publish", str(work / ("r%d" % minor)), str(feed), "--key", key], "publish 1.%d" % minor)
        run([packer, "verify", str(feed), "--public-key", str(work / "k.public")], "verify")

        chunks = [chunk_names(feed, minor) for minor in range(4)]
        new = [{d: s for d, s in chunks[m].items() if all(d not in chunks[o] for o in range(m))} for m in range(4)]
        step = sum(new[1].values())
        behind = {d: s for d, s in chunks[3].items() if d not in chunks[0]}
        union = {}
        for m in (1, 2, 3):
            union.update(new[m])

        print("%d MB file, 1 %% changed in 4 places (2 overwritten, 2 inserted)" % args.size_mb)
        print("  pack 1.0 -> 1.1 ships data.pak.zip: %.2f MB (gzip)" % (packed / MB))
        print("  feed 1.0 -> 1.1 downloads: %d new chunks, %.2f MB stored = %.2f %% of pack's (target <= 5 %%)"
              % (len(new[1]), step / MB, 100.0 * step / packed))
        print("a player three versions behind (1.0 -> 1.3)")
        print("  needs %d chunks, %.2f MB; the union of the three publishes' new chunks: %d, %.2f MB (ratio %.3f)"
              % (len(behind), sum(behind.values()) / MB, len(union), sum(union.values()) / MB,
                 sum(behind.values()) / max(1, sum(union.values()))))
        print("  against three packed updates in a chain: %.2f MB" % (3 * packed / MB))
        print("time (one run each)")
        print("  pack 1.0 -> 1.1: %.2f s; publish 1.0 into an empty feed: %.2f s (%.2f x pack); "
              "publish 1.1 after it: %.2f s (%.2f x pack)" % (pack_s, first_s, first_s / pack_s, second_s,
                                                              second_s / pack_s))
        shutil.rmtree(work, ignore_errors=True)
    publish_throughput(packer, rng, args.publish_mb)


def publish_throughput(packer, rng, size_mb):
    """MB/s of a first publish, on one core and on all, against gzip -6."""
    cores = len(os.sched_getaffinity(0))
    print("publish of a %d MB release into an empty feed (one run each; %d cores here)" % (size_mb, cores))
    for kind in ("incompressible", "compressible"):
        with tempfile.TemporaryDirectory(prefix="feed-bench-") as scratch:
            work = Path(scratch)
            run([packer, "keygen", str(work / "k.secret"), str(work / "k.public")], "keygen")
            write_release(work / "r", 0, b"")
            with open(work / "r" / "data.pak", "wb") as out:
                for at in range(0, size_mb * MB, 64 * MB):
                    piece = rng.randbytes(min(64 * MB, size_mb * MB - at))
                    out.write(piece.translate(LETTERS) if kind == "compressible" else piece)
            start = time.perf_counter()
            with open(work / "r" / "data.pak", "rb") as source:
                subprocess.run(["gzip", "-6", "-c"], stdin=source, stdout=subprocess.DEVNULL, check=True)
            gzip_s = time.perf_counter() - start
            one_s = run(["taskset", "-c", "0", packer, "publish", str(work / "r"), str(work / "one"), "--key",
                         str(work / "k.secret")], "publish on one core")
            shutil.rmtree(work / "one")
            all_s = run([packer, "publish", str(work / "r"), str(work / "all"), "--key", str(work / "k.secret")],
                        "publish")
            print("  %s: one core %.0f MB/s (%.2f x gzip -6), %d cores %.0f MB/s (%.2f x gzip -6); gzip -6 %.0f MB/s"
                  % (kind, size_mb / one_s, one_s / gzip_s, cores, size_mb / all_s, all_s / gzip_s, size_mb / gzip_s))


if __name__ == "__main__":
    main()
