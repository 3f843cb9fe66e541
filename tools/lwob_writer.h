// Writer of LightWave 5 object files (IFF "FORM" of type "LWOB").
//
// A small builder used by the tests, fuzz seeds, benchmarks and the demo generator to make
// binary objects without hand-edited bytes: points, polygons with their surface numbers,
// surface names with their "SURF" sub-chunks, and any extra chunk at any place. It writes
// what it is told, also damaged structures (sizes that run past the data, surface numbers
// out of range, polygons with fewer than three corners), so tests can make those too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvl {

// A chunk or sub-chunk as written: ID, data, and normally the data's own size. Setting
// `declared_size` writes another size into the header (for damaged-file fixtures).
struct LwChunk {
  static constexpr int64_t kDataSize = -1;
  std::string id;  // 4 characters
  std::vector<uint8_t> data;
  int64_t declared_size = kDataSize;
};

// Big-endian helpers for building chunk data.
void lw_put_u16(std::vector<uint8_t>& out, uint16_t v);
void lw_put_u32(std::vector<uint8_t>& out, uint32_t v);
void lw_put_f32(std::vector<uint8_t>& out, float v);
// Zero-terminated, padded with one more zero to an even length (LightWave's S0 strings).
void lw_put_string(std::vector<uint8_t>& out, const std::string& s);

struct LwobSurface {
  std::string name;
  bool write_surf_chunk = true;   // false: the name is in "SRFS" only
  std::string surf_name_override;  // non-empty: the "SURF" chunk carries this name instead
  std::vector<LwChunk> subchunks;  // in file order

  LwobSurface& colr(uint8_t r, uint8_t g, uint8_t b);
  LwobSurface& flag(uint16_t bits);
  LwobSurface& tflg(uint16_t bits);
  LwobSurface& timg(const std::string& path);
  LwobSurface& ctex(const std::string& type = "Planar Image Map");
  LwobSurface& rtex(const std::string& type = "Planar Image Map");
  LwobSurface& texture_header(const std::string& id, const std::string& type = "Planar Image Map");
  LwobSurface& sub(const std::string& id, std::vector<uint8_t> data,
                   int64_t declared_size = LwChunk::kDataSize);
};

struct LwobPolygon {
  std::vector<uint16_t> points;
  uint16_t surface = 1;            // 1-based as stored; any value may be written
  std::vector<uint16_t> trailing;  // words written after the surface number
};

class LwobWriter {
 public:
  std::string form_type = "LWOB";
  // Order of the standard chunks; "SURF" stands for all surface chunks. Leaving a name
  // out omits that chunk.
  std::vector<std::string> order = {"SRFS", "PNTS", "POLS", "SURF"};

  int add_point(float x, float y, float z);  // returns the point number
  void add_polygon(std::vector<uint16_t> points, uint16_t surface = 1,
                   std::vector<uint16_t> trailing = {});
  LwobSurface& add_surface(const std::string& name);  // surface numbers follow the calls
  // Inserts a chunk at `position` of the final chunk list (-1: at the end).
  void add_chunk(const std::string& id, std::vector<uint8_t> data, int position = -1,
                 int64_t declared_size = LwChunk::kDataSize);
  void set_declared_size(const std::string& standard_id, int64_t size);

  std::vector<LwChunk> chunks() const;
  std::vector<uint8_t> bytes() const;
  bool write(const std::string& path) const;

  size_t point_count() const { return points_.size() / 3; }
  size_t polygon_count() const { return polygons_.size(); }
  std::vector<LwobSurface>& surfaces() { return surfaces_; }

 private:
  std::vector<float> points_;
  std::vector<LwobPolygon> polygons_;
  std::vector<LwobSurface> surfaces_;
  std::vector<std::pair<int, LwChunk>> extra_;
  std::vector<std::pair<std::string, int64_t>> declared_;
};

// Serialises chunks into FORM bytes. `sub` selects 16-bit sizes and no padding (the
// layout of "SURF" sub-chunks); otherwise 32-bit sizes with a pad byte after odd sizes.
void lw_put_chunk(std::vector<uint8_t>& out, const LwChunk& c, bool sub);
std::vector<uint8_t> lw_form(const std::string& type, const std::vector<LwChunk>& chunks);

}  // namespace orvl
