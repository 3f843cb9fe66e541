#!/usr/bin/env python3
"""Exports every given scene/object with `orvl export`, then has check_gltf.mjs validate it and
compare three.js's world matrices with `orvl eval --look lightwave` at sampled times (at most
12 per scene, spread over the animation, both ends included).

Usage: run_gltf_checks.py ORVL NODE_MODULES OUTDIR ROOT [options] FILE|DIR...
  --gltf            also write each export as .gltf (with its .bin and pictures) and check that
  --must-export     a refusal is a failure (inputs that are known to load)
  --missing-null    pass `--missing null` (scenes whose objects are absent)
  --cwd DIR         run orvl there (scenes naming objects relative to the working directory)
  --demo MAKE_DEMO  write the demo show (LightWave 6 scene included) below OUTDIR with this
                    make-demo, and take its scenes, run from its folder
  --hostile SOURCE  take the .lws/.lwo inputs of tests/hostile/run_hostile.py (generated
                    below OUTDIR from the SOURCE checkout)
  --scenes-from DIR, --objects-from DIR
                    every file of DIR (a fuzz corpus: no extensions) as a scene / an object
A DIR stands for every .lws/.lwo below it. A refused input must exit 1 or 2 with a line
starting "orvl export: " and leave no output behind."""
import json, os, struct, subprocess, sys
sys.stdout.reconfigure(line_buffering=True)

args = sys.argv[1:]
orvl, modules, outdir, root = [os.path.abspath(a) for a in args[:4]]
rest = args[4:]
opts = {"--gltf": False, "--must-export": False, "--missing-null": False}
cwd, demo, hostile, files = None, None, None, []
i = 0
while i < len(rest):
    a = rest[i]
    if a in opts:
        opts[a] = True
    elif a == "--cwd":
        cwd = os.path.abspath(rest[i + 1]); i += 1
    elif a == "--demo":
        demo = os.path.abspath(rest[i + 1]); i += 1
    elif a == "--hostile":
        hostile = os.path.abspath(rest[i + 1]); i += 1
    elif a in ("--scenes-from", "--objects-from"):
        src, ext = rest[i + 1], ".lws" if a == "--scenes-from" else ".lwo"
        i += 1
        dst = os.path.join(outdir, "inputs", os.path.basename(src.rstrip("/")))
        os.makedirs(dst, exist_ok=True)
        for n in sorted(os.listdir(src)) if os.path.isdir(src) else []:
            with open(os.path.join(src, n), "rb") as fi, open(os.path.join(dst, n + ext), "wb") as fo:
                fo.write(fi.read())
            files.append(os.path.join(dst, n + ext))
    elif os.path.isdir(a):
        for d, _, names in sorted(os.walk(a)):
            files += [os.path.join(d, n) for n in sorted(names) if n.lower().endswith((".lws", ".lwo"))]
    else:
        files.append(a)
    i += 1
here = os.path.dirname(os.path.abspath(__file__))
if not os.path.isdir(os.path.join(modules, "gltf-validator")) or not os.path.isdir(os.path.join(modules, "three")):
    print("SKIP: Node packages gltf-validator and three not installed (scripts/install-node-packages)")
    sys.exit(0)
os.makedirs(outdir, exist_ok=True)
if demo:
    cwd = os.path.join(outdir, "demo")
    r = subprocess.run([demo, cwd, "--music-seconds", "0", "--lightwave6"], capture_output=True, text=True)
    if r.returncode != 0:
        print(f"make-demo failed: {r.stderr.strip()}"); sys.exit(1)
    files += [os.path.join(cwd, "scene", n) for n in sorted(os.listdir(os.path.join(cwd, "scene")))
              if n.lower().endswith(".lws")]
if hostile:
    import random
    sys.path.insert(0, os.path.join(hostile, "tests", "hostile"))
    import run_hostile
    work = os.path.join(outdir, "hostile")
    if os.path.isdir(work):
        import shutil
        shutil.rmtree(work)
    os.makedirs(work)
    env = dict(os.environ, DISPLAY="", WAYLAND_DISPLAY="", TMPDIR=work)
    inputs = run_hostile.make_inputs(work, orvl, hostile, random.Random(run_hostile.SEED), env)
    cwd = work
    for kind, paths in sorted(inputs.items()):
        for p in paths:
            if kind == "special" or p.lower().endswith((".lws", ".lwo")):
                files.append(p if os.path.isabs(p) else os.path.join(work, p))
if not files:
    print("SKIP: no input files (../shared/testdata absent)")
    sys.exit(0)
env = dict(os.environ, ORVL_NODE_MODULES=modules)
extra = ["--missing", "null"] if opts["--missing-null"] else []


def run_orvl(argv):
    return subprocess.run([orvl] + argv, capture_output=True, cwd=cwd, timeout=300)


bad = 0
checks = []
for n, f in enumerate(files):
    stem = "%03d_%s" % (n, os.path.basename(f).replace("\n", "_"))
    out = os.path.join(outdir, stem + ".glb")
    if os.path.exists(out):
        os.remove(out)
    r = run_orvl(["export", f, "-o", out, "--root", root] + extra)
    err = r.stderr.decode("utf-8", "replace")
    if r.returncode != 0:
        # A file the loaders refuse must say so clearly and leave nothing behind.
        if r.returncode not in (1, 2) or not err.startswith("orvl export: ") or os.path.exists(out):
            print(f"{f}: unclear failure (exit {r.returncode}): {err!r}"); bad += 1
        elif opts["--must-export"]:
            print(f"{f}: refused: {err.strip()}"); bad += 1
        else:
            print(f"{f}: refused: {err.strip()}")
        continue
    evalfile = None
    if f.lower().endswith(".lws"):
        data = open(out, "rb").read()
        jn = struct.unpack_from("<I", data, 12)[0]
        g = json.loads(data[20:20 + jn])
        times = [0.0]
        if g.get("animations"):
            acc = g["accessors"][g["animations"][0]["samplers"][0]["input"]]
            view = g["bufferViews"][acc["bufferView"]]
            base = 20 + jn + 8 + view.get("byteOffset", 0)
            allt = struct.unpack_from("<%df" % acc["count"], data, base)
            step = max(1, len(allt) // 11)
            times = list(allt[::step]) + [allt[-1]]
        ev = run_orvl(["eval", f, "--frame", "0", "--look", "lightwave", "--json", "--root", root] + extra)
        if ev.returncode != 0:
            print(f"{f}: exported, but orvl eval refuses it: {ev.stderr.decode('utf-8', 'replace').strip()}")
            bad += 1
            continue
        first = json.loads(ev.stdout)["lightwave"]
        fps = first["frames_per_second"]
        start = first["first_frame"]
        samples = []
        size = 1.0
        for t in sorted(set(times)):
            frame = start + t * fps
            ev = run_orvl(["eval", f, "--frame", "%.6f" % max(0.0, frame), "--look", "lightwave", "--json",
                           "--root", root] + extra)
            if ev.returncode != 0:
                print(f"{f}: orvl eval refuses frame {frame}: {ev.stderr.decode('utf-8', 'replace').strip()}")
                bad += 1
                break
            lw = json.loads(ev.stdout)["lightwave"]
            for o in lw["objects"] + lw["lights"] + [lw["camera"]]:
                size = max(size, abs(o["world"][3]), abs(o["world"][7]), abs(o["world"][11]))
            samples.append({"time": t, "eval": lw})
        if len(samples) < len(set(times)):
            continue
        evalfile = out + ".eval.json"
        json.dump({"size": size, "samples": samples}, open(evalfile, "w"))
    checks.append(out + ("," + evalfile if evalfile else ""))
    if opts["--gltf"]:
        gdir = os.path.join(outdir, "gltf")
        os.makedirs(gdir, exist_ok=True)
        gout = os.path.join(gdir, stem + ".gltf")
        r = run_orvl(["export", f, "-o", gout, "--root", root] + extra)
        if r.returncode != 0:
            print(f"{f}: .glb written but .gltf refused: {r.stderr.decode('utf-8', 'replace').strip()}"); bad += 1
        else:
            checks.append(gout + ("," + evalfile if evalfile else ""))

# One Node run for every file: starting Node and three.js once per file would dominate.
for k in range(0, len(checks), 200):
    r = subprocess.run(["node", os.path.join(here, "check_gltf.mjs")] + checks[k:k + 200],
                       capture_output=True, text=True, env=env, timeout=1800)
    out = r.stdout.strip() or r.stderr.strip()
    print(out)
    if r.returncode != 0:
        bad += max(1, sum(1 for line in out.splitlines() if line.endswith(" problems") or line.startswith("ERROR ")))
print(f"{len(files)} files, {len(checks)} outputs checked, {bad} problems")
sys.exit(1 if bad else 0)
