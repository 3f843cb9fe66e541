// The surface record: one surface's parameters as LightWave defines them, filled by both
// object loaders (LWOB and LWO2) beside the engine's own `Surface` fields and triangle
// flags, and read by the lightwave look, the glTF exporter, the thumbnailer and
// `dump-object --json`. The engine look never reads it.
//
// Units are LightWave's, normalised once here so that every reader sees one meaning:
//   colour            0..1 per channel (LWOB COLR bytes / 255; LWO2 COLR floats)
//   diffuse, specular, luminosity, transparency, reflection
//                     fractions, 1 = 100% (LWOB u16 values with 256 = 100%, overridden by
//                     the LightWave 5 float sub-chunks VDIF, VSPC, VLUM, VTRN, VRFL where
//                     present; LWO2 floats)
//   glossiness        `gloss_exponent` is the Phong exponent n: LWOB GLOS is n itself;
//                     LWO2 GLOS g gives n = 2^(10 g + 2); `glossiness` keeps the 0..1 value
//                     (LWOB: log2(n)/10 - 0.2, so both generations can be compared)
//   smoothing_angle   radians; 0 = faceted (LWO2 SMAN; LWOB SMAN, or 89.5 degrees under
//                     FLAG 4 when there is no SMAN)
//   texture centre and size in object units; rotation heading, pitch, bank in radians.
//
// Sources for the meaning of each field: the LWOB and LWO2 object file format documents
// (SURF sub-chunks and their BLOK/TMAP records) and the LightWave 5 and 6 surface manuals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvl {

enum class LwProjection : uint8_t {
  planar = 0,
  cylindrical = 1,
  spherical = 2,
  cubic = 3,
  front = 4,
  uv = 5,
};
const char* lw_projection_name(LwProjection p);

// What the image does outside 0..1 (LWO2 WRAP; LWOB TWRP): 0 reset (nothing drawn there),
// 1 repeat, 2 mirror, 3 edge (the border pixels stretch).
enum class LwWrap : uint8_t { reset = 0, repeat = 1, mirror = 2, edge = 3 };
const char* lw_wrap_name(LwWrap w);

// The surface channel a texture layer drives (LWOB: CTEX, DTEX, STEX, LTEX, RTEX, TTEX,
// BTEX; LWO2: BLOK CHAN).
enum class LwChannel : uint8_t {
  color = 0,
  diffuse = 1,
  specular = 2,
  luminosity = 3,
  reflection = 4,
  transparency = 5,
  bump = 6,
  glossiness = 7,
  other = 8,
};
const char* lw_channel_name(LwChannel c);

// One texture layer: an image map, or a procedural one (which the looks do not draw, but
// which is kept so that `dump-object --json` and the exporter can say it is there).
struct LwTextureLayer {
  LwChannel channel = LwChannel::color;
  bool image_map = true;     // false: a procedural texture (`procedural` names it)
  bool enabled = true;       // LWO2 ENAB
  LwProjection projection = LwProjection::planar;
  uint8_t axis = 2;          // 0 X, 1 Y, 2 Z
  bool world_coordinates = false;  // LWOB TFLG 8, LWO2 TMAP CSYS 1
  bool negative = false;           // LWOB TFLG 0x10, LWO2 NEGA
  bool pixel_blending = false;     // LWOB TFLG 0x20, LWO2 PIXB
  bool antialiasing = false;       // LWOB TFLG 0x40, LWO2 AAST
  uint32_t lwob_flags = 0;         // the LWOB TFLG word as written
  float center[3] = {0, 0, 0};
  float size[3] = {1, 1, 1};
  float rotation[3] = {0, 0, 0};   // heading, pitch, bank (LWO2 TMAP ROTA)
  float falloff[3] = {0, 0, 0};    // LWOB TFAL, LWO2 TMAP FALL
  float velocity[3] = {0, 0, 0};   // LWOB TVEL (texture units per frame)
  LwWrap wrap_u = LwWrap::repeat;
  LwWrap wrap_v = LwWrap::repeat;
  float wrap_width = 1;            // cylindrical and spherical repeats around (LWO2 WRPW)
  float wrap_height = 1;           // spherical repeats up and down (LWO2 WRPH)
  float opacity = 1;               // LWO2 OPAC, LWOB TOPC (1 = 100%)
  std::string image_path;          // as written in the object ("" none)
  std::string uv_map;              // LWO2 VMAP name of a UV layer
  std::string procedural;          // procedural texture name ("" for image maps)
  // The picture as the scene holds it: 1-based scene image number, as `Surface::texture`
  // numbers them, or -1 when it was not loaded (missing file, or not the layer the engine
  // loads pixels for).
  int image = -1;
};

struct LwSurfaceParams {
  float color[3] = {200 / 255.0f, 200 / 255.0f, 200 / 255.0f};
  float diffuse = 1.0f;
  float specular = 0.0f;
  float glossiness = 0.4f;       // 0..1 (see above)
  float gloss_exponent = 64.0f;  // Phong n
  float luminosity = 0.0f;
  float transparency = 0.0f;
  float reflection = 0.0f;
  float refraction_index = 1.0f;
  float color_highlights = 0.0f;  // LWOB FLAG 8 gives 1; LWO2 CLRH fraction
  float color_filter = 0.0f;      // LWOB FLAG 0x40 gives 1; LWO2 CLRF fraction
  float smoothing_angle = 0.0f;   // radians, 0 faceted
  bool double_sided = false;      // LWOB FLAG 0x100, LWO2 SIDE 3
  bool additive = false;          // LWOB FLAG 0x200, LWO2 ADTR > 0
  uint32_t lwob_flags = 0;        // the LWOB FLAG word as written (0 for LWO2)
  std::string reflection_image;   // LWOB RIMG / LWO2 RIMG clip still, "" none
  int reflection_mode = 0;        // LWOB RFLT / LWO2 RFOP
  std::vector<LwTextureLayer> layers;

  // The first enabled image layer on the colour channel, or null.
  const LwTextureLayer* color_layer() const {
    for (const LwTextureLayer& l : layers)
      if (l.enabled && l.image_map && l.channel == LwChannel::color) return &l;
    return nullptr;
  }
};

}  // namespace orvl
