#!/usr/bin/env python3
"""Exports every given scene/object with `orvl export`, then has check_gltf.mjs validate it and
compare three.js's world matrices with `orvl eval --look lightwave` at sampled times (at most
12 per scene, spread over the animation, both ends included).
Usage: run_gltf_checks.py ORVL NODE_MODULES OUTDIR ROOT [--missing-null] FILE...
With --missing-null every export and eval loads absent objects as null objects, and a file
that is still refused counts as a problem."""
import json, os, struct, subprocess, sys

orvl, modules, outdir, root = [os.path.abspath(a) for a in sys.argv[1:5]]
files = sys.argv[5:]
extra = []
if files and files[0] == "--missing-null":
    extra = ["--missing", "null"]
    files = files[1:]
here = os.path.dirname(os.path.abspath(__file__))
if not os.path.isdir(os.path.join(modules, "gltf-validator")) or not os.path.isdir(os.path.join(modules, "three")):
    print("SKIP: Node packages gltf-validator and three not installed (scripts/install-node-packages)")
    sys.exit(0)
if not files:
    print("SKIP: no input files (../shared/testdata absent)")
    sys.exit(0)
os.makedirs(outdir, exist_ok=True)
env = dict(os.environ, ORVL_NODE_MODULES=modules)
bad = 0
for f in files:
    out = os.path.join(outdir, os.path.basename(f) + ".glb")
    r = subprocess.run([orvl, "export", f, "-o", out, "--root", root] + extra, capture_output=True, text=True)
    if r.returncode != 0 and extra:
        print(f"{f}: refused with {' '.join(extra)}: {r.stderr.strip()}"); bad += 1
        continue
    if r.returncode != 0:
        # A file the loaders refuse must say so clearly and leave nothing behind.
        if not r.stderr.startswith("orvl export: ") or os.path.exists(out):
            print(f"{f}: unclear failure: {r.stderr!r}"); bad += 1
        else:
            print(f"{f}: refused: {r.stderr.strip()}")
        continue
    evalfile = None
    if f.lower().endswith(".lws"):
        data = open(out, "rb").read()
        n = struct.unpack_from("<I", data, 12)[0]
        g = json.loads(data[20:20 + n])
        times = [0.0]
        if g.get("animations"):
            acc = g["accessors"][g["animations"][0]["samplers"][0]["input"]]
            view = g["bufferViews"][acc["bufferView"]]
            base = 20 + n + 8 + view.get("byteOffset", 0)
            allt = struct.unpack_from("<%df" % acc["count"], data, base)
            step = max(1, len(allt) // 11)
            times = list(allt[::step]) + [allt[-1]]
        first = json.loads(subprocess.run([orvl, "eval", f, "--frame", "0", "--look", "lightwave", "--json", "--root", root]
                                          + extra, capture_output=True, text=True).stdout)["lightwave"]
        fps = first["frames_per_second"]
        start = first["first_frame"]
        samples = []
        size = 1.0
        for t in times:
            frame = start + t * fps
            r = subprocess.run([orvl, "eval", f, "--frame", "%.6f" % max(0.0, frame), "--look", "lightwave", "--json",
                                "--root", root] + extra, capture_output=True, text=True)
            lw = json.loads(r.stdout)["lightwave"]
            for o in lw["objects"] + lw["lights"] + [lw["camera"]]:
                size = max(size, abs(o["world"][3]), abs(o["world"][7]), abs(o["world"][11]))
            samples.append({"time": t, "eval": lw})
        evalfile = out + ".eval.json"
        json.dump({"size": size, "samples": samples}, open(evalfile, "w"))
    r = subprocess.run(["node", os.path.join(here, "check_gltf.mjs"), out] + ([evalfile] if evalfile else []),
                       capture_output=True, text=True, env=env, timeout=600)
    print(r.stdout.strip() or r.stderr.strip())
    if r.returncode != 0:
        bad += 1
print(f"{len(files)} files, {bad} problems")
sys.exit(1 if bad else 0)
