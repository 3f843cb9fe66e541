// Reader of LightWave 6 objects (FORM LWO2) into plain tables, for the object loader to
// turn into meshes and surfaces.
//
// What is read: TAGS (the tag strings polygons refer to), LAYR (number, pivot, name,
// parent), PNTS, VMAP and VMAD of type TXUV (per-point and per-polygon-corner UVs), POLS
// of type FACE and PTCH (a subdivision patch keeps its cage polygon), PTAG SURF, CLIP with
// a STIL image name, and SURF with COLR, DIFF, LUMI, TRAN, SIDE, SMAN and its first enabled
// image-map BLOK on the colour channel (PROJ, AXIS, TMAP CNTR/SIZE, IMAG, VMAP) for the
// engine; beside them, for the surface record (`Lwo2Surface::lw`), also SPEC, GLOS, REFL,
// TRNL, RIND, SHRP, CLRH, CLRF, ADTR, RFOP, RIMG and every IMAP, PROC and GRAD block (header
// ordinal, CHAN, ENAB, OPAC, NEGA; TMAP CNTR, SIZE, ROTA, FALL, CSYS; PROJ, AXIS, IMAG,
// WRAP, WRPW, WRPH, VMAP, AAST, PIXB, TAMP; FUNC and PNAM names). A damaged PROC or GRAD
// block ends that block's reading only, as before when such blocks were stepped over.
// Every other chunk is stepped over by its size.
//
// Indices: PNTS of a layer append to `points`; a polygon's corners, VMAP and VMAD points
// are stored as indices into that whole table, after checking that they name a point of
// the current layer. PTAG and VMAD polygon numbers count from the start of the POLS chunk
// they follow, as LightWave writes them; tags of polygons of a skipped type are ignored.
//
// Bad input: every read goes through the bounds-checked ByteReader, so nothing is read
// past the data. A chunk or sub-chunk whose size runs past its container, a point index
// outside its layer, a tag index outside TAGS or a polygon record cut short fails the
// whole read with a status; nothing partial is handed over as an object. Tables never
// hold more entries than the file has bytes for, and `Lwo2Limits` caps them below that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "object/lw_surface.h"

namespace orvl {

enum class [[nodiscard]] Lwo2Status : int {
  ok = 0,
  not_lwo2 = 1,    // not a FORM of type LWO2 (an LWOB object, another file)
  truncated = 2,   // a chunk, sub-chunk or record runs past the end of its container
  bad_index = 3,   // a point, polygon or tag index that names nothing
  too_large = 4,   // more points, polygons or corners than the limits allow
};
const char* lwo2_status_text(Lwo2Status s);

struct Lwo2Limits {
  uint32_t max_points = 4u << 20;
  uint32_t max_polygons = 4u << 20;
  uint32_t max_corners = 16u << 20;  // polygon corners in all
};

struct Lwo2Layer {
  uint16_t number = 0;
  int32_t parent = -1;  // the parent's layer number, -1 for none
  float pivot[3] = {0, 0, 0};
  std::string name;
  uint32_t first_point = 0, point_count = 0;
  uint32_t first_polygon = 0, polygon_count = 0;
};

struct Lwo2Polygon {
  uint32_t first_corner = 0;  // into Lwo2Object::corners
  uint16_t corner_count = 0;
  bool patch = false;         // a PTCH cage
  int32_t tag = -1;           // PTAG SURF tag index, -1 when untagged
  uint16_t layer = 0;         // index into Lwo2Object::layers
};

// A TXUV map: per-point UVs (VMAP) and per-corner overrides (VMAD).
struct Lwo2UvMap {
  std::string name;
  std::vector<uint32_t> points;  // VMAP entries: point index ...
  std::vector<float> uvs;        // ... and its u, v
  std::vector<uint32_t> corner_points;    // VMAD entries: point index,
  std::vector<uint32_t> corner_polygons;  // polygon index (into `polygons`),
  std::vector<float> corner_uvs;          // u, v
};

struct Lwo2Clip {
  uint32_t index = 0;
  std::string still;  // STIL file name as written ("" for other clip kinds)
};

enum class Lwo2Projection : uint8_t { planar = 0, cylindrical = 1, spherical = 2, cubic = 3,
                                      front = 4, uv = 5 };

struct Lwo2ImageMap {
  bool present = false;
  Lwo2Projection projection = Lwo2Projection::planar;
  uint8_t axis = 0;  // 0 X, 1 Y, 2 Z
  float center[3] = {0, 0, 0};
  float size[3] = {1, 1, 1};
  uint32_t clip = 0;  // CLIP index, 0 for none
  std::string uv_map;
};

struct Lwo2Surface {
  // The whole surface as LightWave defines it: every base value and every BLOK as a
  // texture layer, sorted by ordinal (image paths and `image` numbers are left for the
  // loader, which resolves clips). The fields below it are what the engine draws from.
  LwSurfaceParams lw;
  uint32_t reflection_clip = 0;        // RIMG clip index, 0 none
  std::vector<uint32_t> layer_clips;   // per `lw.layers` entry: its IMAG clip index, 0 none
  int image_layer = -1;                // the `lw.layers` entry `image` came from, -1 none

  std::string name;
  float color[3] = {0.784314f, 0.784314f, 0.784314f};
  float diffuse = 1.0f;
  float luminosity = 0;
  float transparency = 0;
  uint16_t sidedness = 1;       // 3: both sides
  float smoothing_angle = 0;    // radians; > 0 means smooth shading
  Lwo2ImageMap image;           // first enabled colour image map
};

struct Lwo2Object {
  std::vector<std::string> tags;
  std::vector<Lwo2Layer> layers;
  std::vector<float> points;  // x, y, z per point
  std::vector<uint32_t> corners;
  std::vector<Lwo2Polygon> polygons;
  std::vector<Lwo2UvMap> uv_maps;
  std::vector<Lwo2Clip> clips;
  std::vector<Lwo2Surface> surfaces;

  uint32_t point_count() const { return static_cast<uint32_t>(points.size() / 3); }
  const Lwo2Surface* surface_named(const std::string& name) const;
  const Lwo2Clip* clip_with_index(uint32_t index) const;
  const Lwo2UvMap* uv_map_named(const std::string& name) const;
};

// True when the data starts with FORM ... LWO2.
bool is_lwo2(const uint8_t* data, size_t size);

// Reads a whole LWO2 file. `out` is reset first; on any status but ok it is left empty.
Lwo2Status lwo2_read(const uint8_t* data, size_t size, Lwo2Object& out,
                     const Lwo2Limits& limits = Lwo2Limits());

}  // namespace orvl
