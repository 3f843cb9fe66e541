// Checks one exported .glb: Khronos validator clean (0 errors, 0 warnings), every animation
// pointer names a value that exists with the accessor type and count it needs, and three.js
// (GLTFLoader + AnimationMixer) places every item where `orvl eval --look lightwave` does.
// Usage: node check_gltf.mjs FILE.glb [EVAL.json]   (EVAL: {"size": S, "samples": [{"time", "eval"}]})
import fs from 'node:fs';
import { createRequire } from 'node:module';
const require = createRequire(process.env.ORVL_NODE_MODULES + '/');
const validator = require('gltf-validator');
const THREE = await import(process.env.ORVL_NODE_MODULES + '/three/build/three.module.js');
const { GLTFLoader } = await import(process.env.ORVL_NODE_MODULES + '/three/examples/jsm/loaders/GLTFLoader.js');

const file = process.argv[2];
const bytes = new Uint8Array(fs.readFileSync(file));
let failures = [];
const fail = (m) => failures.push(m);

const report = await validator.validateBytes(bytes, { maxIssues: 50 });
const issues = report.issues;
if (issues.numErrors || issues.numWarnings)
  for (const m of issues.messages.filter(m => m.severity <= 1)) fail(`validator: ${m.code} ${m.message} at ${m.pointer}`);

// The JSON chunk and the binary chunk.
const dv = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
const jsonLen = dv.getUint32(12, true);
const gltf = JSON.parse(new TextDecoder().decode(bytes.subarray(20, 20 + jsonLen)));
const binStart = 20 + jsonLen + 8;
function accessorValues(i) {
  const a = gltf.accessors[i], v = gltf.bufferViews[a.bufferView];
  const n = { SCALAR: 1, VEC2: 2, VEC3: 3, VEC4: 4 }[a.type];
  return new Float32Array(bytes.buffer.slice(bytes.byteOffset + binStart + v.byteOffset + (a.byteOffset || 0),
    bytes.byteOffset + binStart + v.byteOffset + (a.byteOffset || 0) + a.count * n * 4));
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
let text = JSON.stringify(bare);
while (text.length % 4) text += ' ';
const jsonBytes = new TextEncoder().encode(text);
const bin = bytes.subarray(20 + jsonLen);
const glb = new Uint8Array(20 + jsonBytes.length + bin.length);
const gv = new DataView(glb.buffer);
gv.setUint32(0, 0x46546c67, true); gv.setUint32(4, 2, true); gv.setUint32(8, glb.length, true);
gv.setUint32(12, jsonBytes.length, true); gv.setUint32(16, 0x4e4f534a, true);
glb.set(jsonBytes, 20); glb.set(bin, 20 + jsonBytes.length);
const loaded = await new Promise((ok, err) => new GLTFLoader().parse(glb.buffer, '', ok, err));

const evalPath = process.argv[3];
let compared = 0;
if (evalPath) {
  const ev = JSON.parse(fs.readFileSync(evalPath, 'utf8'));
  const tol = 1e-4 * Math.max(1, ev.size);
  const root = loaded.scene;
  const mixer = new THREE.AnimationMixer(root);
  // Played once and held: a repeating action would wrap round to time 0 at its last sample.
  for (const clip of loaded.animations) {
    const a = mixer.clipAction(clip);
    a.setLoop(THREE.LoopOnce, 1);
    a.clampWhenFinished = true;
    a.play();
  }
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
  process.exit(1);
}
console.log(`${file}: valid (${issues.numInfos} infos), ${pointers.length} pointers, ${compared} world matrices agree`);
