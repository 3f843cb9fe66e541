// LWOB object loader: reads one LightWave 5 object file into the next free object of an
// ObjectTable (a scene), turning polygons into triangles with surface colours, flags, texture numbers,
// planar texture coordinates and normals. Called by the scene parser for every
// "LoadObject" line, and by the inspection command.
//
// Reads the chunks "PNTS", "SRFS", "POLS" and "SURF" of a "FORM" of type "LWOB" (the
// first of each of the first three; every other chunk is skipped), and in "SURF" the
// sub-chunks "COLR", "FLAG", "TFLG", "TIMG" and the "RTEX" reflection block. Surface
// names carry keywords that switch on effects ("__STATIC_IMAGE__", "__PARTICLES_", ...).
// Beside the engine's fields, every surface's LightWave record (`Surface::lw`, see
// object/lw_surface.h) is read from the whole "SURF" chunk, its layers told which scene
// image the engine loaded for them, and checked once (one log line per object names what
// was clamped); `SceneObject::corner_normals` gets LightWave's smoothing from the polygon
// normals (Newell's, before triangulation). Both LWOB and LWO2 loads fill these.
//
// Capacities: 50 objects per scene, 127-character surface names, 65535 surfaces per
// object, 256 image names per scene; exceeding one fails with out_of_memory and a log
// line naming the limit. Damaged files never make the loader read or write outside its
// buffers:
//   - a chunk or sub-chunk whose size runs past the end of the file or its chunk, or a
//     polygon cut off by the end of "POLS": bad_format (the file is truncated);
//   - a polygon naming a point number not below the point count, or a surface number of
//     0, above the surface count or negative (a detail-polygon marker; its detail count
//     is stepped over and the detail polygons are read as ordinary ones): the polygon is
//     skipped, the triangle count covers only the polygons kept, and a log line counts
//     the skipped ones;
//   - a "SURF" chunk whose name matches no "SRFS" name: skipped with a log line;
//   - a "__STATIC_IMAGE__" object with fewer than 4 points or 2 triangles (its picture
//     quad needs both): bad_format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "object/mesh.h"

namespace orvl {

enum class [[nodiscard]] LoadStatus : int {
  ok = 0,
  not_found = 1,      // object file, or one of its surface images (then image_missing)
  out_of_memory = 2,  // also used for a full scene table (a log line names the limit)
  bad_format = 4,     // not an LWOB form, or a structure the loader cannot use
};
const char* load_status_text(LoadStatus s);

struct ObjectLoadOptions {
  // False: a surface image that cannot be found leaves that surface without the image,
  // its shortened path is appended to `missing_images`, and the object still loads
  // (the context's `image_missing` and `error_path` still record the last one). For
  // inspection tools.
  bool images_required = true;
  std::vector<std::string>* missing_images = nullptr;
  // LightWave 6 objects: the layer to load ("LoadObjectLayer" number, LAYR number + 1),
  // 0 for all layers; and the path the object was read from (its folder is one of the
  // places clip images are looked for).
  int layer = 0;
  std::string object_path;
  // Untextured LWOB surfaces the engine leaves unlit (neither smoothing, flag 0x4, nor the
  // sharp terminator, 0x80, that it reads as flat lighting) are lit flat, as LightWave lights
  // a faceted surface; luminous ones (flag 0x1), textured and 2D-effect surfaces stay as the
  // engine reads them (a texture drawn unlit shows at full brightness). For an object viewed
  // on its own, which was not made for the engine's reading.
  bool light_unlit_surfaces = false;
};

// First attempt (retry false): drops the first 13 characters of `name` in place and opens
// the rest relative to the working directory. Retry: opens `name` unchanged. `context`
// comes back saying whether a surface image was what could not be found, and which.
LoadStatus load_object(ObjectTable& table, ObjectLoadContext& context, std::string& name,
                       bool retry, const ObjectLoadOptions& options = {});

// Loads an LWO2 object (FORM type "LWO2") from memory into the next free object: the
// chosen layer's points (or all), its FACE polygons and PTCH cages triangulated (concave
// polygons by ear clipping), one surface per SURF chunk the polygons use. Surfaces are
// always lit: smooth when their smoothing angle is above 0, flat otherwise; double-sided
// when SIDE is 3; translucent below full opacity from TRAN. The first colour image map
// gives the texture, through UVs (VMAP/VMAD TXUV) or a planar, cylindrical or spherical
// projection from its TMAP centre and size; its clip image is looked for as written, then
// by file name beside the object and below the LightWave root. `load_object_data`
// dispatches here on the FORM type.
LoadStatus load_lwo2_object_data(ObjectTable& table, ObjectLoadContext& context,
                                 const std::vector<uint8_t>& data, const ObjectLoadOptions& options);

// Loads an object from a file already in memory (the bytes become `object_data` for the
// duration of the load). `load_object` calls it after reading the file.
LoadStatus load_object_data(ObjectTable& table, ObjectLoadContext& context,
                            std::vector<uint8_t> data, const ObjectLoadOptions& options = {});

// The `TriangleFlags` word every triangle of `surface` gets once the object is loaded.
uint32_t surface_triangle_flags(const Surface& surface);

// Unit normal of the triangle a, b, c (right-handed from its corner order) into `n`; all
// zero for a triangle of zero area, which has no direction. Both loaders take their face
// normals from here.
void face_normal(const Vertex& a, const Vertex& b, const Vertex& c, double n[3]);

// Bytes of the per-vertex work buffer of a "_PLOTS_" object.
constexpr size_t kPlotsBytesPerVertex = 144;

}  // namespace orvl
