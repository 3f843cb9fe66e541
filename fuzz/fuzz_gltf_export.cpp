// Objects and scenes from the fuzzer through the glTF writer into memory, and the GLB read
// back: whatever loads must come out as a document a reader can walk without leaving its
// buffers, with every float finite (glTF forbids the others).
//
// Input: byte 0 chooses the form (even: a lone object, odd: a scene); bytes 1..4 (little
// endian) give the length of the object file that follows; the rest is scene text. A scene
// finds its objects as "o.lwo" in a scratch folder that is both the scene's folder and the
// LightWave root (`LoadObject C:\LIGHTWAVE\o.lwo`, `LoadObjectLayer 1 o.lwo`), which holds
// the object bytes for this run.
#include <stdlib.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "export/gltf_export.h"
#include "object/object_loader.h"
#include "object/surface_image.h"
#include "platform/log.h"
#include "scene/scene.h"

namespace {

using json = nlohmann::json;

[[noreturn]] void fail(const char* why) {
  std::fprintf(stderr, "fuzz_gltf_export: %s\n", why);
  __builtin_trap();
}

uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

size_t components(const std::string& type) {
  if (type == "SCALAR") return 1;
  if (type == "VEC2") return 2;
  if (type == "VEC3") return 3;
  if (type == "VEC4") return 4;
  if (type == "MAT4") return 16;
  fail("accessor type unknown");
}

// The GLB taken apart again: chunk lengths, every view inside the buffer, every accessor inside
// its view, floats finite, indices below their primitive's vertex count, nodes a forest.
void check_glb(const std::vector<uint8_t>& glb) {
  if (glb.size() < 20 || u32(&glb[0]) != 0x46546c67 || u32(&glb[4]) != 2 || u32(&glb[8]) != glb.size())
    fail("GLB header");
  const size_t jlen = u32(&glb[12]);
  if (u32(&glb[16]) != 0x4e4f534a || jlen % 4 || 20 + jlen > glb.size()) fail("JSON chunk");
  const json j = json::parse(glb.begin() + 20, glb.begin() + std::ptrdiff_t(20 + jlen), nullptr, false);
  if (j.is_discarded() || !j.is_object()) fail("JSON chunk does not parse");
  const uint8_t* bin = nullptr;
  size_t blen = 0;
  if (20 + jlen < glb.size()) {
    if (20 + jlen + 8 > glb.size()) fail("BIN chunk header");
    blen = u32(&glb[20 + jlen]);
    if (u32(&glb[24 + jlen]) != 0x004e4942 || 28 + jlen + blen != glb.size()) fail("BIN chunk");
    bin = &glb[28 + jlen];
  }
  if (j.contains("buffers") && (j["buffers"].size() != 1 || j["buffers"][0]["byteLength"].get<size_t>() != blen))
    fail("buffer length");
  const json views = j.value("bufferViews", json::array());
  for (const json& v : views)
    if (v["byteOffset"].get<size_t>() + v["byteLength"].get<size_t>() > blen) fail("view outside the buffer");
  const json accessors = j.value("accessors", json::array());
  for (const json& a : accessors) {
    const size_t vi = a["bufferView"].get<size_t>();
    if (vi >= views.size()) fail("accessor names no view");
    const size_t n = a["count"].get<size_t>() * components(a["type"].get<std::string>());
    if (n * 4 > views[vi]["byteLength"].get<size_t>()) fail("accessor outside its view");
    if (a["componentType"].get<int>() == 5126) {
      const uint8_t* p = bin + views[vi]["byteOffset"].get<size_t>();
      for (size_t k = 0; k < n; ++k) {
        float f;
        std::memcpy(&f, p + 4 * k, 4);
        if (!std::isfinite(f)) fail("a float that is not finite");
      }
    }
  }
  auto accessor_count = [&](const json& index) {
    if (!index.is_number_unsigned() || index.get<size_t>() >= accessors.size()) fail("accessor index");
    return accessors[index.get<size_t>()]["count"].get<size_t>();
  };
  for (const json& mesh : j.value("meshes", json::array()))
    for (const json& prim : mesh["primitives"]) {
      const size_t vertices = accessor_count(prim["attributes"]["POSITION"]);
      for (const auto& attr : prim["attributes"].items())
        if (accessor_count(attr.value()) != vertices) fail("attribute counts differ");
      const json& ia = accessors[prim["indices"].get<size_t>()];
      const size_t n = accessor_count(prim["indices"]);
      if (n % 3) fail("index count not a multiple of 3");
      const uint8_t* p = bin + views[ia["bufferView"].get<size_t>()]["byteOffset"].get<size_t>();
      for (size_t k = 0; k < n; ++k)
        if (u32(p + 4 * k) >= vertices) fail("index past the vertices");
      if (prim.contains("material") && prim["material"].get<size_t>() >= j.value("materials", json::array()).size())
        fail("material index");
    }
  const json nodes = j.value("nodes", json::array());
  std::vector<int> parents(nodes.size(), 0);
  for (const json& n : nodes) {
    for (const json& c : n.value("children", json::array())) {
      if (c.get<size_t>() >= nodes.size()) fail("child index");
      ++parents[c.get<size_t>()];
    }
    if (n.contains("mesh") && n["mesh"].get<size_t>() >= j.value("meshes", json::array()).size()) fail("mesh index");
  }
  for (const json& r : j["scenes"][0]["nodes"]) {
    if (r.get<size_t>() >= nodes.size()) fail("root index");
    ++parents[r.get<size_t>()];
  }
  for (int p : parents)
    if (p != 1) fail("a node that is not in the tree exactly once");
  for (const json& anim : j.value("animations", json::array())) {
    for (const json& s : anim["samplers"])
      if (accessor_count(s["input"]) != accessor_count(s["output"])) fail("sampler counts differ");
    for (const json& c : anim["channels"]) {
      if (c["sampler"].get<size_t>() >= anim["samplers"].size()) fail("channel sampler");
      if (c["target"].contains("node") && c["target"]["node"].get<size_t>() >= nodes.size()) fail("channel node");
    }
  }
}

const std::string& scratch() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/fuzz_gltf_XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (!d) std::abort();
    return std::string(d);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (orvl::log_set_echo(false), true);
  (void)quiet;
  (void)scratch();
  if (size < 5) return 0;
  const bool as_scene = data[0] & 1;
  const size_t object_len = std::min<size_t>(u32(data + 1), size - 5);
  const uint8_t* object = data + 5;
  const uint8_t* text = object + object_len;
  const size_t text_len = size - 5 - object_len;
  orvl::log_clear();
  orvl::reset_texture_counter();
  orvl::Scene scene;
  orvl::scene_construct(scene);
  (void)orvl::scene_configure(scene, 0, 640, 480, 256, 0);
  orvl::GltfOptions options;
  bool loaded = false;
  if (!as_scene) {
    scene.objects.resize(orvl::kMaxObjects);
    scene.motions.resize(orvl::kMaxMotions);
    scene.lights.resize(orvl::kMaxLights);
    orvl::ObjectLoadOptions lo;
    lo.images_required = false;
    orvl::ObjectLoadContext context;
    loaded = orvl::load_object_data(scene, context, std::vector<uint8_t>(object, object + object_len), lo) ==
             orvl::LoadStatus::ok;
    options.animate = false;
  } else {
    FILE* f = std::fopen((scratch() + "/o.lwo").c_str(), "wb");
    if (!f || std::fwrite(object, 1, object_len, f) != object_len || std::fclose(f) != 0) std::abort();
    orvl::scene_set_lightwave_root(scene, scratch() + "/");  // the root carries its separator
    loaded = orvl::scene_load_text(scene, scratch() + "/fuzz.lws", text, text_len) == orvl::SceneStatus::ok;
    // Enough samples to cross keys, few enough that a scene of a million frames stays quick.
    options.fps = 8;
    options.to_ms = 4000;
    options.pointer = (data[0] & 2) == 0;
  }
  if (loaded) {
    orvl::GltfDocument doc;
    std::string why;
    const orvl::GltfStatus st = orvl::gltf_build(scene, options, doc, &why);
    if (st == orvl::GltfStatus::ok) {
      std::vector<uint8_t> glb;
      if (orvl::gltf_glb_bytes(doc, glb, &why) == orvl::GltfStatus::ok) check_glb(glb);
      else if (why.empty()) fail("a refusal without a reason");
    } else if (why.empty()) {
      fail("a refusal without a reason");
    }
  }
  orvl::scene_destroy(scene);
  orvl::scene_destroy(scene);
  return 0;
}
