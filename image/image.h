// The image library: an image record (`Img`), its result codes (`ImgError`), the pixel
// operations, and the readers and writers of BMP, Targa, IFF ILBM and JPEG files.
//
// Usage, as the surface-image loader and the 2D effects do it:
//
//   Img img;                       // empty (Img::init makes it empty again)
//   ImgDecoder dec;
//   dec.bind(&img);
//   if (img.load(path) == ImgError::ok && dec.decode() == ImgError::ok) {
//     img.resize(w, h, w);         // optional
//     img.keep_pixels(1);
//     std::vector<uint32_t> mine = std::move(img.pixels);
//   }
//   img.release();
//
// Pixels: one 32-bit word 0x00RRGGBB per pixel (bytes blue, green, red, 0 in memory),
// rows top-down, `pitch` words from one row start to the next. Every reader produces this
// single layout (`PixelFormat` id 14); the pixel operations refuse any other id.
//
// What is read: BMP with 24 bits per pixel (12-byte core header or the 40-byte and later
// headers, rows bottom-up); Targa types 2 and 10 with 16, 24 or 32 bits per pixel (alpha
// dropped, 16-bit channels keep their five bits at the top of each byte); IFF ILBM with 24
// planes, uncompressed or ByteRun1, optional mask plane skipped; baseline/progressive JPEG
// through libjpeg, three-component (RGB) or one-component (grey, expanded to R=G=B); PNG of
// every colour type and depth through libpng (grey expanded, palettes looked up, 16-bit
// channels narrowed to 8, alpha dropped).
// Palette images, other depths and plane counts are refused with `unknown_variant` or
// `unsupported_bpp`. What is written: uncompressed 32-bit Targa and baseline JPEG.
//
// Bad input: nothing is read past `file_data` nor written past `pixels`. Widths or heights
// of 0 or above kMaxImageDimension are refused with `bad_format`, and pictures above the
// pixel budget with `too_large`, before anything is allocated, as are files too short for the pixels their header promises (run-length
// bodies are bounded by what their bytes could expand to). A libjpeg error returns
// `bad_format` and logs libjpeg's own message; it never ends the process. Whenever a
// decode fails, `pixels` is left empty and width/height/pitch are 0, so a caller (a plasma
// source, a video frame) can test `pixels.empty()` and never reads a failed image.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvl {

class FileSource;

enum class [[nodiscard]] ImgError : int {
  ok = 0,
  file_not_found = 1,
  bad_format = 2,         // "Incorrect file format"
  unknown_variant = 3,
  no_instance = 4,        // no Img bound to a decoder, reader or writer
  already_loaded = 5,     // in the table; no operation returns it
  no_buffer = 6,          // no pixels (also: a pixel buffer could not be allocated)
  conversion = 7,         // in the table; no operation returns it
  unsupported_bpp = 8,
  empty_result = 9,
  unknown_file_type = 10,
  undefined = 11,         // writers: the output file could not be created or written
  null_pointer = 12,
  out_of_range = 13,
  too_large = 14,         // "Image too large": the header asks for more pixels than the budget
};
constexpr int kImgErrorCount = 15;

// The fixed message of a code ("No error", "File not found", ...); "" for codes of 15 or
// more.
const char* img_error_text(ImgError e);
// Table lookup by number: a code of 15 or more returns out_of_range and leaves `out`
// untouched; otherwise `out` receives the message.
ImgError img_error_text(int code, std::string& out);

enum class ImgFileType : uint8_t {
  unknown = 0,
  bmp = 1,
  tga = 2,
  fix = 3,   // recognised by name, no reader
  jpeg = 5,
  iff = 7,
  ffc = 13,  // recognised by name, no reader
  png = 14,
};
const char* img_file_type_name(ImgFileType t);

// Widest and tallest picture any reader accepts (and any pixel operation produces).
constexpr uint32_t kMaxImageDimension = 16384;

// What one decoded picture may cost, in pixels (width x height). Every reader compares
// the size its header declares with it before allocating anything and refuses a larger
// picture with `too_large`; the JPEG reader also caps libjpeg's own memory by it
// (progressive files keep every coefficient in memory). A few hundred bytes of header
// cannot then ask for gigabytes. The default, 64 Mpx, costs 256 MiB of pixels; the
// program lets the user change it (ORVL_MAX_PIXELS). Process-wide; 0 restores the default.
constexpr uint64_t kDefaultPixelBudget = uint64_t(64) << 20;
void img_set_pixel_budget(uint64_t pixels);
uint64_t img_pixel_budget();

struct PixelFormat {
  uint32_t alpha_bits = 0, blue_bits = 0, green_bits = 0, red_bits = 0;
  uint8_t alpha_shift = 0, blue_shift = 0, green_shift = 0, red_shift = 0;
  uint8_t bits_per_pixel = 0;
  uint8_t bytes_per_pixel = 0;
  uint16_t id = 0;
};
constexpr uint16_t kPixelFormat32 = 14;
// The one layout every reader produces: 0x00RRGGBB words.
constexpr PixelFormat kFormat32{8, 8, 8, 8, 24, 0, 8, 16, 32, 4, kPixelFormat32};

struct Img {
  std::vector<uint8_t> file_data;  // the whole file as read (its size is file_size())
  ImgFileType type = ImgFileType::unknown;
  std::string name;  // the name given to load()
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pitch = 0;  // pixels from one row start to the next; readers set it to width
  PixelFormat format;
  std::vector<uint32_t> pixels;  // height rows of pitch words, row 0 at the top
  // Nonzero: release() leaves `pixels` alone so the caller can std::move it out (the
  // buffer has been handed over). Only the low 8 bits of the flag are stored.
  uint32_t pixels_kept = 0;

  uint32_t file_size() const { return static_cast<uint32_t>(file_data.size()); }

  // Every field back to zero/empty (a kept buffer still in `pixels` is dropped: move it
  // out before re-initialising).
  void init();
  // Frees name and file data, and the pixels unless they are kept. Other fields keep
  // their values; init() before reusing the record.
  void release();
  // Reads the file whole (through a FileSource), remembers the name and detects the type
  // from its extension; does not decode. A missing, unreadable or empty file gives
  // file_not_found; the previous file data is dropped first in every case.
  ImgError load(const std::string& file_name);
  // The same through a caller's source, e.g. one with a pack archive in use.
  ImgError load(const std::string& file_name, FileSource& source);
  ImgError set_file_data(std::vector<uint8_t> data);
  ImgError keep_pixels(uint32_t flag);

  // Nearest-neighbour rescale to new_width x new_height rows of new_pitch words
  // (columns from new_width to new_pitch are left unwritten, i.e. zero here).
  // new_pitch below new_width, a zero size, or a size above kMaxImageDimension gives
  // out_of_range and leaves the image unchanged.
  ImgError resize(uint32_t new_width, uint32_t new_height, uint32_t new_pitch);
  // mirror != 0: every row left to right; mirror == 0: upside down.
  ImgError flip(int mirror);
  // Keeps [x0, x1) x [y0, y1); positions outside the picture become 0x00FFFFFF.
  // Empty rectangle: empty_result; wider or taller than kMaxImageDimension: out_of_range.
  ImgError crop(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1);
  // A deep copy (pixels_kept cleared), or null when memory runs out.
  std::unique_ptr<Img> clone() const;
  ImgError swap_red_blue();

  // True when pitch >= width and `pixels` holds at least pitch x height words. The pixel
  // operations check it, so a record whose fields were set by hand cannot make them
  // read or write out of bounds (they return out_of_range instead).
  bool layout_ok() const;
};

// Chooses the reader by the bound Img's type. Holds a reference only; owns nothing.
class ImgDecoder {
 public:
  ImgDecoder& bind(Img* img) {
    img_ = img;
    return *this;
  }
  // Sets the bound Img's type from the extension of `file_name` (from its last '.',
  // compared without regard to case): .bmp, .tga, .iff, .fix, .ffc, .jpg, .png; anything else,
  // or no '.', gives unknown. Returns no_instance without a bound Img, otherwise ok.
  ImgError detect_type(const std::string& file_name);
  // Runs the reader for the type; types without a reader give unknown_file_type.
  ImgError decode();

 private:
  Img* img_ = nullptr;
};

// Format handlers: bind() with null returns no_buffer; read()/write() with nothing bound
// return no_instance. They read the Img's file_data and fill width, height, pitch,
// format and pixels.
class BmpReader {
 public:
  ImgError bind(Img* img);
  ImgError read();

 private:
  Img* img_ = nullptr;
};

class TgaCodec {
 public:
  ImgError bind(Img* img);
  ImgError read();
  // Uncompressed 32-bit Targa, bottom row first (bytes blue, green, red, 0).
  ImgError encode(std::vector<uint8_t>& out) const;
  // encode() into the file through the atomic writer: undefined when it cannot be
  // written (the reason in `error`), an existing file being left as it was.
  ImgError write(const std::string& file_name, std::string* error = nullptr) const;

 private:
  Img* img_ = nullptr;
};

class IffReader {
 public:
  ImgError bind(Img* img);
  ImgError read();

 private:
  Img* img_ = nullptr;
};

class PngReader {
 public:
  ImgError bind(Img* img);
  ImgError read();

 private:
  Img* img_ = nullptr;
};

// DCT method selectors for the JPEG writer.
enum class JpegDct : int { slow_integer = 0, fast_integer = 1, floating = 2 };

class JpegCodec {
 public:
  ImgError bind(Img* img);
  ImgError read();
  // Baseline JPEG of the pixels. `dct` 0 slow integer, 1 fast integer, 2 float, anything
  // else libjpeg's default; quality as a signed 8-bit value (libjpeg clamps it to 1..100).
  ImgError encode(std::vector<uint8_t>& out, int dct, int8_t quality, bool optimise) const;
  // encode() into the file, as TgaCodec::write.
  ImgError write(const std::string& file_name, int dct, int8_t quality, bool optimise,
                 std::string* error = nullptr) const;

 private:
  Img* img_ = nullptr;
};

}  // namespace orvl
