#!/usr/bin/env python3
"""Benchmarks of launcher.exe under Wine against baselines measured in the
same run: time to game, first-start copy, update install, peak memory, and
a signed update installed by a keyed launcher against the keyless one.

Run through bench/run.sh, which installs, builds, starts a persistent
wineserver and a virtual display, and sets WINEPREFIX. Every Windows program
is started by benchdrv.exe, which times it from inside Wine (CreateProcess to
exit, and CreateProcess to RunGame entry), so Wine's unix start-up of the
driver itself is not counted. Launcher and baseline runs alternate
(A B A B ...); the table gives medians, their spread, and ratios of medians.
"""

import argparse
import gzip
import json
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

MB = 1000 * 1000
COPY_FILES, COPY_BYTES = 2000, 170 * MB
UPDATE_FILES, UPDATE_BYTES = 200, 170 * MB
MARKER = "update.ready"
PRODUCT, LANG = "Bench Game", "en"


def winpath(path):
    return "Z:" + str(path).replace("/", "\\")


class Bench:
    def __init__(self, build, arch, reps, seed, keyed=None, reference=None):
        self.build = Path(build)
        self.arch = arch
        self.reps = reps
        self.seed = seed
        self.bin = self.build / "bench" / arch
        self.work = self.build / "bench" / ("work-" + arch)
        self.launcher = self.build / arch / "launcher.exe"
        # For the signed case: (launcher built with the bench's public key, native packer, secret key file).
        self.keyed = keyed
        # A launcher of another build (an earlier commit, say), timed beside this one in the copy and update cases:
        # how two builds compare on this machine, whatever its disk and processor make of the baselines.
        self.reference = reference
        self.prefix = Path(os.environ["WINEPREFIX"])
        self.program_data = self.prefix / "drive_c" / "ProgramData"
        self.home = self.work / "home"
        self.tag = "Bench%d" % os.getpid()
        self.companies = []

    # --- running programs -------------------------------------------------

    def reset_home(self):
        shutil.rmtree(self.home, ignore_errors=True)
        (self.home / ".local" / "share").mkdir(parents=True)

    def drive(self, cwd, exe, args="", memory=False):
        """Runs `exe` in `cwd` through benchdrv.exe; returns its figures (ms, KiB)."""
        stamp = self.work / "stamp"
        signal = self.work / "signal"
        release = self.work / "release"
        for f in (stamp, signal, Path(str(signal) + ".measured"), release):
            f.unlink(missing_ok=True)
        # What the bench wrote to prepare this run goes to disk first: else the
        # first program to flush a file pays for writing out the bench's own
        # fresh files, and only the launcher flushes right after such a copy.
        os.sync()
        env = dict(os.environ, HOME=str(self.home), BENCH_STAMP=winpath(stamp))
        if memory:
            env.update(BENCH_SIGNAL=winpath(signal), BENCH_RELEASE=winpath(release))
        command = '"%s"%s' % (winpath(exe), " " + args if args else "")
        # Output through files: Wine's services, started by the first program
        # of a fresh wineserver, inherit its handles and would hold a pipe open.
        out_file, err_file = self.work / "drv.out", self.work / "drv.err"
        with open(out_file, "w") as out_handle, open(err_file, "w") as err_handle:
            proc = subprocess.Popen([wine_loader(), str(self.bin / "benchdrv.exe"), winpath(cwd), command], env=env,
                                    stdin=subprocess.DEVNULL, stdout=out_handle, stderr=err_handle)
        hwm = None
        if memory:
            measured = Path(str(signal) + ".measured")
            deadline = time.monotonic() + 60
            while not measured.exists() and proc.poll() is None and time.monotonic() < deadline:
                time.sleep(0.005)
            hwm = proc_hwm_kib(winpath(exe))
            release.touch()
        proc.wait(timeout=600)
        out, err = out_file.read_text(), err_file.read_text()
        fields = dict(kv.split("=", 1) for kv in out.split())
        if "wall_ms" not in fields:
            raise RuntimeError("benchdrv failed for %s: %s %s" % (exe, out, err))
        result = {k: float(v) for k, v in fields.items()}
        if hwm is not None:
            result["hwm_kib"] = hwm
        return result

    # --- folders ----------------------------------------------------------

    def company(self, name):
        company = "%s %s" % (self.tag, name)
        self.companies.append(company)
        return company

    def data_folder(self, company):
        return self.program_data / company / PRODUCT / LANG

    def make_install(self, folder, settings, game="game.dll", launcher=None):
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy2(launcher or self.launcher, folder / "launcher.exe")
        shutil.copy2(self.bin / game, folder / "game.dll")
        shutil.copy2(self.bin / "loader.exe", folder / "loader.exe")
        write_settings(folder, settings)
        (folder / "properties").mkdir(exist_ok=True)
        (folder / "properties" / "version.xml").write_text('<version x="1" y="0"/>\n')

    def provision(self, company):
        """A data folder as a first start leaves it: the game, its settings, a save."""
        data = self.data_folder(company)
        shutil.rmtree(data, ignore_errors=True)
        (data / "properties").mkdir(parents=True)
        (data / "saves").mkdir()
        (data / "saves" / "slot1.sav").write_bytes(b"save")
        shutil.copy2(self.bin / "game.dll", data / "game.dll")
        write_settings(data, app_settings(company))
        (data / "properties" / "version.xml").write_text('<version x="1" y="0"/>\n')
        return data

    def cleanup(self):
        for company in self.companies:
            shutil.rmtree(self.program_data / company, ignore_errors=True)
        shutil.rmtree(self.work, ignore_errors=True)

    # --- cases ------------------------------------------------------------

    def time_to_game(self):
        wf = self.work / "ttg-wf"
        ad = self.work / "ttg-ad"
        gui = self.work / "ttg-gui"
        company = self.company("ttg")
        self.make_install(wf, {"use_app_data_folder": "false"})
        self.make_install(ad, app_settings(company))
        self.make_install(gui, {"use_app_data_folder": "false"}, game="game_gui.dll")
        self.provision(company)
        self.reset_home()
        runs = {k: [] for k in ("wf", "wf_base", "ad", "ad_base", "gui", "gui_base")}
        # (key, launcher's folder, loader's folder): the loader loads game.dll from its folder.
        triples = (("wf", wf, wf), ("ad", ad, wf), ("gui", gui, gui))
        for key, folder, base in triples:  # warm-up, not counted
            self.drive(folder, folder / "launcher.exe")
            self.drive(base, base / "loader.exe")
        for _ in range(2 * self.reps + 1):
            for key, folder, base in triples:
                runs[key].append(self.drive(folder, folder / "launcher.exe"))
                runs[key + "_base"].append(self.drive(base, base / "loader.exe"))
        for key in runs:
            bad = [r for r in runs[key] if r["exit"] != 0]
            if bad:
                raise RuntimeError("time to game: %s exited %s" % (key, bad[0]["exit"]))
        return runs

    def memory(self):
        wf = self.work / "ttg-wf"
        ad = self.work / "ttg-ad"
        company = self.company("mem")
        write_settings(ad, app_settings(company))
        self.provision(company)
        gui = self.work / "ttg-gui"
        runs = {"ad": [], "wf": [], "base": [], "gui": [], "gui_base": []}
        for _ in range(self.reps):
            runs["ad"].append(self.drive(ad, ad / "launcher.exe", memory=True))
            runs["base"].append(self.drive(wf, wf / "loader.exe", memory=True))
            runs["wf"].append(self.drive(wf, wf / "launcher.exe", memory=True))
            runs["gui"].append(self.drive(gui, gui / "launcher.exe", memory=True))
            runs["gui_base"].append(self.drive(gui, gui / "loader.exe", memory=True))
        return runs

    def first_start_copy(self, scale):
        install = self.work / "copy-install"
        shutil.rmtree(install, ignore_errors=True)
        files, size = generate_install(install, self.seed, scale)
        self.make_install(install, app_settings("unused"))
        (install / "loader.exe").unlink()
        target = self.work / "copy-target"
        runs = {"launcher": [], "reference": [], "copywalk_flush": [], "copywalk": [], "cp": [], "shellcopy": []}
        copied_ok = True
        for rep in range(self.reps):
            # Each goes first in every other round: the run after the shell
            # copy of the round before starts its window slower.
            pair = (("launcher", self.launcher), ("reference", self.reference))
            for key, launcher in (pair if rep % 2 == 0 else pair[::-1]):
                if launcher is None:
                    continue
                shutil.copy2(launcher, install / "launcher.exe")
                company = self.company("copy%s-%s%d" % (scale_name(scale), key[0], rep))
                write_settings(install, app_settings(company))
                # What the launcher copies: everything in the install folder but itself.
                files, size = tree_stats(install, skip=install / "launcher.exe")
                self.reset_home()
                r = self.drive(install, install / "launcher.exe")
                got_files, got_size = tree_stats(self.data_folder(company))
                copied_ok = copied_ok and (got_files, got_size) == (files, size)
                runs[key].append(r)
                shutil.rmtree(self.program_data / company, ignore_errors=True)

            for key, flag in (("copywalk_flush", " --flush"), ("copywalk", "")):
                shutil.rmtree(target, ignore_errors=True)
                r = self.drive(install, self.bin / "copywalk.exe", '"%s" "%s"%s' % (winpath(install), winpath(target), flag))
                if r["exit"] != 0 or tree_stats(target) != (files, size):
                    raise RuntimeError("first-start copy: copywalk%s failed (exit %d)" % (flag, r["exit"]))
                runs[key].append(r)
            shutil.rmtree(target, ignore_errors=True)
            os.sync()
            t0 = time.perf_counter()
            subprocess.run(["cp", "-r", str(install), str(target)], check=True)
            runs["cp"].append({"wall_ms": 1000 * (time.perf_counter() - t0)})
            shutil.rmtree(target, ignore_errors=True)
            # Context: Wine's shell copy of the same entries (SHFileOperationA).
            runs["shellcopy"].append(self.drive(install, self.bin / "shellcopy.exe",
                                                '"%s" "%s"' % (winpath(install), winpath(target))))
            shutil.rmtree(target, ignore_errors=True)
        shutil.rmtree(install, ignore_errors=True)
        return {"files": files, "bytes": size, "complete": copied_ok, "runs": runs}

    def update_install(self, scale):
        packed = self.work / "update-packed"
        shutil.rmtree(packed, ignore_errors=True)
        files, size, expected = generate_update(packed, self.seed, scale)
        (packed / MARKER).write_bytes(b"")
        install = self.work / "update-install"
        company = self.company("update%s" % scale_name(scale))
        self.make_install(install, app_settings(company))
        installs = [("launcher", install)]
        if self.reference is not None:
            installs.append(("reference", self.work / "update-install-reference"))
            self.make_install(installs[-1][1], app_settings(company), launcher=self.reference)
        out = self.work / "update-out"
        gzip_script = "\n".join(
            'mkdir -p "%s"; gzip -dc "%s" > "%s"' % (
                (out / rel).parent, packed / (rel + ".zip"), out / rel) for rel in sorted(expected))
        # The same update already unpacked: what the move and the disposal cost alone.
        plain = self.work / "update-plain"
        shutil.rmtree(plain, ignore_errors=True)
        for rel in expected:
            (plain / rel).parent.mkdir(parents=True, exist_ok=True)
            (plain / rel).write_bytes(gzip.decompress((packed / (rel + ".zip")).read_bytes()))
        (plain / MARKER).write_bytes(b"")
        runs = {"launcher": [], "reference": [], "gzloop": [], "gzip": [], "gzloop_flush": [], "launcher_move": []}
        installed_ok = True
        for rep in range(self.reps):
            for key, folder in (installs if rep % 2 == 0 else installs[::-1]):
                data = self.provision(company)
                shutil.copytree(packed, data / "game")
                self.reset_home()
                r = self.drive(folder, folder / "launcher.exe")
                installed_ok = installed_ok and not (data / "game").exists() and all(
                    (data / rel).is_file() and (data / rel).stat().st_size == n for rel, n in expected.items())
                runs[key].append(r)
                shutil.rmtree(data, ignore_errors=True)
                self.reset_home()

            shutil.rmtree(out, ignore_errors=True)
            runs["gzloop"].append(self.drive(packed, self.bin / "gzloop.exe",
                                             '"%s" "%s"' % (winpath(packed), winpath(out))))
            shutil.rmtree(out, ignore_errors=True)
            os.sync()
            t0 = time.perf_counter()
            subprocess.run(["bash", "-e", "-c", gzip_script], check=True)
            runs["gzip"].append({"wall_ms": 1000 * (time.perf_counter() - t0)})
            shutil.rmtree(out, ignore_errors=True)

            # Phases: the unpack loop forcing each file to disk, and the launcher given nothing to unpack.
            runs["gzloop_flush"].append(self.drive(packed, self.bin / "gzloop.exe",
                                                   '"%s" "%s" --flush' % (winpath(packed), winpath(out))))
            shutil.rmtree(out, ignore_errors=True)
            data = self.provision(company)
            shutil.copytree(plain, data / "game")
            self.reset_home()
            runs["launcher_move"].append(self.drive(install, install / "launcher.exe"))
            shutil.rmtree(data, ignore_errors=True)
            self.reset_home()
        shutil.rmtree(plain, ignore_errors=True)
        shutil.rmtree(packed, ignore_errors=True)
        for _, folder in installs:
            shutil.rmtree(folder, ignore_errors=True)
        return {"files": files, "bytes": size, "complete": installed_ok, "runs": runs}

    def signed_update(self, scale):
        """The same update installed by a launcher built with a key (signed) and by the keyless one (unsigned)."""
        keyed_launcher, packer, secret_key = self.keyed
        company = self.company("signed%s" % scale_name(scale))
        settings = app_settings(company)
        previous, new = self.work / "signed-1.0", self.work / "signed-1.1"
        expected = generate_releases(previous, new, settings, self.bin / "game.dll", self.seed, scale)
        # Recorded, as a studio ships them: the keyed launcher then runs the
        # updated data folder's game, not the installation's.
        for release in (previous, new):
            subprocess.run([str(packer), "record", str(release), "--key", str(secret_key)], check=True,
                           stdout=subprocess.DEVNULL)
        expected["properties/release.signed"] = (new / "properties" / "release.signed").stat().st_size
        signed, unsigned = self.work / "signed-update", self.work / "unsigned-update"
        for path in (signed, unsigned):
            shutil.rmtree(path, ignore_errors=True)
        Path(str(signed) + ".manifest").unlink(missing_ok=True)
        subprocess.run([str(packer), "pack", str(previous), str(new), str(signed), "--sign", str(secret_key)],
                       check=True, stdout=subprocess.DEVNULL)
        shutil.rmtree(previous)
        shutil.rmtree(new)
        # The same staged files, with the marker a keyless studio writes: empty.
        shutil.copytree(signed, unsigned)
        (unsigned / MARKER).write_bytes(b"")
        staged_files, staged_bytes = tree_stats(signed)
        keyed_install, keyless_install = self.work / "signed-keyed", self.work / "signed-keyless"
        self.make_install(keyed_install, settings, launcher=keyed_launcher)
        self.make_install(keyless_install, settings)
        runs = {"keyed": [], "keyless": []}
        installed_ok = True
        for _ in range(self.reps):
            for key, install, update in (("keyed", keyed_install, signed), ("keyless", keyless_install, unsigned)):
                data = self.provision(company)
                shutil.copytree(update, data / "game")
                self.reset_home()
                r = self.drive(install, install / "launcher.exe")
                # A refused update goes to the Recycle Bin and leaves version 1.0: much faster, and wrong.
                installed_ok = installed_ok and r["exit"] == 0 and not (data / "game").exists() and \
                    'y="1"' in (data / "properties" / "version.xml").read_text() and all(
                        (data / rel).is_file() and (data / rel).stat().st_size == n for rel, n in expected.items())
                runs[key].append(r)
                shutil.rmtree(data, ignore_errors=True)
                self.reset_home()
        for path in (signed, unsigned, keyed_install, keyless_install):
            shutil.rmtree(path, ignore_errors=True)
        Path(str(signed) + ".manifest").unlink(missing_ok=True)
        return {"files": len(expected), "bytes": sum(expected.values()), "staged_files": staged_files,
                "staged_bytes": staged_bytes, "complete": installed_ok, "runs": runs}

    def keyed_start(self):
        """Starts of a played data folder holding a 64 MiB game.dll and 20 DLLs of 1 MiB: a keyed launcher, which
        checks every module against the signed record, against the keyless one; and the publish of that release."""
        keyed_launcher, packer, secret_key = self.keyed
        company = self.company("modules")
        release, feed = self.work / "modules-release", self.work / "modules-feed"
        shutil.rmtree(release, ignore_errors=True)
        self.make_install(release, app_settings(company))
        rng = random.Random(self.seed)
        with open(release / "game.dll", "ab") as game:  # an overlay: the module loads as before
            game.write(rng.randbytes(64 * 1024 * 1024 - (release / "game.dll").stat().st_size))
        for i in range(20):
            (release / ("dep%02d.dll" % i)).write_bytes(rng.randbytes(1024 * 1024))
        subprocess.run([str(packer), "record", str(release), "--key", str(secret_key)], check=True,
                       stdout=subprocess.DEVNULL)
        module_bytes = sum(p.stat().st_size for p in release.glob("*.dll"))
        keyed_install = self.work / "modules-keyed"
        shutil.rmtree(keyed_install, ignore_errors=True)
        shutil.copytree(release, keyed_install)
        shutil.copy2(keyed_launcher, keyed_install / "launcher.exe")
        data = self.data_folder(company)
        shutil.rmtree(data, ignore_errors=True)
        shutil.copytree(release, data, ignore=shutil.ignore_patterns("launcher.exe", "loader.exe"))
        (data / "saves").mkdir()
        (data / "saves" / "slot1.sav").write_bytes(b"save")
        runs = {"keyed": [], "keyless": [], "publish_s": []}
        ran = True
        for _ in range(self.reps):
            for key, install in (("keyed", keyed_install), ("keyless", release)):
                self.reset_home()
                r = self.drive(install, install / "launcher.exe")
                ran = ran and r["exit"] == 0 and r.get("game_ms", -1) >= 0
                runs[key].append(r)
            shutil.rmtree(feed, ignore_errors=True)
            started = time.monotonic()
            subprocess.run([str(packer), "publish", str(release), str(feed), "--key", str(secret_key)], check=True,
                           stdout=subprocess.DEVNULL)
            runs["publish_s"].append(time.monotonic() - started)
        # Still the data folder's game: a check that failed would have run the installation's.
        checked = not (data / "game").exists() and (data / "properties" / "release.signed").is_file()
        for path in (release, keyed_install, feed, data):
            shutil.rmtree(path, ignore_errors=True)
        return {"module_bytes": module_bytes, "complete": ran and checked, "runs": runs}


# --- data ---------------------------------------------------------------------


def app_settings(company):
    return {"company": company, "product": PRODUCT, "lang": LANG, "update_semaphore": MARKER}


def write_settings(folder, settings):
    attrs = " ".join('%s="%s"' % kv for kv in settings.items())
    (folder / "game.xml").write_text('<?xml version="1.0"?>\n<settings %s />\n' % attrs)


def scale_name(scale):
    return {0.25: "q", 0.5: "h", 1.0: "f"}.get(scale, str(scale))


def sizes_for(rng, count, total):
    """File sizes with a realistic long tail (log-uniform 200 B .. 20 MB), rescaled to `total`."""
    raw = [2 ** rng.uniform(7.6, 24.2) for _ in range(count)]
    factor = total / sum(raw)
    return [max(1, int(r * factor)) for r in raw]


def folders_for(rng, count):
    """A nested folder tree: every folder hangs under an earlier one, up to four levels deep."""
    folders = [""]
    for i in range(count):
        parent = rng.choice(folders)
        if parent.count("/") >= 3:
            parent = parent.rsplit("/", 1)[0]
        folders.append((parent + "/" if parent else "") + "%s%02d" % (rng.choice(["data", "levels", "sound", "gfx", "text"]), i))
    return folders


def content(rng, size, compressible, vocabulary):
    if not compressible:
        return rng.randbytes(size)
    parts, left = [], size
    while left > 0:
        n = min(left, rng.randint(64, 4096))
        start = rng.randrange(0, len(vocabulary) - n)
        parts.append(vocabulary[start:start + n])
        left -= n
    return b"".join(parts)


def make_vocabulary(rng):
    words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(400)]
    return " ".join(rng.choice(words) for _ in range(20000)).encode()[:65536] * 2


def generate_install(root, seed, scale):
    rng = random.Random("install-%d-%s" % (seed, scale))
    count = round(COPY_FILES * scale)
    folders = folders_for(rng, max(4, count // 15))
    vocabulary = make_vocabulary(rng)
    for i, size in enumerate(sizes_for(rng, count, COPY_BYTES * scale)):
        folder = root / rng.choice(folders)
        folder.mkdir(parents=True, exist_ok=True)
        ext = rng.choice(["dat", "png", "ogg", "txt", "bin", "lua", "xml"])
        (folder / ("file%05d.%s" % (i, ext))).write_bytes(content(rng, size, rng.random() < 0.5, vocabulary))
    return tree_stats(root)


def update_files(seed, scale):
    """The files an update brings: (relative path, bytes), half of them compressible."""
    rng = random.Random("update-%d-%s" % (seed, scale))
    count = round(UPDATE_FILES * scale)
    folders = folders_for(rng, max(3, count // 12))
    vocabulary = make_vocabulary(rng)
    for i, size in enumerate(sizes_for(rng, count, UPDATE_BYTES * scale)):
        rel_folder = rng.choice(folders)
        rel = (rel_folder + "/" if rel_folder else "") + "file%04d.%s" % (i, rng.choice(["dat", "png", "ogg", "pak"]))
        yield rel, content(rng, size, rng.random() < 0.5, vocabulary)


def generate_update(root, seed, scale):
    """Packed (gzip level 6) files; returns count, unpacked bytes and {relative path: unpacked size}."""
    expected = {}
    for rel, data in update_files(seed, scale):
        (root / rel).parent.mkdir(parents=True, exist_ok=True)
        (root / (rel + ".zip")).write_bytes(gzip.compress(data, compresslevel=6, mtime=0))
        expected[rel] = len(data)
    return len(expected), sum(expected.values()), expected


def generate_releases(previous, new, settings, game, seed, scale):
    """Two releases as a studio packs them: 1.0 with only the game, 1.1 with the update's files too
    (unpacked). Returns {relative path: size} of the update's files."""
    for folder, minor in ((previous, 0), (new, 1)):
        shutil.rmtree(folder, ignore_errors=True)
        (folder / "properties").mkdir(parents=True)
        shutil.copy2(game, folder / "game.dll")
        write_settings(folder, settings)
        (folder / "properties" / "version.xml").write_text('<version x="1" y="%d"/>\n' % minor)
    expected = {}
    for rel, data in update_files(seed, scale):
        (new / rel).parent.mkdir(parents=True, exist_ok=True)
        (new / rel).write_bytes(data)
        expected[rel] = len(data)
    return expected


def tree_stats(root, skip=None):
    files = size = 0
    for dirpath, _, names in os.walk(root):
        for name in names:
            path = Path(dirpath) / name
            if path == skip:
                continue
            files += 1
            size += path.stat().st_size
    return files, size


def proc_hwm_kib(exe_winpath):
    """VmHWM of the unix process whose command line starts with the Windows program's path."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            argv0 = Path("/proc", pid, "cmdline").read_bytes().split(b"\0")[0].decode(errors="replace")
            if argv0.strip('"').lower() != exe_winpath.lower():
                continue
            for line in Path("/proc", pid, "status").read_text().splitlines():
                if line.startswith("VmHWM:"):
                    return float(line.split()[1])
        except OSError:
            continue
    return None


# --- report -------------------------------------------------------------------


def values(runs, key="wall_ms"):
    return [r[key] for r in runs if r.get(key, -1) >= 0]


def med(xs):
    return statistics.median(xs) if xs else float("nan")


def spread(xs):
    """Half the min-max range, as a percentage of the median."""
    if not xs:
        return float("nan")
    return 50.0 * (max(xs) - min(xs)) / med(xs)


def fmt_ms(xs):
    m = med(xs)
    text = "%.0f ms" % m if m >= 100 else "%.1f ms" % m
    return "%s ±%.0f%% (n=%d)" % (text, spread(xs), len(xs))


def fmt_kib(xs):
    return "%.2f MiB ±%.0f%% (n=%d)" % (med(xs) / 1024, spread(xs), len(xs))


def report(results, machine):
    lines = ["| Case | Launcher | Baseline | Ratio launcher/baseline | Target | Met |", "|---|---|---|---|---|---|"]

    def row(case, a, b, ratio, target, met):
        lines.append("| %s | %s | %s | %s | %s | %s |" % (case, a, b, ratio, target, met))

    def reference_row(what, a, runs, baseline, label):
        """This build against the reference build, which is also given against the case's baseline."""
        ref = values(runs.get("reference", []), "game_ms")
        if ref:
            row(what + ", against the reference build", fmt_ms(a), "reference launcher: %s (%.2f of the %s)" % (
                fmt_ms(ref), med(ref) / med(baseline), label), "%.2f" % (med(a) / med(ref)), "(context)", "")

    ttg = results.get("ttg")
    if ttg:
        for key, mode in (("wf", "working-folder mode"), ("ad", "application-data mode, provisioned"),
                          ("gui", "working-folder mode, windowed game (imports user32)")):
            for figure, label in (("wall_ms", "start to exit"), ("game_ms", "start to RunGame entry")):
                a, b = values(ttg[key], figure), values(ttg[key + "_base"], figure)
                r = med(a) / med(b)
                target = "≤ 1.15" if figure == "wall_ms" else "(information)"
                met = ("yes" if r <= 1.15 else "**no**") if figure == "wall_ms" else ""
                row("time to game, %s, %s" % (mode, label), fmt_ms(a), "loader: " + fmt_ms(b), "%.2f" % r, target, met)

    for scale, copy in sorted(results.get("copy", {}).items()):
        runs = copy["runs"]
        a = values(runs["launcher"], "game_ms")
        what = "first-start copy ×%s (%d files, %.0f MB)%s" % (
            scale, copy["files"], copy["bytes"] / MB, "" if copy["complete"] else " — copy incomplete: pass not built?")
        # The launcher flushes every file it copies; so does this baseline.
        flush = values(runs["copywalk_flush"])
        r = med(a) / med(flush)
        row(what, fmt_ms(a), "CopyFileA walk flushing each file: " + fmt_ms(flush), "%.2f" % r, "≤ 1.0",
            "yes" if r <= 1.0 else "**no**")
        for base, label in (("copywalk", "CopyFileA walk"), ("shellcopy", "shell copy (SHFileOperationA)"),
                            ("cp", "cp -r")):
            b = values(runs[base])
            row(what, fmt_ms(a), "%s: %s" % (label, fmt_ms(b)), "%.2f" % (med(a) / med(b)), "(context)", "")
        reference_row(what, a, runs, flush, "CopyFileA walk flushing each file")
        row(what + ", phases", "CopyFileA walk flushing each file: " + fmt_ms(flush),
            "CopyFileA walk: " + fmt_ms(values(runs["copywalk"])),
            "%.2f" % (med(flush) / med(values(runs["copywalk"]))), "(what the flushes cost)", "")

    for scale, upd in sorted(results.get("update", {}).items()):
        runs = upd["runs"]
        a = values(runs["launcher"], "game_ms")
        what = "update install ×%s (%d files, %.0f MB unpacked)%s" % (
            scale, upd["files"], upd["bytes"] / MB, "" if upd["complete"] else " — update not installed: pass not built?")
        for base, label in (("gzloop", "gzread loop"), ("gzip", "gzip -dc")):
            b = values(runs[base])
            r = med(a) / med(b)
            if base == "gzloop":
                target, met = "≤ 1.11 (throughput ≥ 0.9×)", "yes" if r <= 1 / 0.9 else "**no**"
            else:
                target, met = "report", ""
            row(what, fmt_ms(a), "%s: %s" % (label, fmt_ms(b)), "%.2f" % r, target, met)
        if runs.get("gzloop_flush"):
            move = values(runs["launcher_move"], "game_ms")
            flush = values(runs["gzloop_flush"])
            r = med(a) / med(flush)
            row(what, fmt_ms(a), "gzread loop with FlushFileBuffers per file: " + fmt_ms(flush), "%.2f" % r,
                "≤ 1.15", "yes" if r <= 1.15 else "**no**")
            reference_row(what, a, runs, flush, "gzread loop with FlushFileBuffers per file")
            row(what + ", phases", "move and disposal alone (nothing packed): " + fmt_ms(move),
                "gzread loop with FlushFileBuffers per file: " + fmt_ms(flush),
                "%.2f" % (med(move) / med(flush)), "(diagnosis)", "")

    for scale, signed in sorted(results.get("signed", {}).items()):
        runs = signed["runs"]
        a, b = values(runs["keyed"], "game_ms"), values(runs["keyless"], "game_ms")
        r = med(a) / med(b)
        what = "signed update install ×%s (%d files, %.0f MB unpacked, %.0f MB staged)%s" % (
            scale, signed["files"], signed["bytes"] / MB, signed["staged_bytes"] / MB,
            "" if signed["complete"] else " — update not installed: key or signature not taken?")
        row(what, "keyed launcher, signed: " + fmt_ms(a), "keyless launcher, same update unsigned: " + fmt_ms(b),
            "%.2f (%+.0f ms)" % (r, med(a) - med(b)), "≤ 1.15", "yes" if r <= 1.15 else "**no**")

    modules = results.get("modules")
    if modules:
        runs, mib = modules["runs"], modules["module_bytes"] / (1024 * 1024)
        a, b = values(runs["keyed"], "game_ms"), values(runs["keyless"], "game_ms")
        what = "start with a 64 MiB game.dll and 20 DLLs (%.0f MiB of modules)%s" % (
            mib, "" if modules["complete"] else " — the game did not run")
        row(what, "keyed launcher, every module checked: " + fmt_ms(a), "keyless launcher: " + fmt_ms(b),
            "%.2f (%.2f ms per MiB)" % (med(a) / med(b), (med(a) - med(b)) / mib), "(information)", "")
        publish = runs["publish_s"]
        row("publish of that release (native packer)", "%.1f s (%.0f MiB/s)" % (med(publish), mib / med(publish)),
            "", "", "(information)", "")

    mem = results.get("memory")
    if mem:
        for key, mode, base in (("ad", "application-data mode", "base"), ("wf", "working-folder mode", "base"),
                                ("gui", "working-folder mode, windowed game", "gui_base")):
            a, b = values(mem[key], "peak_kib"), values(mem[base], "peak_kib")
            diff = (med(a) - med(b)) / 1024
            row("peak memory in RunGame, %s" % mode, fmt_kib(a), "loader: " + fmt_kib(b),
                "%.2f (+%.2f MiB)" % (med(a) / med(b), diff), "≤ +4 MiB", "yes" if diff <= 4 else "**no**")
        hwm_a, hwm_b = values(mem["ad"], "hwm_kib"), values(mem["base"], "hwm_kib")
        if hwm_a and hwm_b:
            lines.append("")
            lines.append("Cross-check, /proc VmHWM: launcher %.2f MiB, loader %.2f MiB." % (med(hwm_a) / 1024, med(hwm_b) / 1024))

    growth = ["| Work | Scale | Files | MB | Launcher MB/s | Launcher files/s | Baseline MB/s (walk or gzread / cp or gzip) |",
              "|---|---|---|---|---|---|---|"]
    for name, key, bases in (("first-start copy", "copy", ("copywalk", "cp")), ("update install", "update", ("gzloop", "gzip"))):
        for scale, item in sorted(results.get(key, {}).items()):
            seconds = med(values(item["runs"]["launcher"], "game_ms")) / 1000
            base_rates = [item["bytes"] / MB / (med(values(item["runs"][b])) / 1000) for b in bases]
            growth.append("| %s | %s | %d | %.0f | %.0f | %.0f | %.0f / %.0f |" % (
                name, scale, item["files"], item["bytes"] / MB, item["bytes"] / MB / seconds, item["files"] / seconds,
                *base_rates))

    out = ["Machine: " + machine, ""] + lines
    if len(growth) > 2:
        out += ["", "How the cost grows with the work (medians):", ""] + growth
    out += ["", "Times are wall-clock medians; ±x% is half the min-max range over the runs, relative to the median.",
            "Launcher figures of the copy and the update run from CreateProcess to RunGame entry (the pass runs before",
            "the game); baselines from CreateProcess to exit under Wine, or the native command's wall time."]
    return "\n".join(out)


def wine_loader():
    """The loader of the architecture under test, never /usr/bin/wine's choice."""
    return os.environ["WINELOADER"]


def machine_description(arch):
    cpu = "unknown cpu"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    wine = subprocess.run([wine_loader(), "--version"], capture_output=True, text=True).stdout.strip()
    load = os.getloadavg()
    return "%s launcher and baselines (%s), %s, %d cores (nproc), %s, load average at the end %.2f %.2f %.2f" % (
        arch, wine, cpu, os.cpu_count(), platform.platform(), *load)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--arch", choices=("win32", "win64"), required=True)
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--cases", default="ttg,memory,copy,update,signed,modules")
    parser.add_argument("--keyed-launcher", help="the launcher built with the public key of --secret-key (signed case)")
    parser.add_argument("--packer", help="the native packer, to sign the signed case's update")
    parser.add_argument("--secret-key", help="the secret key file the signed case's update is signed with")
    parser.add_argument("--scales", default="0.25,0.5,1")
    parser.add_argument("--reference-launcher",
                        help="a launcher of another build, timed beside this one (copy, update)")
    args = parser.parse_args()
    cases = args.cases.split(",")
    scales = [float(s) for s in args.scales.split(",")]

    keyed = None
    if "signed" in cases or "modules" in cases:
        if not (args.keyed_launcher and args.packer and args.secret_key):
            parser.error("the signed and modules cases need --keyed-launcher, --packer and --secret-key")
        keyed = (Path(args.keyed_launcher), Path(args.packer), Path(args.secret_key))
    bench = Bench(args.build, args.arch, args.reps, args.seed, keyed,
                  Path(args.reference_launcher) if args.reference_launcher else None)
    shutil.rmtree(bench.work, ignore_errors=True)
    bench.work.mkdir(parents=True)
    results = {}
    started = time.monotonic()
    # The first program of a fresh wineserver also starts Wine's services: not counted.
    warm = bench.work / "warm-up"
    bench.make_install(warm, {"use_app_data_folder": "false"})
    bench.reset_home()
    bench.drive(warm, warm / "loader.exe")
    try:
        if "ttg" in cases:
            print("time to game ...", file=sys.stderr, flush=True)
            results["ttg"] = bench.time_to_game()
        if "memory" in cases:
            print("memory ...", file=sys.stderr, flush=True)
            if "ttg" not in cases:
                bench.make_install(bench.work / "ttg-wf", {"use_app_data_folder": "false"})
                bench.make_install(bench.work / "ttg-ad", app_settings("unused"))
                bench.make_install(bench.work / "ttg-gui", {"use_app_data_folder": "false"}, game="game_gui.dll")
            results["memory"] = bench.memory()
        for scale in scales if "copy" in cases else []:
            print("first-start copy x%s ..." % scale, file=sys.stderr, flush=True)
            results.setdefault("copy", {})[scale] = bench.first_start_copy(scale)
        for scale in scales if "update" in cases else []:
            print("update install x%s ..." % scale, file=sys.stderr, flush=True)
            results.setdefault("update", {})[scale] = bench.update_install(scale)
        for scale in scales if "signed" in cases else []:
            print("signed update install x%s ..." % scale, file=sys.stderr, flush=True)
            results.setdefault("signed", {})[scale] = bench.signed_update(scale)
        if "modules" in cases:
            print("keyed start, 64 MiB of modules ...", file=sys.stderr, flush=True)
            results["modules"] = bench.keyed_start()
    finally:
        bench.cleanup()
    text = report(results, machine_description(args.arch))
    text += "\nBench run took %.0f s, %d repetitions per figure (time to game: %d)." % (
        time.monotonic() - started, args.reps, 2 * args.reps + 1)
    out = Path(args.build) / "bench"
    (out / ("results-%s.json" % args.arch)).write_text(json.dumps({str(k): v for k, v in results.items()}, indent=1, default=str))
    (out / ("results-%s.md" % args.arch)).write_text(text + "\n")
    print(text)


if __name__ == "__main__":
    main()
