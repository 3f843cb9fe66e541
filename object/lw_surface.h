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
//                     FLAG 4 when there is no SMAN; without FLAG 4 an LWOB surface is
//                     faceted whatever its SMAN says, as LightWave 5 draws it: several
//                     exporters write SMAN with FLAG 0)
//   wrap amounts      LWO2 WRPW/WRPH; LWOB keeps them in TFP0/TFP1 of cylindrical and
//                     spherical image maps
//   texture centre and size in object units; rotation heading, pitch, bank in radians.
//
// LWOB FLAG bits as the LWOB document numbers them: 1 luminous, 2 outline, 4 smoothing,
// 8 colour highlights, 0x10 colour filter, 0x20 opaque edge, 0x40 transparent edge,
// 0x80 sharp terminator, 0x100 double sided, 0x200 additive, 0x400 shadow alpha.
//
// Defaults for what a file leaves out (LWOB has none of its own; these are the values a new
// surface gets in LightWave 5 Modeler, and the ones the LWO2 document states for its
// missing sub-chunks, so both generations agree): colour 200, 200, 200; diffuse 100%;
// specular, luminosity, transparency, reflection, translucency 0; glossiness 40% (LWOB
// "Medium", n = 64); refractive index 1; faceted; single-sided; no texture layers. In a
// layer: centre and rotation 0, size 1, wrap repeat on both axes, wrap amounts 1, opacity
// 100%. LWO2 layers without OPAC blend additively, as the LWO2 document says; LWOB layers
// have no blend mode and get `normal`.
//
// Guarantee to readers: the loaders pass every record through `lw_sanitize_surface` once,
// so every float is finite, fractions lie in their ranges (colour, transparency,
// reflection, colour highlights, colour filter, opacity in 0..1; diffuse, specular,
// luminosity, translucency in 0..100), gloss_exponent in 4..4096 with `glossiness` the
// matching 0..1 value, smoothing_angle in 0..pi, refraction_index in 0.01..100, no
// texture size component is below 1e-6 in magnitude (0 becomes 1) and wrap amounts lie
// in 0.001..1024 (0 or less becomes 1). What was clamped is
// named in one log line per object.
//
// Sources: the LWOB object file document (Hastings & Ferguson, revised 11/28/94) for the
// SURF sub-chunks, FLAG and TFLG bits and texture blocks; the LWO2 object file document
// (LightWave SDK file formats) for SURF, BLOK, IMAP/PROC/GRAD headers, TMAP and ordinals.
#pragma once

#include <cstddef>
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
// 1 repeat, 2 mirror, 3 edge (the border pixels stretch). LWOB numbers them differently
// (0 black, 1 clamp, 2 repeat, 3 mirror) and is translated on load.
enum class LwWrap : uint8_t { reset = 0, repeat = 1, mirror = 2, edge = 3 };
const char* lw_wrap_name(LwWrap w);

// How a layer combines with the layers before it on its channel (LWO2 OPAC type).
enum class LwBlend : uint8_t {
  normal = 0,
  subtractive = 1,
  difference = 2,
  multiply = 3,
  divide = 4,
  alpha = 5,
  displacement = 6,
  additive = 7,
};
const char* lw_blend_name(LwBlend b);

// LWO2 TMAP FALL type; LWOB falloff is per axis (cubic).
enum class LwTextureFalloff : uint8_t { cubic = 0, spherical = 1, linear_x = 2, linear_y = 3, linear_z = 4 };
const char* lw_texture_falloff_name(LwTextureFalloff f);

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
// LWOB layers keep file order; LWO2 layers are sorted by their ordinal strings (byte
// comparison, as the LWO2 document prescribes), which is LightWave's evaluation order:
// each layer applies over the ones before it on the same channel.
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
  float falloff[3] = {0, 0, 0};    // LWOB TFAL, LWO2 TMAP FALL (rate per unit distance)
  LwTextureFalloff falloff_type = LwTextureFalloff::cubic;
  float velocity[3] = {0, 0, 0};   // LWOB TVEL (texture units per frame)
  LwWrap wrap_u = LwWrap::repeat;
  LwWrap wrap_v = LwWrap::repeat;
  float wrap_width = 1;            // cylindrical and spherical repeats around (LWO2 WRPW)
  float wrap_height = 1;           // spherical repeats up and down (LWO2 WRPH)
  float opacity = 1;               // LWO2 OPAC, LWOB TOPC (1 = 100%)
  LwBlend blend = LwBlend::normal; // LWO2 OPAC type
  float antialias_strength = 1;    // LWOB TAAS, LWO2 AAST
  float amplitude = 1;             // LWOB and LWO2 TAMP (bump layers)
  std::string ordinal;             // LWO2 block ordinal bytes ("" for LWOB)
  std::string image_path;          // as written in the object ("" none)
  std::string uv_map;              // LWO2 VMAP name of a UV layer
  std::string procedural;          // procedural texture name ("" for image maps)
  // The picture as the scene holds it: 1-based scene image number, as `Surface::texture`
  // numbers them, or -1 when it was not loaded (missing file, or not the layer the engine
  // loads pixels for). The GL texture name is `texture_base + image - 1`, as for the
  // engine's triangles.
  int image = -1;
  // Where that picture sits in its uploaded texture (all 0 while `image` is -1). Pictures
  // become square power-of-two textures of side `texture_side`: an ordinary picture is
  // scaled (nearest neighbour) to fill the whole square, so `coverage` is 1, 1 and image
  // coordinates 0..1 are texture coordinates as they are; a static-image surface's picture
  // is copied unscaled into the top-left corner, and `coverage` is the fraction of the
  // texture's width and height it fills (multiply 0..1 image coordinates by it; texture
  // row 0 is the picture's top row). `image_width` and `image_height` are the picture
  // file's own pixel size (before the display's texture size limit).
  int32_t image_width = 0, image_height = 0;
  int32_t texture_side = 0;
  float coverage[2] = {0, 0};
};

// What the engine decoded into a surface's colour (0) and reflection (1) slots, in the
// terms of the layer fields above (all 0 when the file did not decode and the texture
// stays blank). Written by the surface image layer as it decodes (or shares an earlier
// surface's picture), copied into the layer that named the picture.
struct LwDecodedImage {
  int32_t width = 0, height = 0;
  int32_t side = 0;
  float coverage[2] = {0, 0};
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
  float translucency = 0.0f;      // LWO2 TRNL
  float diffuse_sharpness = 0.0f; // LWO2 SHRP; LWOB FLAG 0x80 (sharp terminator) gives 0.5
  float color_highlights = 0.0f;  // LWOB FLAG 8 gives 1; LWO2 CLRH fraction
  float color_filter = 0.0f;      // LWOB FLAG 0x10 gives 1; LWO2 CLRF fraction
  float smoothing_angle = 0.0f;   // radians, 0 faceted
  bool double_sided = false;      // LWOB FLAG 0x100, LWO2 SIDE 3
  bool additive = false;          // LWOB FLAG 0x200, LWO2 ADTR > 0
  uint32_t lwob_flags = 0;        // the LWOB FLAG word as written (0 for LWO2)
  std::string reflection_image;   // LWOB RIMG / LWO2 RIMG clip still, "" none
  int reflection_mode = 0;        // LWOB RFLT / LWO2 RFOP: 0 backdrop, 1 ray trace +
                                  // backdrop, 2 spherical map, 3 ray trace + spherical map
  std::vector<LwTextureLayer> layers;
  LwDecodedImage decoded[2];

  // The first enabled image layer on the colour channel, or null.
  const LwTextureLayer* color_layer() const {
    for (const LwTextureLayer& l : layers)
      if (l.enabled && l.image_map && l.channel == LwChannel::color) return &l;
    return nullptr;
  }
};

// --- Reading, checking and smoothing (object/lw_surface.cpp) ---

// Reads an LWOB SURF chunk's sub-chunks (the bytes after the surface name: `data`, `size`)
// into `out`, which starts from the defaults above. Values are stored as the file gives
// them; a sub-chunk cut short is ignored. The layers' `image` fields stay -1 (the loader
// fills them). Returns false when a sub-chunk runs past the data (what was read before it
// is kept).
// `timg_offsets`, when given, gets per layer the offset within `data` of its TIMG
// sub-chunk's data (SIZE_MAX without one), so the loader can tell which layer named the
// picture it loaded.
bool lw_read_lwob_surface(const uint8_t* data, size_t size, LwSurfaceParams& out,
                          std::vector<size_t>* timg_offsets = nullptr);

// Maps LWOB texture type names to the layer kind: the five "... Image Map" names give an
// image layer with its projection; any other name is a procedural one.
void lw_lwob_texture_kind(const std::string& name, LwTextureLayer& layer);

// Brings every value of `s` into the ranges the header promises. Returns a bit set of
// `LwClamped` naming what had to change (0 when nothing did).
namespace LwClamped {
constexpr unsigned NOT_FINITE = 0x1;      // NaN or infinity anywhere (replaced by the default)
constexpr unsigned GLOSSINESS = 0x2;
constexpr unsigned SMOOTHING = 0x4;       // negative or NaN smoothing angle
constexpr unsigned FRACTION = 0x8;        // a colour or level outside its range
constexpr unsigned WRAP_COUNT = 0x10;
constexpr unsigned TEXTURE_SIZE = 0x20;   // a size component of 0
constexpr unsigned REFRACTION = 0x40;
}  // namespace LwClamped
unsigned lw_sanitize_surface(LwSurfaceParams& s);
// "glossiness, smoothing angle, ..." for the log line.
std::string lw_clamped_text(unsigned clamped);

// Per-corner smoothing normals, LightWave's rule: the corner of a polygon at a point
// averages the normals of the polygons around that point on the same surface whose normal
// lies within the surface's smoothing angle of this polygon's (the polygon itself always
// counts); with an angle of 0 every corner keeps the polygon normal. Each polygon counts
// once however many triangles it became.
//   corners        3 point numbers per triangle (`triangles` of them), each < point_count
//   polygon        per triangle, the polygon it came from; a polygon's triangles are
//                  consecutive
//   polygon_normal 3 floats per polygon, unit or zero (a degenerate polygon)
//   surface        per triangle, its surface index; `cos_angle[surface]` the cosine of
//                  that surface's smoothing angle, or a value above 1 for faceted ones
// `out` gets 9 floats per triangle, always unit length: a degenerate polygon takes the
// mean of the polygons around it on its surface and, when that is zero too, +Z. The
// orientation is that of `Triangle::normal`, which points out of a polygon's visible side
// in files LightWave wrote (checked on the LightWave 6 earth spheres). Linear in the number of corners: a point
// shared by more than 64 polygons compares each polygon with the mean of its surface's
// polygons there (smoothing to that mean when within the angle) instead of with every
// neighbour, so a fan round one point stays linear.
void lw_corner_normals(const int32_t* corners, size_t triangles, size_t point_count,
                       const uint32_t* polygon, const float* polygon_normal,
                       const uint32_t* surface, const float* cos_angle,
                       std::vector<float>& out);

// The cosine `lw_corner_normals` wants for a smoothing angle in radians (faceted for 0).
float lw_smoothing_cosine(float angle);

// Texture coordinates of object-space point `p` for a planar, cylindrical or spherical map
// around `center`, scaled by `size` (a side of 0 counts as 1), repeated `wrap_width` times
// around and `wrap_height` times up and down; cubic and front are placed as planar along
// `axis` (0 X, 1 Y, 2 Z). `v` runs top-down, as picture rows do. The LWO2 loader places its
// triangles' coordinates with it and the exporter places LWOB maps with it, so both agree.
void lw_project_point(LwProjection projection, int axis, const float center[3], const float size[3],
                      double wrap_width, double wrap_height, const double p[3], float& u, float& v);

}  // namespace orvl
