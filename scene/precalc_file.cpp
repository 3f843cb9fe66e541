#include "scene/precalc_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/lzw_codec.h"
#include "platform/atomic_file.h"
#include "platform/file.h"
#include "platform/log.h"
#include "scene/motion.h"

namespace orvl {

const char* precalc_status_text(PrecalcStatus s) {
  switch (s) {
    case PrecalcStatus::ok: return "ok";
    case PrecalcStatus::no_file: return "no precalculation file";
    case PrecalcStatus::invalid: return "not a valid precalculation file";
    case PrecalcStatus::other_size: return "built for another output size";
    case PrecalcStatus::no_name: return "scene path has no .lws extension";
    case PrecalcStatus::write_failed: return "cannot write the file";
    case PrecalcStatus::out_of_memory: return "out of memory";
    case PrecalcStatus::not_building: return "no precalculation build in progress";
  }
  return "unknown";
}

namespace {

int32_t read_i32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

void put_i32(std::vector<uint8_t>& out, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

// A field that must hold a byte count: non-negative and at most kMaxPrecalcField.
bool count_field(int32_t v) { return v >= 0 && static_cast<uint32_t>(v) <= kMaxPrecalcField; }

// The one place this module writes a file: through the platform's atomic writer, so readers
// see either the old file or the complete new one.
bool write_replacing(const std::string& path, const uint8_t* data, size_t size, std::string* error) {
  return write_file_atomic(path, data, size, error);
}

// Where a new file for `name` goes: over the existing file whatever its letter case, else
// into the folder as found on disk.
std::string output_path(const std::string& name) {
  if (data_file_exists(name)) return resolve_data_path(name);
  const std::string dir = path_directory(name);
  if (dir.empty()) return name;
  return resolve_data_path(dir) + name.substr(dir.size());
}

// Releases the buffers of a build that will not be finished.
void drop_build(Scene& scene) {
  scene.precalc.precalc_open = 0;
  std::vector<uint8_t>().swap(scene.precalc.visibility);
  std::vector<uint32_t>().swap(scene.precalc.frame_table_out);
}

}  // namespace

std::string precalc_file_name(const std::string& scene_path) {
  const size_t n = scene_path.size();
  // Only the extension counts: dots in folder names ("a.lws.d/x.lws") and letter case
  // (".Lws") give the same name whoever builds it.
  if (n < 5) return {};
  const char* ext = scene_path.c_str() + n - 4;
  if (ext[0] != '.' || std::tolower(static_cast<unsigned char>(ext[1])) != 'l' ||
      std::tolower(static_cast<unsigned char>(ext[2])) != 'w' ||
      std::tolower(static_cast<unsigned char>(ext[3])) != 's')
    return {};
  const char before = scene_path[n - 5];
  if (before == '/' || before == '\\') return {};  // ".lws" alone is a hidden file, not an extension
  return scene_path.substr(0, n - 3) + "PRK";
}

PrecalcStatus precalc_parse(const uint8_t* data, size_t size, PrecalcFile& out, int want_width,
                            int want_height) {
  out = PrecalcFile();
  if (!data || size < sizeof kPrecalcMagic || std::memcmp(data, kPrecalcMagic, sizeof kPrecalcMagic) != 0)
    return PrecalcStatus::invalid;
  if (size < 17) return PrecalcStatus::invalid;
  out.width = read_i32(data + 5);
  out.height = read_i32(data + 9);
  out.step = read_i32(data + 13);
  if (want_width != 0 && (out.width != want_width || out.height != want_height)) return PrecalcStatus::other_size;
  if (out.step < 1 || out.step > kMaxPrecalcStep) return PrecalcStatus::invalid;
  if (size < kPrecalcHeaderBytes) return PrecalcStatus::invalid;
  const int32_t u = read_i32(data + 17);
  const int32_t c = read_i32(data + 21);
  if (!count_field(u) || !count_field(c)) return PrecalcStatus::invalid;
  const size_t stream_bytes = static_cast<size_t>(u);
  const size_t packed_bytes = static_cast<size_t>(c);
  if (packed_bytes > size - kPrecalcHeaderBytes) return PrecalcStatus::invalid;
  size_t pos = kPrecalcHeaderBytes + packed_bytes;
  if (size - pos < 4) return PrecalcStatus::invalid;
  const int32_t t = read_i32(data + pos);
  pos += 4;
  // The table ends the file: anything else means C or T is not what was written.
  if (!count_field(t) || t % 4 != 0 || static_cast<size_t>(t) != size - pos) return PrecalcStatus::invalid;
  out.compressed_size = static_cast<uint32_t>(c);

  // The table must walk forward through the stream: offsets never go back and never
  // point past its end (a frame with no bits may sit exactly at the end).
  const size_t frames = static_cast<size_t>(t) / 4;
  try {
    out.frame_table.resize(frames);
  } catch (const std::bad_alloc&) {
    return PrecalcStatus::out_of_memory;
  }
  uint32_t previous = 0;
  for (size_t i = 0; i < frames; ++i) {
    const int32_t entry = read_i32(data + pos + 4 * i);
    if (entry < 0 || static_cast<size_t>(entry) > stream_bytes || static_cast<uint32_t>(entry) < previous) {
      out.frame_table.clear();
      return PrecalcStatus::invalid;
    }
    out.frame_table[i] = previous = static_cast<uint32_t>(entry);
  }

  // Decode only as far as U: a short stream cannot be trusted, a long one is cut.
  if (stream_bytes > 0) {
    LzwCodec codec;
    LzwStatus st = codec.begin_decode();
    if (st == LzwStatus::ok) st = codec.set_input(data + kPrecalcHeaderBytes, packed_bytes);
    const uint8_t* decoded = nullptr;
    uint32_t length = 0;
    uint8_t percent = 0;
    while (st == LzwStatus::ok) {
      st = codec.decode_step(percent);
      codec.output(decoded, length);
      if (length >= stream_bytes) break;
    }
    codec.output(decoded, length);
    const bool short_stream = length < stream_bytes;
    if (!short_stream) {
      try {
        out.visibility.assign(decoded, decoded + stream_bytes);
      } catch (const std::bad_alloc&) {
        st = LzwStatus::out_of_memory;
      }
    }
    codec.end_decode();
    if (st == LzwStatus::out_of_memory && short_stream) return PrecalcStatus::out_of_memory;
    if (short_stream || out.visibility.size() != stream_bytes) {
      out.visibility.clear();
      out.frame_table.clear();
      return st == LzwStatus::out_of_memory ? PrecalcStatus::out_of_memory : PrecalcStatus::invalid;
    }
  }
  return PrecalcStatus::ok;
}

PrecalcStatus precalc_encode(const PrecalcFile& file, std::vector<uint8_t>& out) {
  out.clear();
  if (file.visibility.size() > kMaxPrecalcField || file.frame_table.size() > kMaxPrecalcField / 4)
    return PrecalcStatus::invalid;
  std::vector<uint8_t> packed;
  LzwStatus st = lzw_compress(file.visibility.data(), file.visibility.size(), packed);
  if (st != LzwStatus::ok) return st == LzwStatus::out_of_memory ? PrecalcStatus::out_of_memory : PrecalcStatus::invalid;
  if (packed.size() > kMaxPrecalcField) return PrecalcStatus::invalid;
  try {
    out.reserve(kPrecalcHeaderBytes + packed.size() + 4 + 4 * file.frame_table.size());
    out.insert(out.end(), kPrecalcMagic, kPrecalcMagic + sizeof kPrecalcMagic);
    put_i32(out, file.width);
    put_i32(out, file.height);
    put_i32(out, file.step);
    put_i32(out, static_cast<int32_t>(file.visibility.size()));
    put_i32(out, static_cast<int32_t>(packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
    put_i32(out, static_cast<int32_t>(file.frame_table.size() * 4));
    for (uint32_t entry : file.frame_table) put_i32(out, static_cast<int32_t>(entry));
  } catch (const std::bad_alloc&) {
    out.clear();
    return PrecalcStatus::out_of_memory;
  }
  return PrecalcStatus::ok;
}

PrecalcStatus precalc_write_file(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  return write_replacing(path, bytes.data(), bytes.size(), error) ? PrecalcStatus::ok : PrecalcStatus::write_failed;
}

bool precalc_object_takes_bits(const SceneObject& object) {
  return object.polygon_count > 0 && !object.is_morph_target && !object.static_image && !object.particles;
}

size_t precalc_frame_bytes(const Scene& scene) {
  size_t bits = 0;
  const int n = std::min<int>(scene.object_count, static_cast<int>(scene.objects.size()));
  for (int i = 0; i < n; ++i)
    if (precalc_object_takes_bits(scene.objects[i])) bits += static_cast<size_t>(scene.objects[i].polygon_count);
  return (bits + 7) / 8;
}

bool precalc_frame_usable(const Scene& scene) {
  if (scene.precalc.visibility.empty() || scene.precalc.precalc_file_step <= 0 || scene.current_frame < 0) return false;
  const size_t index = static_cast<size_t>(scene.current_frame / scene.precalc.precalc_file_step);
  const std::vector<uint32_t>& table = scene.precalc.frame_table;
  if (index >= table.size()) return false;
  const size_t begin = table[index];
  const size_t end = index + 1 < table.size() ? table[index + 1] : scene.precalc.visibility.size();
  if (begin > end || end > scene.precalc.visibility.size() || scene.precalc.visibility_cursor != begin) return false;
  return end - begin == precalc_frame_bytes(scene);
}

bool precalc_polygon_visible(const Vertex& p0, const Vertex& p1, const Vertex& p2, bool double_sided,
                             int width, int height) {
  if (!double_sided) {
    const double cx = double(p1.y) * p2.z - double(p1.z) * p2.y;
    const double cy = double(p1.z) * p2.x - double(p1.x) * p2.z;
    const double cz = double(p1.x) * p2.y - double(p1.y) * p2.x;
    if (p0.x * cx + p0.y * cy + p0.z * cz <= 0.0) return false;
  }
  // Wholly nearer than one unit (or behind the camera, which looks along -z).
  if (p0.z > -1.0f && p1.z > -1.0f && p2.z > -1.0f) return false;
  if (width <= 0 || height <= 0) return true;
  const double a = double(width) / height;
  const double b = 1.5 * height / width;
  const Vertex* p[3] = {&p0, &p1, &p2};
  double x[3], y[3];
  for (int i = 0; i < 3; ++i) {
    const double w = p[i]->z == 0.0f ? -1e13 : -1.0 / p[i]->z;
    x[i] = w * p[i]->x;
    y[i] = w * p[i]->y;
  }
  if (x[0] > a && x[1] > a && x[2] > a) return false;
  if (x[0] < -a && x[1] < -a && x[2] < -a) return false;
  if (y[0] > b && y[1] > b && y[2] > b) return false;
  if (y[0] < -b && y[1] < -b && y[2] < -b) return false;
  return true;
}

size_t precalc_table_entries(const Scene& scene) {
  constexpr size_t kCap = kMaxPrecalcField / 4;
  if (scene.motions.empty()) return 1;
  const Motion& camera = scene.motions[0];
  const double last = camera.last_frame;
  const double advance = double(scene.precalc.precalc_step) * camera.frame_step;
  if (!(last > 0) || !std::isfinite(last)) return 1;
  double calls;
  if (advance > 0 && std::isfinite(advance)) {
    // One spare entry: the frames add up in float and may land just short of the last.
    calls = std::ceil(last / advance) + 1;
  } else {
    calls = std::floor(last);  // the camera never gets there: the table bounds the build
  }
  if (!(calls >= 1)) return 1;
  return calls >= double(kCap) ? kCap : static_cast<size_t>(calls);
}

PrecalcStatus precalc_read(Scene& scene) {
  scene.precalc.precalc_resolution_differs = 0;
  const std::string name = precalc_file_name(scene.path);
  if (name.empty()) return PrecalcStatus::no_name;
  std::vector<uint8_t> bytes;
  switch (read_whole_file(name, bytes, kMaxWholeFileBytes)) {
    case FileStatus::ok: break;
    case FileStatus::not_found: return PrecalcStatus::no_file;
    default:
      scene.precalc.precalc_invalid = 1;
      log_line("Precalculation file " + name + " cannot be read: the scene plays without it.");
      return PrecalcStatus::invalid;
  }
  PrecalcFile file;
  const PrecalcStatus st = precalc_parse(bytes.data(), bytes.size(), file, scene.width, scene.height);
  if (st == PrecalcStatus::other_size) {
    scene.precalc.precalc_invalid = 1;
    scene.precalc.precalc_resolution_differs = 1;
    scene.precalc.precalc_file_step = file.step;
    log_line("Precalculation file " + name + " was built for " + std::to_string(file.width) + " x " +
             std::to_string(file.height) + ", not " + std::to_string(scene.width) + " x " +
             std::to_string(scene.height) + ": the scene plays without it.");
    return st;
  }
  if (st != PrecalcStatus::ok) {
    scene.precalc.precalc_invalid = 1;
    log_line("Precalculation file " + name + " is not usable (" + precalc_status_text(st) +
             "): the scene plays without it.");
    return st;
  }
  scene.precalc.precalc_file_step = file.step;
  scene.precalc.visibility.swap(file.visibility);
  scene.precalc.frame_table.swap(file.frame_table);
  scene.precalc.visibility_cursor = 0;
  log_line("Precalculation file " + name + " : " + std::to_string(scene.precalc.frame_table.size()) + " frames at step " +
           std::to_string(file.step) + ".");
  return PrecalcStatus::ok;
}

bool precalc_put_byte(Scene& scene, uint8_t byte) {
  const size_t length = static_cast<size_t>(scene.precalc.precalc_length);
  if (length >= kMaxPrecalcField) return false;
  if (length >= scene.precalc.visibility.size()) {
    try {
      scene.precalc.visibility.resize(scene.precalc.visibility.size() + kPrecalcGrowBytes);
    } catch (const std::bad_alloc&) {
      return false;
    }
    ++scene.precalc.precalc_capacity_mib;
  }
  scene.precalc.visibility[length] = byte;
  ++scene.precalc.precalc_length;
  return true;
}

void precalc_record_frame(Scene& scene) {
  if (scene.precalc.build_precalc) {
    // First call of a build: nothing is written yet, the file appears only when complete.
    scene.precalc.build_precalc = 0;
    scene.precalc.precalc_started = 1;
    scene.precalc.precalc_outcome = 2;  // until a file is written
    if (precalc_file_name(scene.path).empty()) {
      log_line("No precalculation file for " + scene.path + ": the path does not end in \".lws\".");
      return;
    }
    if (scene.precalc.precalc_step < 1 || scene.precalc.precalc_step > kMaxPrecalcStep) {
      log_line("No precalculation file for " + scene.path + ": step " + std::to_string(scene.precalc.precalc_step) +
               " is outside 1 to " + std::to_string(kMaxPrecalcStep) + ".");
      return;
    }
    try {
      scene.precalc.frame_table_out.assign(precalc_table_entries(scene), 0);
      scene.precalc.visibility.assign(kPrecalcGrowBytes, 0);
    } catch (const std::bad_alloc&) {
      drop_build(scene);
      log_line("No precalculation file for " + scene.path + ": out of memory.");
      return;
    }
    scene.precalc.precalc_bytes = 0;
    scene.precalc.frames_recorded = 0;
    scene.precalc.precalc_length = 0;
    scene.precalc.precalc_capacity_mib = 1;
    scene.precalc.precalc_open = 1;
  }
  if (!scene.precalc.precalc_open) return;
  if (static_cast<size_t>(scene.precalc.frames_recorded) >= scene.precalc.frame_table_out.size()) return;

  scene.precalc.frame_table_out[scene.precalc.frames_recorded++] = static_cast<uint32_t>(scene.precalc.precalc_bytes);
  scene.precalc.precalc_accumulator = 0;
  scene.draw.bit_mask = 0x80;
  bool ok = true;
  const int objects = std::min<int>(scene.object_count, static_cast<int>(scene.objects.size()));
  for (int i = 0; i < objects && ok; ++i) {
    SceneObject& object = scene.objects[i];
    if (!precalc_object_takes_bits(object)) continue;
    scene.object_index = i;
    transform_object(scene);
    const Vertex* v = object.transformed.data();
    const size_t vertex_count = object.transformed.size();
    const int triangles = std::min<int>(object.polygon_count, static_cast<int>(object.polygons.size()));
    for (int t = 0; t < object.polygon_count && ok; ++t) {
      bool visible = false;
      if (t < triangles) {
        const Triangle& tri = object.polygons[t];
        const bool corners_ok = static_cast<size_t>(tri.corners[0]) < vertex_count &&
                                static_cast<size_t>(tri.corners[1]) < vertex_count &&
                                static_cast<size_t>(tri.corners[2]) < vertex_count;
        visible = corners_ok && precalc_polygon_visible(v[tri.corners[0]], v[tri.corners[1]], v[tri.corners[2]],
                                          (tri.flags & TriangleFlags::DOUBLE_SIDED) != 0, scene.width, scene.height);
      }
      scene.draw.polygon_visible = visible ? 1 : 0;
      if (visible) scene.precalc.precalc_accumulator |= scene.draw.bit_mask;
      if (scene.draw.bit_mask == 1) {
        ok = precalc_put_byte(scene, scene.precalc.precalc_accumulator);
        ++scene.precalc.precalc_bytes;
        scene.draw.bit_mask = 0x80;
        scene.precalc.precalc_accumulator = 0;
      } else {
        scene.draw.bit_mask = static_cast<uint8_t>(scene.draw.bit_mask >> 1);
      }
    }
  }
  if (ok && scene.draw.bit_mask != 0x80) {
    ok = precalc_put_byte(scene, scene.precalc.precalc_accumulator);
    ++scene.precalc.precalc_bytes;
  }
  if (!ok) {
    drop_build(scene);
    scene.precalc.precalc_outcome = 2;
    log_line("Precalculation of " + scene.path + " stopped: out of memory; no file written.");
    return;
  }
  if (scene.finished || static_cast<size_t>(scene.precalc.frames_recorded) >= scene.precalc.frame_table_out.size())
    (void)precalc_finish(scene);
}

PrecalcStatus precalc_finish(Scene& scene) {
  if (!scene.precalc.precalc_open) return PrecalcStatus::not_building;
  const std::string name = precalc_file_name(scene.path);
  PrecalcFile file;
  file.width = scene.width;
  file.height = scene.height;
  file.step = scene.precalc.precalc_step;
  file.visibility.swap(scene.precalc.visibility);
  file.visibility.resize(static_cast<size_t>(scene.precalc.precalc_length));
  file.frame_table.swap(scene.precalc.frame_table_out);
  file.frame_table.resize(static_cast<size_t>(scene.precalc.frames_recorded));
  drop_build(scene);

  std::vector<uint8_t> bytes;
  PrecalcStatus st = precalc_encode(file, bytes);
  std::string why;
  if (st == PrecalcStatus::ok) st = precalc_write_file(output_path(name), bytes, &why);
  scene.precalc.precalc_outcome = st == PrecalcStatus::ok ? 1 : 2;
  if (st != PrecalcStatus::ok) {
    log_line("Precalculation file " + name + " not written: " + (why.empty() ? precalc_status_text(st) : why) + ".");
    return st;
  }
  log_line("Precalculation file " + name + " written: " + std::to_string(file.frame_table.size()) + " frames, " +
           std::to_string(file.visibility.size()) + " bytes of bits, " + std::to_string(bytes.size()) +
           " bytes in the file.");
  return PrecalcStatus::ok;
}

bool precalc_abandon(Scene& scene) {
  if (!scene.precalc.precalc_open) return false;
  const int frames = scene.precalc.frames_recorded;
  drop_build(scene);
  scene.precalc.precalc_outcome = 2;
  log_line("Precalculation of " + scene.path + " stopped after " + std::to_string(frames) +
           " frames, before its last frame: no file written.");
  return true;
}

}  // namespace orvl
