#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <new>

#include "image/file_source.h"
#include "image/image.h"
#include "image/image_local.h"

namespace orvl {

namespace {

const char* const kMessages[kImgErrorCount] = {
    "No error",
    "File not found",
    "Incorrect file format",
    "Unknown variant",
    "No IMG instance to work with",
    "Already loaded",
    "No buffer",
    "Error in conversion",
    "Unsupported BPP",
    "Empty result operation",
    "Unknown file type",
    "Undefined error",
    "Cannot work with null pointer",
    "Parameter is out of range",
    "Image too large",
};

std::atomic<uint64_t> g_pixel_budget{kDefaultPixelBudget};

bool is_format32(const PixelFormat& f) { return (f.id & 0xFF) == kPixelFormat32; }

// Checks shared by every pixel operation, in the order callers rely on: no pixels first,
// then the format, then a record whose fields disagree with its buffer.
ImgError pixel_op_check(const Img& img) {
  if (img.pixels.empty()) return ImgError::no_buffer;
  if (!is_format32(img.format)) return ImgError::unsupported_bpp;
  if (!img.layout_ok()) return ImgError::out_of_range;
  return ImgError::ok;
}

}  // namespace

void img_set_pixel_budget(uint64_t pixels) { g_pixel_budget = pixels ? pixels : kDefaultPixelBudget; }
uint64_t img_pixel_budget() { return g_pixel_budget; }

const char* img_error_text(ImgError e) {
  int code = static_cast<int>(e);
  return code >= 0 && code < kImgErrorCount ? kMessages[code] : "";
}

ImgError img_error_text(int code, std::string& out) {
  if (code < 0 || code >= kImgErrorCount) return ImgError::out_of_range;
  out = kMessages[code];
  return ImgError::ok;
}

const char* img_file_type_name(ImgFileType t) {
  switch (t) {
    case ImgFileType::unknown: return "unknown";
    case ImgFileType::bmp: return "bmp";
    case ImgFileType::tga: return "tga";
    case ImgFileType::fix: return "fix";
    case ImgFileType::jpeg: return "jpeg";
    case ImgFileType::iff: return "iff";
    case ImgFileType::ffc: return "ffc";
    case ImgFileType::png: return "png";
  }
  return "unknown";
}

void Img::init() { *this = Img(); }

void Img::release() {
  std::string().swap(name);
  std::vector<uint8_t>().swap(file_data);
  if (!pixels_kept) std::vector<uint32_t>().swap(pixels);
}

ImgError Img::load(const std::string& file_name) {
  FileSource source;
  return load(file_name, source);
}

ImgError Img::load(const std::string& file_name, FileSource& source) {
  std::vector<uint8_t>().swap(file_data);
  std::vector<uint8_t> data;
  // An existing but empty file is as useless as a missing one.
  if (!source.read_all(file_name, data)) return ImgError::file_not_found;
  file_data = std::move(data);
  name = file_name;
  ImgDecoder dec;
  return dec.bind(this).detect_type(file_name);
}

ImgError Img::set_file_data(std::vector<uint8_t> data) {
  file_data = std::move(data);
  return ImgError::ok;
}

ImgError Img::keep_pixels(uint32_t flag) {
  pixels_kept = flag & 0xFF;
  return ImgError::ok;
}

bool Img::layout_ok() const {
  return width <= pitch && static_cast<uint64_t>(pitch) * height <= pixels.size();
}

ImgError Img::resize(uint32_t new_width, uint32_t new_height, uint32_t new_pitch) {
  if (ImgError e = pixel_op_check(*this); e != ImgError::ok) return e;
  if (new_width == width && new_height == height && new_pitch == pitch) return ImgError::ok;
  if (!img_detail::dimensions_ok(new_width, new_height) || new_pitch < new_width ||
      new_pitch > kMaxImageDimension)
    return ImgError::out_of_range;

  std::vector<uint32_t> out;
  std::vector<uint32_t> columns;
  try {
    out.resize(static_cast<size_t>(new_pitch) * new_height);
    columns.resize(new_width);
  } catch (const std::bad_alloc&) {
    return ImgError::no_buffer;
  }
  // Steps are single precision, the running coordinates double precision; the column
  // map is the same for every row, so it is worked out once. The clamp only matters if
  // rounding ever carried a coordinate onto the edge.
  const float step_x = static_cast<float>(width) / static_cast<float>(new_width);
  const float step_y = static_cast<float>(height) / static_cast<float>(new_height);
  double sx = 0;
  for (uint32_t x = 0; x < new_width; ++x) {
    columns[x] = std::min(static_cast<uint32_t>(sx), width - 1);
    sx += step_x;
  }
  double sy = 0;
  for (uint32_t y = 0; y < new_height; ++y) {
    const uint32_t row = std::min(static_cast<uint32_t>(sy), height - 1);
    const uint32_t* src = pixels.data() + static_cast<size_t>(row) * pitch;
    uint32_t* dst = out.data() + static_cast<size_t>(y) * new_pitch;
    for (uint32_t x = 0; x < new_width; ++x) dst[x] = src[columns[x]];
    sy += step_y;
  }
  pixels.swap(out);
  width = new_width;
  height = new_height;
  pitch = new_pitch;
  return ImgError::ok;
}

ImgError Img::flip(int mirror) {
  if (ImgError e = pixel_op_check(*this); e != ImgError::ok) return e;
  std::vector<uint32_t> out;
  try {
    out.assign(static_cast<size_t>(pitch) * height, 0);
  } catch (const std::bad_alloc&) {
    return ImgError::no_buffer;
  }
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t* src = pixels.data() + static_cast<size_t>(y) * pitch;
    if (mirror) {
      uint32_t* dst = out.data() + static_cast<size_t>(y) * pitch;
      std::reverse_copy(src, src + width, dst);
    } else {
      uint32_t* dst = out.data() + static_cast<size_t>(height - 1 - y) * pitch;
      std::copy(src, src + width, dst);
    }
  }
  pixels.swap(out);
  return ImgError::ok;
}

ImgError Img::crop(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) {
  if (ImgError e = pixel_op_check(*this); e != ImgError::ok) return e;
  if (x0 >= x1 || y0 >= y1) return ImgError::empty_result;
  const uint32_t nw = x1 - x0, nh = y1 - y0;
  if (nw > kMaxImageDimension || nh > kMaxImageDimension) return ImgError::out_of_range;
  std::vector<uint32_t> out;
  try {
    out.resize(static_cast<size_t>(nw) * nh);
  } catch (const std::bad_alloc&) {
    return ImgError::no_buffer;
  }
  for (uint32_t y = 0; y < nh; ++y) {
    uint32_t* dst = out.data() + static_cast<size_t>(y) * nw;
    const uint32_t sy = y0 + y;
    for (uint32_t x = 0; x < nw; ++x) {
      const uint32_t sx = x0 + x;
      dst[x] = (sx < width && sy < height) ? pixels[static_cast<size_t>(sy) * pitch + sx]
                                           : 0x00FFFFFFu;
    }
  }
  pixels.swap(out);
  width = pitch = nw;
  height = nh;
  return ImgError::ok;
}

std::unique_ptr<Img> Img::clone() const {
  try {
    auto copy = std::make_unique<Img>(*this);
    copy->pixels_kept = 0;
    return copy;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ImgError Img::swap_red_blue() {
  if (ImgError e = pixel_op_check(*this); e != ImgError::ok) return e;
  for (uint32_t y = 0; y < height; ++y) {
    uint32_t* row = pixels.data() + static_cast<size_t>(y) * pitch;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t v = row[x];
      row[x] = (v & 0xFF00FF00u) | (v >> 16 & 0xFFu) | (v & 0xFFu) << 16;
    }
  }
  return ImgError::ok;
}

ImgError ImgDecoder::detect_type(const std::string& file_name) {
  if (!img_) return ImgError::no_instance;
  ImgFileType t = ImgFileType::unknown;
  const size_t dot = file_name.rfind('.');
  if (dot != std::string::npos) {
    std::string ext = file_name.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".bmp") t = ImgFileType::bmp;
    else if (ext == ".tga") t = ImgFileType::tga;
    else if (ext == ".iff") t = ImgFileType::iff;
    else if (ext == ".fix") t = ImgFileType::fix;
    else if (ext == ".ffc") t = ImgFileType::ffc;
    else if (ext == ".jpg") t = ImgFileType::jpeg;
    else if (ext == ".png") t = ImgFileType::png;
  }
  img_->type = t;
  return ImgError::ok;
}

ImgError ImgDecoder::decode() {
  if (!img_) return ImgError::no_instance;
  switch (img_->type) {
    case ImgFileType::bmp: {
      BmpReader r;
      (void)r.bind(img_);
      return r.read();
    }
    case ImgFileType::tga: {
      TgaCodec r;
      (void)r.bind(img_);
      return r.read();
    }
    case ImgFileType::jpeg: {
      JpegCodec r;
      (void)r.bind(img_);
      return r.read();
    }
    case ImgFileType::png: {
      PngReader r;
      (void)r.bind(img_);
      return r.read();
    }
    case ImgFileType::iff: {
      IffReader r;
      (void)r.bind(img_);
      return r.read();
    }
    default:
      return img_detail::fail(*img_, ImgError::unknown_file_type);
  }
}

}  // namespace orvl
