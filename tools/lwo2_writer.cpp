#include "tools/lwo2_writer.h"

#include <cstring>

#include "platform/file.h"

namespace orvl {

namespace {

std::vector<uint8_t> f32s(std::initializer_list<float> v) {
  std::vector<uint8_t> out;
  for (float f : v) lw_put_f32(out, f);
  return out;
}

// A value followed by a zero envelope index, as surface parameters are stored.
std::vector<uint8_t> enveloped(std::initializer_list<float> v) {
  std::vector<uint8_t> out = f32s(v);
  lw_put_vx(out, 0);
  return out;
}

std::vector<uint8_t> u16s(uint16_t v) {
  std::vector<uint8_t> out;
  lw_put_u16(out, v);
  return out;
}

}  // namespace

void lw_put_vx(std::vector<uint8_t>& out, uint32_t v) {
  if (v < 0xFF00) {
    lw_put_u16(out, static_cast<uint16_t>(v));
  } else {
    lw_put_u32(out, v | 0xFF000000u);
  }
}

void lwo2_put_sub(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& data) {
  out.insert(out.end(), id, id + 4);
  lw_put_u16(out, static_cast<uint16_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() & 1) out.push_back(0);
}

std::vector<uint8_t> lwo2_bytes(const Lwo2Model& model) {
  std::vector<LwChunk> chunks;
  LwChunk tags{"TAGS", {}};
  for (const auto& s : model.surfaces) lw_put_string(tags.data, s.name);
  chunks.push_back(tags);

  // Clips: one per distinct image name, numbered from 1.
  std::vector<std::string> images;
  auto clip_of = [&images](const std::string& name) -> uint32_t {
    for (size_t i = 0; i < images.size(); ++i)
      if (images[i] == name) return static_cast<uint32_t>(i + 1);
    images.push_back(name);
    return static_cast<uint32_t>(images.size());
  };
  for (const auto& s : model.surfaces)
    if (!s.image.empty()) (void)clip_of(s.image);

  for (const auto& l : model.layers) {
    LwChunk layr{"LAYR", {}};
    lw_put_u16(layr.data, l.number);
    lw_put_u16(layr.data, 0);
    for (float p : l.pivot) lw_put_f32(layr.data, p);
    lw_put_string(layr.data, l.name);
    if (l.parent >= 0) lw_put_u16(layr.data, static_cast<uint16_t>(l.parent));
    chunks.push_back(layr);

    LwChunk pnts{"PNTS", {}};
    for (float p : l.points) lw_put_f32(pnts.data, p);
    chunks.push_back(pnts);

    if (!l.uvs.empty()) {
      LwChunk vmap{"VMAP", {'T', 'X', 'U', 'V'}};
      lw_put_u16(vmap.data, 2);
      lw_put_string(vmap.data, l.uv_name);
      for (size_t i = 0; i + 1 < l.uvs.size(); i += 2) {
        lw_put_vx(vmap.data, static_cast<uint32_t>(i / 2));
        lw_put_f32(vmap.data, l.uvs[i]);
        lw_put_f32(vmap.data, l.uvs[i + 1]);
      }
      chunks.push_back(vmap);
    }

    LwChunk pols{"POLS", {}};
    const char* type = l.patches ? "PTCH" : "FACE";
    pols.data.insert(pols.data.end(), type, type + 4);
    for (const auto& poly : l.polygons) {
      lw_put_u16(pols.data, static_cast<uint16_t>(poly.size() & 0x3FF));
      for (uint32_t v : poly) lw_put_vx(pols.data, v);
    }
    chunks.push_back(pols);

    LwChunk ptag{"PTAG", {'S', 'U', 'R', 'F'}};
    for (size_t i = 0; i < l.polygons.size(); ++i) {
      lw_put_vx(ptag.data, static_cast<uint32_t>(i));
      lw_put_u16(ptag.data, i < l.surfaces.size() ? l.surfaces[i] : 0);
    }
    chunks.push_back(ptag);
  }

  for (size_t i = 0; i < images.size(); ++i) {
    LwChunk clip{"CLIP", {}};
    lw_put_u32(clip.data, static_cast<uint32_t>(i + 1));
    std::vector<uint8_t> name;
    lw_put_string(name, images[i]);
    lwo2_put_sub(clip.data, "STIL", name);
    chunks.push_back(clip);
  }

  for (const auto& s : model.surfaces) {
    LwChunk surf{"SURF", {}};
    lw_put_string(surf.data, s.name);
    lw_put_string(surf.data, "");
    lwo2_put_sub(surf.data, "COLR", enveloped({s.color[0], s.color[1], s.color[2]}));
    lwo2_put_sub(surf.data, "DIFF", enveloped({s.diffuse}));
    lwo2_put_sub(surf.data, "LUMI", enveloped({s.luminosity}));
    lwo2_put_sub(surf.data, "TRAN", enveloped({s.transparency}));
    lwo2_put_sub(surf.data, "SIDE", u16s(s.sidedness));
    lwo2_put_sub(surf.data, "SMAN", f32s({s.smoothing_angle}));
    if (!s.image.empty()) {
      std::vector<uint8_t> head;
      lw_put_string(head, "\x80");
      lwo2_put_sub(head, "CHAN", {'C', 'O', 'L', 'R'});
      lwo2_put_sub(head, "ENAB", u16s(1));
      std::vector<uint8_t> tmap;
      lwo2_put_sub(tmap, "CNTR", enveloped({s.center[0], s.center[1], s.center[2]}));
      lwo2_put_sub(tmap, "SIZE", enveloped({s.size[0], s.size[1], s.size[2]}));
      std::vector<uint8_t> blok;
      lwo2_put_sub(blok, "IMAP", head);
      lwo2_put_sub(blok, "TMAP", tmap);
      lwo2_put_sub(blok, "PROJ", u16s(s.projection));
      lwo2_put_sub(blok, "AXIS", u16s(s.axis));
      std::vector<uint8_t> imag;
      lw_put_vx(imag, clip_of(s.image));
      lwo2_put_sub(blok, "IMAG", imag);
      if (!s.uv_map.empty()) {
        std::vector<uint8_t> vm;
        lw_put_string(vm, s.uv_map);
        lwo2_put_sub(blok, "VMAP", vm);
      }
      lwo2_put_sub(surf.data, "BLOK", blok);
    }
    for (const LwChunk& c : s.subchunks) lwo2_put_sub(surf.data, c.id.c_str(), c.data);
    chunks.push_back(surf);
  }
  for (const auto& c : model.extra) chunks.push_back(c);
  return lw_form("LWO2", chunks);
}

bool lwo2_write(const std::string& path, const Lwo2Model& model) {
  const std::vector<uint8_t> b = lwo2_bytes(model);
  return write_whole_file(path, b.data(), b.size());
}

}  // namespace orvl
