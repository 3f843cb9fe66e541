// Writer of LightWave 6 object files (IFF "FORM" of type "LWO2").
//
// Builds the chunks the object reader understands from plain tables: TAGS from the
// surface names, one LAYR/PNTS/VMAP TXUV/POLS/PTAG SURF group per layer, a CLIP STIL per
// distinct image name, and SURF chunks with COLR, DIFF, LUMI, TRAN, SIDE, SMAN and an
// image-map BLOK. Sub-chunks are padded to even lengths as LightWave pads them. Extra
// chunks (damaged ones too) can be appended for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/lwob_writer.h"

namespace orvl {

struct Lwo2WriterSurface {
  std::string name = "Default";
  float color[3] = {0.8f, 0.8f, 0.8f};
  float diffuse = 1.0f;
  float luminosity = 0;
  float transparency = 0;
  uint16_t sidedness = 1;
  float smoothing_angle = 0;  // radians
  std::string image;          // CLIP STIL file name; empty: no image map
  uint16_t projection = 0;    // 0 planar ... 5 UV
  uint16_t axis = 2;
  float center[3] = {0, 0, 0};
  float size[3] = {1, 1, 1};
  std::string uv_map;         // for the UV projection
  std::vector<LwChunk> subchunks;  // written after everything else in the SURF (any bytes)
};

struct Lwo2WriterLayer {
  uint16_t number = 0;
  int parent = -1;
  float pivot[3] = {0, 0, 0};
  std::string name;
  std::vector<float> points;                   // x, y, z
  std::vector<std::vector<uint32_t>> polygons;  // point numbers within the layer
  std::vector<uint16_t> surfaces;              // surface index per polygon (0 when missing)
  bool patches = false;                        // POLS of type PTCH instead of FACE
  std::string uv_name = "UV";
  std::vector<float> uvs;  // u, v per point; empty: no VMAP
};

struct Lwo2Model {
  std::vector<Lwo2WriterSurface> surfaces;
  std::vector<Lwo2WriterLayer> layers;
  std::vector<LwChunk> extra;  // appended after everything else
};

// A variable-length index (two bytes below 0xFF00, else four).
void lw_put_vx(std::vector<uint8_t>& out, uint32_t v);
// One LWO2 sub-chunk: ID, 16-bit size, data, pad byte after an odd size.
void lwo2_put_sub(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& data);

std::vector<uint8_t> lwo2_bytes(const Lwo2Model& model);
bool lwo2_write(const std::string& path, const Lwo2Model& model);

}  // namespace orvl
