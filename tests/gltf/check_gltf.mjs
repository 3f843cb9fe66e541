// Checks one exported .glb: Khronos validator clean (0 errors, 0 warnings), every animation
// pointer names a value that exists with the accessor type and count it needs, and three.js
// (GLTFLoader + AnimationMixer) places every item where `orvl eval --look lightwave` does.
// A .gltf is read with its .bin and pictures from beside it, and validated as it stands.
// Lone objects (no EVAL) must rest where they were modelled: every object node's world is the
// identity, layers and their pivots included.
// Usage: node check_gltf.mjs FILE.glb|FILE.gltf[,EVAL.json] ...   (EVAL: {"size": S, "samples": [{"time", "eval"}]})
// One line per file; exit status 1 when any file has problems.
import fs from 'node:fs';
import { createRequire } from 'node:module';
const require = createRequire(process.env.ORVL_NODE_MODULES + '/');
const validator = require('gltf-validator');
const THREE = await import(process.env.ORVL_NODE_MODULES + '/three/build/three.module.js');
const { GLTFLoader } = await import(process.env.ORVL_NODE_MODULES + '/three/examples/jsm/loaders/GLTFLoader.js');

import path from 'node:path';

async function checkFile(file, evalPath) {
let failures = [];
const fail = (m) => failures.push(m);
const textual = file.toLowerCase().endsWith('.gltf');
const bytes = new Uint8Array(fs.readFileSync(file));
const dir = path.dirname(file);
// Files beside a .gltf, by the relative URI it names (percent-encoded).
const beside = (uri) => new Uint8Array(fs.readFileSync(path.join(dir, decodeURIComponent(uri))));

const report = textual
  ? await validator.validateString(new TextDecoder().decode(bytes), { maxIssues: 50, externalResourceFunction: async (uri) => beside(uri) })
  : await validator.validateBytes(bytes, { maxIssues: 50 });
const issues = report.issues;
if (issues.numErrors || issues.numWarnings)
  for (const m of issues.messages.filter(m => m.severity <= 1)) fail(`validator: ${m.code} ${m.message} at ${m.pointer}`);
if (textual && (report.info?.resources || []).some(r => r.storage !== 'external'))
  fail('a .gltf with resources that are not files beside it');

// The JSON and the binary buffer (the GLB's chunks, or the .gltf and its .bin).
let gltf, binData;
if (textual) {
  gltf = JSON.parse(new TextDecoder().decode(bytes));
  binData = gltf.buffers?.length ? beside(gltf.buffers[0].uri) : new Uint8Array(0);
  if (gltf.buffers?.length && binData.length !== gltf.buffers[0].byteLength) fail('the .bin differs in length from its buffer');
  for (const im of gltf.images || []) {
    const png = beside(im.uri);
    if (png[0] !== 0x89 || png[1] !== 0x50) fail(`${im.uri} is not a PNG`);
  }
} else {
  const dv = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const jsonLen = dv.getUint32(12, true);
  gltf = JSON.parse(new TextDecoder().decode(bytes.subarray(20, 20 + jsonLen)));
  binData = bytes.subarray(20 + jsonLen + 8);
}
function accessorValues(i) {
  const a = gltf.accessors[i], v = gltf.bufferViews[a.bufferView];
  const n = { SCALAR: 1, VEC2: 2, VEC3: 3, VEC4: 4 }[a.type];
  const at = binData.byteOffset + v.byteOffset + (a.byteOffset || 0);
  return new Float32Array(binData.buffer.slice(at, at + a.count * n * 4));
}

// Front faces: a triangle's counter-clockwise normal lies on the side its corners' normals
// point to (LightWave's visible side), or a reader culling back faces loses it. Polygons that
// are not flat or not convex give a few triangles against their polygon's normal in LightWave
// too, so a surface fails when most of its area (slivers left out) is wound against it.
for (const mesh of gltf.meshes || [])
  for (const prim of mesh.primitives) {
    const p = accessorValues(prim.attributes.POSITION), n = accessorValues(prim.attributes.NORMAL);
    const ia = gltf.accessors[prim.indices], iv = gltf.bufferViews[ia.bufferView];
    const at = binData.byteOffset + iv.byteOffset + (ia.byteOffset || 0);
    const idx = new Uint32Array(binData.buffer.slice(at, at + ia.count * 4));
    let away = 0, total = 0;
    for (let t = 0; t + 2 < idx.length; t += 3) {
      const [a, b, c] = [idx[t], idx[t + 1], idx[t + 2]];
      const e1 = [0, 1, 2].map(k => p[3 * b + k] - p[3 * a + k]), e2 = [0, 1, 2].map(k => p[3 * c + k] - p[3 * a + k]);
      const e3 = [0, 1, 2].map(k => e2[k] - e1[k]);
      const g = [e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]];
      const area = Math.hypot(...g), longest = Math.max(Math.hypot(...e1), Math.hypot(...e2), Math.hypot(...e3));
      if (!(area > 1e-4 * longest * longest)) continue;
      total += area;
      if ([a, b, c].every(v => g[0] * n[3 * v] + g[1] * n[3 * v + 1] + g[2] * n[3 * v + 2] < 0)) away += area;
    }
    if (away > 0.5 * total) fail(`mesh ${mesh.name}: ${(100 * away / total).toFixed(0)}% of a surface's area wound against its normals`);
  }

// Pointer targets: the value must exist and have the accessor's type.
const pointerType = (p) => {
  if (/^\/materials\/\d+\/pbrMetallicRoughness\/baseColorFactor$/.test(p)) return 'VEC4';
  if (/\/KHR_texture_transform\/offset$/.test(p)) return 'VEC2';
  if (/^\/cameras\/\d+\/perspective\/yfov$/.test(p)) return 'SCALAR';
  if (/^\/extensions\/KHR_lights_punctual\/lights\/\d+\/intensity$/.test(p)) return 'SCALAR';
  return null;
};
const resolve = (p) => p.split('/').slice(1).reduce((o, k) => (o === undefined ? undefined : o[k]), gltf);
const pointers = [];
for (const anim of gltf.animations || [])
  for (const ch of anim.channels) {
    if (ch.target.path !== 'pointer') continue;
    const p = ch.target.extensions?.KHR_animation_pointer?.pointer;
    const s = anim.samplers[ch.sampler];
    const out = gltf.accessors[s.output], inp = gltf.accessors[s.input];
    const want = pointerType(p || '');
    const value = resolve(p || '');
    if (!p || value === undefined) fail(`pointer ${p} names nothing`);
    else if (!want) fail(`pointer ${p} is not one the exporter writes`);
    else if (out.type !== want) fail(`pointer ${p}: accessor ${out.type}, value wants ${want}`);
    else if ((want === 'SCALAR') !== (typeof value === 'number')) fail(`pointer ${p}: value type differs`);
    else if (want !== 'SCALAR' && value.length !== { VEC2: 2, VEC4: 4 }[want]) fail(`pointer ${p}: component count`);
    if (out.count !== inp.count) fail(`pointer ${p}: ${out.count} values for ${inp.count} times`);
    pointers.push({ p, times: accessorValues(s.input), values: accessorValues(s.output), n: { SCALAR: 1, VEC2: 2, VEC4: 4 }[out.type] });
  }

// three.js: pictures are not decoded in Node, so the document is loaded without them.
const bare = JSON.parse(JSON.stringify(gltf));
delete bare.images; delete bare.textures; delete bare.samplers;
for (const m of bare.materials || []) if (m.pbrMetallicRoughness) delete m.pbrMetallicRoughness.baseColorTexture;
bare.extensionsUsed = (bare.extensionsUsed || []).filter(e => e !== 'KHR_texture_transform');
for (const b of bare.buffers || []) delete b.uri;
let text = JSON.stringify(bare);
while (text.length % 4) text += ' ';
const jsonBytes = new TextEncoder().encode(text);
const bin = new Uint8Array(8 + binData.length);
new DataView(bin.buffer).setUint32(0, binData.length, true);
new DataView(bin.buffer).setUint32(4, 0x004e4942, true);
bin.set(binData, 8);
const glb = new Uint8Array(20 + jsonBytes.length + (binData.length ? bin.length : 0));
const gv = new DataView(glb.buffer);
gv.setUint32(0, 0x46546c67, true); gv.setUint32(4, 2, true); gv.setUint32(8, glb.length, true);
gv.setUint32(12, jsonBytes.length, true); gv.setUint32(16, 0x4e4f534a, true);
glb.set(jsonBytes, 20); if (binData.length) glb.set(bin, 20 + jsonBytes.length);
const loaded = await new Promise((ok, err) => new GLTFLoader().parse(glb.buffer, '', ok, err));

let compared = 0;
if (!evalPath) {
  // A lone object rests where it was modelled, whatever its layers' pivots and parents.
  loaded.scene.updateMatrixWorld(true);
  loaded.scene.traverse(o => {
    const lw = o.userData?.lightwave;
    if (lw?.kind !== 'object') return;
    const e = o.matrixWorld.elements;
    for (let k = 0; k < 16; ++k)
      if (Math.abs(e[k] - (k % 5 === 0 ? 1 : 0)) > 1e-5) { fail(`object ${lw.index}: world[${k}] ${e[k]}, not at rest`); break; }
    ++compared;
  });
}
if (evalPath) {
  const ev = JSON.parse(fs.readFileSync(evalPath, 'utf8'));
  const tol = 1e-4 * Math.max(1, ev.size);
  const root = loaded.scene;
  const mixer = new THREE.AnimationMixer(root);
  // Played once and held: a repeating action would wrap round to time 0 at its last sample.
  const actions = loaded.animations.map(clip => {
    const a = mixer.clipAction(clip);
    a.setLoop(THREE.LoopOnce, 1);
    a.clampWhenFinished = true;
    return a.play();
  });
  const byTag = new Map();
  root.traverse(o => { const lw = o.userData?.lightwave; if (lw) byTag.set(lw, o); });
  const S = new THREE.Matrix4().makeScale(1, 1, -1);
  const nodes = gltf.nodes.map((n, i) => ({ n, i }));
  const inner = (kind, index) => {
    let found = null;
    root.traverse(o => { const lw = o.userData?.lightwave; if (lw && lw.kind === kind && lw.index === index) found = o; });
    return found;
  };
  for (const sample of ev.samples) {
    // A finished action stays paused: every sample starts it again, or a second look at
    // the last moment would show the first.
    for (const a of actions) a.reset();
    mixer.setTime(sample.time);
    root.updateMatrixWorld(true);
    const lw = sample.eval;
    const check = (kind, index, world) => {
      const o = inner(kind, index);
      if (!o) return fail(`${kind} ${index}: no node in three.js`);
      const want = new THREE.Matrix4().fromArray(world).transpose();  // row major
      want.premultiply(S).multiply(S);
      const got = o.matrixWorld.elements, w = want.elements;
      for (let k = 0; k < 16; ++k)
        if (Math.abs(got[k] - w[k]) > tol * (k % 4 === 3 || k >= 12 ? 1 : 1)) {
          fail(`t=${sample.time} ${kind} ${index}: world[${k}] ${got[k]} vs eval ${w[k]}`);
          break;
        }
      ++compared;
    };
    lw.objects.forEach((o, i) => check('object', i, o.world));
    lw.lights.forEach((l, i) => check('light', i, l.world));
    check('camera', 0, lw.camera.world);
    // Morph weights and pointer values at this moment.
    root.traverse(o => {
      const tag = o.userData?.lightwave;
      if (tag?.kind === 'object' && o.morphTargetInfluences?.length) {
        const want = lw.objects[tag.index].morph_amount;
        if (Math.abs(o.morphTargetInfluences[0] - want) > 1e-4) fail(`t=${sample.time} object ${tag.index}: weight ${o.morphTargetInfluences[0]} vs ${want}`);
      }
    });
    for (const pt of pointers) {
      let k = 0;
      while (k + 1 < pt.times.length && pt.times[k + 1] <= sample.time + 1e-6) ++k;
      const v = pt.values.subarray(k * pt.n, k * pt.n + pt.n);
      let m;
      if ((m = /^\/cameras\/0\/perspective\/yfov$/.exec(pt.p)) && Math.abs(v[0] - lw.camera.yfov) > 1e-4)
        fail(`t=${sample.time} yfov ${v[0]} vs ${lw.camera.yfov}`);
      if ((m = /^\/materials\/(\d+)\/pbrMetallicRoughness\/baseColorFactor$/.exec(pt.p))) {
        // The object whose mesh uses the material: alpha = (1 - transparency) (1 - dissolve).
        const mat = +m[1];
        const mesh = gltf.meshes.findIndex(me => me.primitives.some(pr => pr.material === mat));
        const node = gltf.nodes.find(n => n.mesh === mesh && n.extras?.lightwave?.kind === 'object');
        const o = node && lw.objects[node.extras.lightwave.index];
        const tr = gltf.materials[mat].extras?.lightwave?.transparency || 0;
        const want = o && (1 - Math.min(1, Math.max(0, tr))) * (1 - Math.min(1, Math.max(0, o.dissolve)));
        if (!o || typeof o.dissolve !== 'number') fail(`pointer ${pt.p}: no object dissolves through it`);
        else if (Math.abs(v[3] - want) > 1e-4) fail(`t=${sample.time} material ${mat} alpha ${v[3]} vs ${want} (dissolve ${o.dissolve})`);
      }
      if ((m = /lights\/(\d+)\/intensity$/.exec(pt.p))) {
        const l = lw.lights[+m[1]];
        const f = gltf.extensions.KHR_lights_punctual.lights[+m[1]];
        const range2 = f.extras?.lightwave_falloff_range ? f.extras.lightwave_falloff_range ** 2 : 1;
        const want = Math.max(0, Math.PI * l.intensity * (f.type === 'directional' ? 1 : range2));
        if (Math.abs(v[0] - want) > 1e-4 * Math.max(1, want)) fail(`t=${sample.time} light ${m[1]} intensity ${v[0]} vs ${want}`);
      }
    }
  }
}
if (failures.length) {
  console.log(`${file}: ${failures.length} problems`);
  for (const f of failures.slice(0, 20)) console.log('  ' + f);
  return false;
}
console.log(`${file}: valid (${issues.numInfos} infos), ${pointers.length} pointers, ${compared} world matrices agree`);
return true;
}

let bad = 0;
for (const arg of process.argv.slice(2)) {
  const [file, evalPath] = arg.split(',');
  try {
    if (!(await checkFile(file, evalPath))) ++bad;
  } catch (e) {
    console.log(`ERROR ${file}: ${e.stack || e}`);
    ++bad;
  }
}
process.exit(bad ? 1 : 0);
