#!/usr/bin/env python3
"""Runs orvl's commands over a generated set of hostile inputs.

Usage: run_hostile.py ORVL_BINARY SOURCE_DIR [--table]

Every run must end by itself with an exit code below 128 (no signal, no abort), within
20 s and 2 GB of memory. Inputs: special files (FIFO, directory, devices, empty, sparse
2 GiB, dangling link, link loop), names that are not UTF-8 or hold newlines and shell
text, random bytes, the fuzz corpora's seeds, mutated and truncated copies of valid files
that orvl itself writes, and headers that declare enormous pictures or endless scenes.
Prints one line per kind of input and command with the exit codes seen; exits 1 on the
first class of failure, after running everything.
"""
import collections
import concurrent.futures
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time

TIME_LIMIT_S = 20.0
MEMORY_LIMIT_KB = 2 * 1024 * 1024
SEED = 20261208


def run(orvl, args, cwd, env):
    """Runs orvl; returns (exit status or -signal, seconds, max RSS in KB)."""
    start = time.monotonic()
    proc = subprocess.Popen([orvl] + args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    deadline = start + TIME_LIMIT_S + 5
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            break
        if time.monotonic() > deadline:
            os.killpg(proc.pid, 9)
            pid, status, usage = os.wait4(proc.pid, 0)
            break
        time.sleep(0.002)
    elapsed = time.monotonic() - start
    code = -os.WTERMSIG(status) if os.WIFSIGNALED(status) else os.WEXITSTATUS(status)
    return code, elapsed, usage.ru_maxrss


def jpeg_header(width, height, progressive):
    """A JPEG whose frame header declares width x height, with one tiny scan."""
    sof = 0xC2 if progressive else 0xC0
    q = b"\xff\xdb\x00\x43\x00" + bytes([1] * 64)
    frame = bytes([0xFF, sof, 0, 11, 8]) + struct.pack(">HH", height, width) + bytes([1, 1, 0x11, 0])
    huff = b"\xff\xc4\x00\x14\x00" + bytes([1] + [0] * 15) + b"\x00" + b"\xff\xc4\x00\x14\x10" + bytes([1] + [0] * 15) + b"\x00"
    scan = b"\xff\xda\x00\x08\x01\x01\x00" + (b"\x00\x00\x00" if progressive else b"\x00\x3f\x00") + b"\x00" * 64
    return b"\xff\xd8" + q + frame + huff + scan + b"\xff\xd9"


def null_scene(last_frame, name="Nul"):
    return ("LWSC\n1\n\nFirstFrame 0\nLastFrame %d\nFrameStep 1\nFramesPerSecond 30.000000\n\n"
            "AddNullObject %s\nObjectMotion (unnamed)\n  9\n  1\n  0 0 0 0 0 0 1 1 1\n  0 0 0 0 0\n"
            "EndBehavior 1\n%s"
            "AmbientColor 255 255 255\nAmbIntensity 0.25\n\nShowCamera 1 7\nCameraMotion (unnamed)\n  9\n  1\n"
            "  0 0 -10 0 0 0 1 1 1\n  0 0 0 0 0\nEndBehavior 1\nZoomFactor 3.2\n\nBackdropColor 0 0 0\n"
            "ViewZoomFactor 4\n" % (last_frame, name, "\n" * 160)).encode("latin-1")


def make_inputs(work, orvl, source, rng, env):
    """Returns {kind: [path, ...]}; every path is relative to `work`."""
    inputs = collections.defaultdict(list)

    def put(kind, name, data):
        path = os.path.join(work, name)
        with open(path, "wb") as f:
            f.write(data)
        inputs[kind].append(name)

    # Special files: every command meets every one of them.
    os.mkfifo(os.path.join(work, "fifo.bin"))
    os.mkdir(os.path.join(work, "adir.bin"))
    put("special", "empty.bin", b"")
    with open(os.path.join(work, "sparse.bin"), "wb") as f:
        f.truncate((2 << 30) + 1)
    os.symlink("nowhere", os.path.join(work, "dangling.bin"))
    os.symlink("loop.bin", os.path.join(work, "loop.bin"))
    inputs["special"] += ["fifo.bin", "adir.bin", "sparse.bin", "dangling.bin", "loop.bin", "/dev/zero",
                          "/dev/null", "/dev/urandom"]

    # Random bytes under every extension a command looks at.
    for ext in ("tga", "bmp", "jpg", "iff", "lws", "lwo", "pak", "lzw", "lz", "mp3", "wav", "xm"):
        for n in (16, 5000):
            put("random", "rand%d.%s" % (n, ext), bytes(rng.getrandbits(8) for _ in range(n)))
    # Names that are not UTF-8, hold newlines, shell text or look like options.
    for name in (b"caf\xe9.tga", b"new\nline.tga", b"$(touch INJ).tga", b"'; touch INJ2; '.tga", b"-dash.tga"):
        with open(os.path.join(work.encode(), name), "wb") as f:
            f.write(bytes([0, 0, 2] + [0] * 9) + struct.pack("<HH", 2, 2) + bytes([24, 0]) + bytes(12))
        inputs["names"].append(os.fsdecode(name))

    # Valid files orvl writes itself, then mutated and truncated.
    tga = bytes([0, 0, 2] + [0] * 9) + struct.pack("<HH", 32, 32) + bytes([24, 0]) + \
        bytes(rng.getrandbits(8) for _ in range(32 * 32 * 3))
    put("valid", "v.tga", tga)
    subprocess.run([orvl, "image", "convert", "v.tga", "v.jpg"], cwd=work, env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    put("valid", "v.bin", bytes(rng.getrandbits(8) for _ in range(3000)) + b"abc" * 2000)
    for args in (["lz", "compress", "v.bin", "v.lz"], ["lzw", "compress", "v.bin", "v.lzw"],
                 ["pack", "create", "v.pak", "v.bin", "v.tga"]):
        subprocess.run([orvl] + args, cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    put("valid", "v.lws", null_scene(30))
    inputs["valid"] += ["v.jpg", "v.lz", "v.lzw", "v.pak"]
    for name in list(inputs["valid"]):
        with open(os.path.join(work, name), "rb") as f:
            data = f.read()
        base, ext = os.path.splitext(name)
        for k in range(4):
            d = bytearray(data)
            for _ in range(1 + k * 3):
                d[rng.randrange(len(d))] = rng.getrandbits(8)
            put("mutated", "%s_m%d%s" % (base, k, ext), bytes(d))
        for k, cut in enumerate((1, 4, 12, len(data) // 2, len(data) - 1)):
            put("truncated", "%s_t%d%s" % (base, k, ext), data[:cut])

    # Headers that promise enormous pictures, and endless or bogus scenes.
    put("bombs", "bomb.jpg", jpeg_header(16384, 16384, False))
    put("bombs", "bombp.jpg", jpeg_header(16384, 16384, True))
    put("bombs", "bomb.tga", bytes([0, 0, 2] + [0] * 9) + struct.pack("<HH", 16384, 16384) + bytes([32, 0]) + bytes(64))
    put("bombs", "bomb.bmp", b"BM" + bytes(8) + struct.pack("<II", 54, 40) + struct.pack("<ii", 16384, 16384) +
        struct.pack("<HH", 1, 24) + bytes(24) + bytes(256))
    put("bombs", "endless.lws", null_scene(2147483647))
    put("bombs", "negative.lws", null_scene(-2147483647))
    put("bombs", "header_only.lws", b"LWSC\n1\n")
    put("bombs", "latin1.lws", null_scene(10, "Nul\xe9"))

    # Seeds from the fuzz corpora, a few per target, under the extension their command wants.
    corpus = os.path.join(source, "fuzz", "corpus")
    ext_of = {"fuzz_image_bmp": "bmp", "fuzz_image_ilbm": "iff", "fuzz_image_jpeg": "jpg", "fuzz_image_tga": "tga",
              "fuzz_lz_expand": "lz", "fuzz_lzw_decode": "lzw", "fuzz_object": "lwo", "fuzz_pack": "pak",
              "fuzz_scene": "lws"}
    for target, ext in sorted(ext_of.items()):
        folder = os.path.join(corpus, target)
        if not os.path.isdir(folder):
            continue
        files = sorted(os.listdir(folder))
        for k, name in enumerate(rng.sample(files, min(4, len(files)))):
            with open(os.path.join(folder, name), "rb") as f:
                put("corpus", "%s_%d.%s" % (target, k, ext), f.read())
    return inputs


def commands_for(path):
    """The commands that read `path`, by its extension; special files get all of them."""
    ext = os.path.splitext(path)[1].lower()
    image = [["image", "info", path, "--json"], ["image", "convert", path, "out/o.png"]]
    table = {
        ".tga": image, ".bmp": image, ".jpg": image, ".iff": image,
        ".lws": [["dump-scene", path, "--json"], ["eval", path, "--at", "1000", "--json"],
                 ["render", path, "--out", "out/r", "--size", "32x32", "--max-frames", "3", "--quiet"]],
        ".lwo": [["dump-object", path, "--json"]],
        ".pak": [["pack", "list", path, "--json"], ["pack", "extract", path, "out/x"]],
        ".lz": [["lz", "expand", path, "out/o", "--size", "100000"]],
        ".lzw": [["lzw", "expand", path, "out/o"]],
        ".bin": [["lz", "compress", path, "out/o"], ["lzw", "compress", path, "out/o"],
                 ["pack", "create", "out/p.pak", path]],
        ".mp3": [["play-music", path, "--seconds", "0.1"]], ".wav": [["play-music", path, "--seconds", "0.1"]],
        ".xm": [["play-music", path, "--seconds", "0.1"]],
    }
    if ext in table:
        return table[ext]
    return [c for cmds in table.values() for c in cmds][::2]


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    orvl, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    rng = random.Random(SEED)
    work = tempfile.mkdtemp(prefix="orvl_hostile_")
    env = dict(os.environ, DISPLAY="", WAYLAND_DISPLAY="", SDL_AUDIODRIVER="dummy", TMPDIR=work)
    started = time.monotonic()
    try:
        inputs = make_inputs(work, orvl, source, rng, env)
        jobs = []
        for kind, paths in sorted(inputs.items()):
            for p in paths:
                cmds = commands_for(p)
                if kind == "special":  # every command meets every special file
                    cmds = [commands_for("x" + e)[0] for e in (".tga", ".lws", ".lwo", ".pak", ".lz", ".lzw",
                                                                ".bin", ".mp3")]
                    cmds += [["image", "convert", "x.tga", "out/o.png"], ["pack", "extract", "x.pak", "out/x"],
                             ["render", "x.lws", "--out", "out/r", "--max-frames", "3", "--quiet"]]
                    cmds = [[p if a.startswith("x.") else a for a in c] for c in cmds]
                for c in cmds:
                    jobs.append((kind, c))

        def one(job):
            kind, args = job
            os.makedirs(os.path.join(work, "out"), exist_ok=True)
            return kind, args, run(orvl, args, work, env)

        seen = collections.defaultdict(collections.Counter)
        failures = []
        worst_rss = (0, None)
        slowest = (0.0, None)
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            for kind, args, (code, secs, rss) in pool.map(one, jobs):
                name = " ".join(args[:2]) if args[0] in ("image", "pack", "lz", "lzw") else args[0]
                seen[(kind, name)][code] += 1
                if rss > worst_rss[0]:
                    worst_rss = (rss, args)
                if secs > slowest[0]:
                    slowest = (secs, args)
                if code < 0 or code >= 128 or secs > TIME_LIMIT_S or rss > MEMORY_LIMIT_KB:
                    failures.append("%r: exit %d, %.1f s, %d MB" % (args, code, secs, rss // 1024))
        for name in ("INJ", "INJ2"):
            if os.path.exists(os.path.join(work, name)):
                failures.append("a file name ran as a shell command (%s exists)" % name)
        print("%-10s %-16s %s" % ("input", "command", "exit codes (count)"))
        for (kind, name), codes in sorted(seen.items()):
            print("%-10s %-16s %s" % (kind, name, ", ".join("%d (%d)" % kv for kv in sorted(codes.items()))))
        print("%d runs over %d inputs in %.1f s; most memory %d MB (%s); slowest %.2f s (%s)" % (
            len(jobs), sum(len(v) for v in inputs.values()), time.monotonic() - started, worst_rss[0] // 1024,
            " ".join(worst_rss[1] or []), slowest[0], " ".join(slowest[1] or [])))
        for f in failures:
            print("FAIL " + f)
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
