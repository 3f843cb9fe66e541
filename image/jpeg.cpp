// JPEG through libjpeg's 6b interface: decoding from memory, encoding to memory.
//
// libjpeg reports fatal errors by calling error_exit, which by default ends the process.
// Here error_exit logs libjpeg's own message and longjmps back to the guarded call, which
// releases the (de)compressor; the caller gets bad_format (reading) or undefined
// (writing). The guarded functions keep their state in the structures they were handed,
// never in locals changed after setjmp, and no C++ object with a destructor lives in a
// frame the jump can skip.
#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <new>
#include <string>

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

#include "image/image.h"
#include "image/image_local.h"
#include "platform/file.h"
#include "platform/log.h"

namespace orvl {

using namespace img_detail;

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;  // first, so libjpeg's pointer converts back
  jmp_buf jump;
  const char* what;  // "reading NAME" / "writing" for the log line
};

void log_jpeg_message(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  const auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  log_format("JPEG %s : %s", err->what, text);
}

[[noreturn]] void on_error_exit(j_common_ptr cinfo) {
  log_jpeg_message(cinfo);
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings never stop decoding; only the first one of an image is logged.
void on_emit_message(j_common_ptr cinfo, int msg_level) {
  jpeg_error_mgr* err = cinfo->err;
  if (msg_level < 0) {
    if (err->num_warnings == 0) log_jpeg_message(cinfo);
    err->num_warnings++;
  } else if (err->trace_level >= msg_level) {
    log_jpeg_message(cinfo);
  }
}

void install_errors(ErrorManager& em, const char* what) {
  jpeg_std_error(&em.pub);
  em.pub.error_exit = on_error_exit;
  em.pub.emit_message = on_emit_message;
  em.pub.output_message = log_jpeg_message;
  em.what = what;
}

// ---- memory source --------------------------------------------------------------------

struct MemorySource {
  jpeg_source_mgr pub;
  const uint8_t* data;
  size_t size;
  bool handed_over;
};

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void source_nothing(j_decompress_ptr) {}

// The whole file is handed over on the first request. A second request means the data
// ended inside the image: warn "Premature end of JPEG file" and supply an end-of-image
// marker, so libjpeg finishes with what it has instead of reading the file again.
boolean source_fill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  if (src->size == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
  if (!src->handed_over) {
    src->pub.next_input_byte = src->data;
    src->pub.bytes_in_buffer = src->size;
    src->handed_over = true;
  } else {
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->pub.next_input_byte = kFakeEoi;
    src->pub.bytes_in_buffer = sizeof kFakeEoi;
  }
  return TRUE;
}

// Skipping past the end consumes what is left (and warns); the next request then gets the
// end-of-image marker above.
void source_skip(j_decompress_ptr cinfo, long num_bytes) {
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  if (num_bytes <= 0) return;
  while (src->pub.bytes_in_buffer == 0 && !src->handed_over) (void)source_fill(cinfo);
  if (static_cast<size_t>(num_bytes) > src->pub.bytes_in_buffer) {
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->pub.next_input_byte += src->pub.bytes_in_buffer;
    src->pub.bytes_in_buffer = 0;
    return;
  }
  src->pub.next_input_byte += num_bytes;
  src->pub.bytes_in_buffer -= static_cast<size_t>(num_bytes);
}

void set_memory_source(j_decompress_ptr cinfo, MemorySource& src, const uint8_t* data, size_t size) {
  src.pub.init_source = source_nothing;
  src.pub.fill_input_buffer = source_fill;
  src.pub.skip_input_data = source_skip;
  src.pub.resync_to_restart = jpeg_resync_to_restart;
  src.pub.term_source = source_nothing;
  src.pub.next_input_byte = nullptr;
  src.pub.bytes_in_buffer = 0;
  src.data = data;
  src.size = size;
  src.handed_over = false;
  cinfo->src = &src.pub;
}

// ---- decoding -------------------------------------------------------------------------

struct DecodeJob {
  Img* img;
  MemorySource* src;
  std::vector<uint8_t>* row;  // one decoded scanline
  ImgError result;            // set before any early return from the guarded part
};

// Everything that may call error_exit runs here, between setjmp and the return, creation
// of the decompressor included. `cinfo` arrives zeroed, so destroying it afterwards is
// safe however far this got.
bool decode_guarded(j_decompress_ptr cinfo, DecodeJob* job) {
  if (setjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump)) return false;
  jpeg_create_decompress(cinfo);
  // libjpeg's own allocations (a progressive file's coefficients: two bytes per sample
  // for every component) stay within what the budget allows a picture to cost.
  cinfo->mem->max_memory_to_use = long(std::min<uint64_t>(img_pixel_budget() * 8 + (16u << 20), LONG_MAX));
  set_memory_source(cinfo, *job->src, job->img->file_data.data(), job->img->file_data.size());
  jpeg_read_header(cinfo, TRUE);
  if (!dimensions_ok(cinfo->image_width, cinfo->image_height)) {
    job->result = ImgError::bad_format;
    return false;
  }
  if (!within_budget(cinfo->image_width, cinfo->image_height)) {
    job->result = ImgError::too_large;
    return false;
  }
  // Three components decode as RGB; one (greyscale) is kept as grey and widened to R=G=B
  // below. CMYK/YCCK and other layouts have no sound conversion to RGB here.
  if (cinfo->num_components == 3) {
    cinfo->out_color_space = JCS_RGB;
  } else if (cinfo->num_components == 1) {
    cinfo->out_color_space = JCS_GRAYSCALE;
  } else {
    job->result = ImgError::unknown_variant;
    return false;
  }
  jpeg_start_decompress(cinfo);
  const uint32_t w = cinfo->output_width, h = cinfo->output_height;
  const int comps = cinfo->output_components;
  if (!dimensions_ok(w, h) || (comps != 1 && comps != 3)) {
    job->result = ImgError::bad_format;
    return false;
  }
  if (start_pixels(*job->img, w, h) != ImgError::ok) {
    job->result = ImgError::no_buffer;
    return false;
  }
  try {
    job->row->resize(static_cast<size_t>(w) * comps);
  } catch (const std::bad_alloc&) {
    job->result = ImgError::no_buffer;
    return false;
  }
  while (cinfo->output_scanline < h) {
    JSAMPROW rows[1] = {job->row->data()};
    const uint32_t y = cinfo->output_scanline;
    if (jpeg_read_scanlines(cinfo, rows, 1) != 1) {
      job->result = ImgError::bad_format;  // a suspending source never happens here
      return false;
    }
    uint32_t* dst = job->img->pixels.data() + static_cast<size_t>(y) * w;
    const uint8_t* p = job->row->data();
    if (comps == 3) {
      for (uint32_t x = 0; x < w; ++x, p += 3)
        dst[x] = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
    } else {
      for (uint32_t x = 0; x < w; ++x) dst[x] = p[x] * 0x010101u;
    }
  }
  jpeg_finish_decompress(cinfo);
  job->result = ImgError::ok;
  return true;
}

// ---- encoding -------------------------------------------------------------------------

struct MemoryDestination {
  jpeg_destination_mgr pub;
  std::vector<uint8_t>* out;
  size_t used;  // bytes of *out already final
};

constexpr size_t kDestChunk = 64 * 1024;

void dest_init(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  try {
    d->out->resize(kDestChunk);
  } catch (const std::bad_alloc&) {
    ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
  }
  d->used = 0;
  d->pub.next_output_byte = d->out->data();
  d->pub.free_in_buffer = d->out->size();
}

boolean dest_empty(j_compress_ptr cinfo) {
  // Called when the whole buffer is full (free_in_buffer is 0 then).
  auto* d = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  d->used = d->out->size();
  try {
    d->out->resize(d->out->size() * 2);
  } catch (const std::bad_alloc&) {
    ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2);
  }
  d->pub.next_output_byte = d->out->data() + d->used;
  d->pub.free_in_buffer = d->out->size() - d->used;
  return TRUE;
}

void dest_term(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  d->out->resize(d->out->size() - d->pub.free_in_buffer);
}

struct EncodeJob {
  const Img* img;
  std::vector<uint8_t>* rgb;  // one scanline
  std::vector<uint8_t>* out;
  MemoryDestination* dest;
  int dct;
  int quality;
  bool optimise;
};

bool encode_guarded(j_compress_ptr cinfo, EncodeJob* job) {
  if (setjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump)) return false;
  jpeg_create_compress(cinfo);
  MemoryDestination* d = job->dest;
  d->pub.init_destination = dest_init;
  d->pub.empty_output_buffer = dest_empty;
  d->pub.term_destination = dest_term;
  d->out = job->out;
  d->used = 0;
  cinfo->dest = &d->pub;

  const Img& img = *job->img;
  cinfo->image_width = img.width;
  cinfo->image_height = img.height;
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  switch (job->dct) {
    case 0: cinfo->dct_method = JDCT_ISLOW; break;
    case 1: cinfo->dct_method = JDCT_IFAST; break;
    case 2: cinfo->dct_method = JDCT_FLOAT; break;
    default: break;
  }
  cinfo->optimize_coding = job->optimise ? TRUE : FALSE;
  jpeg_set_quality(cinfo, job->quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  // Rows are taken pitch apart, so an image with padding columns is written packed.
  while (cinfo->next_scanline < cinfo->image_height) {
    const uint32_t* src = img.pixels.data() + static_cast<size_t>(cinfo->next_scanline) * img.pitch;
    uint8_t* p = job->rgb->data();
    for (uint32_t x = 0; x < img.width; ++x, p += 3) {
      p[0] = static_cast<uint8_t>(src[x] >> 16);
      p[1] = static_cast<uint8_t>(src[x] >> 8);
      p[2] = static_cast<uint8_t>(src[x]);
    }
    JSAMPROW rows[1] = {job->rgb->data()};
    jpeg_write_scanlines(cinfo, rows, 1);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

}  // namespace

ImgError JpegCodec::bind(Img* img) {
  if (!img) return ImgError::no_buffer;
  img_ = img;
  return ImgError::ok;
}

ImgError JpegCodec::read() {
  if (!img_) return ImgError::no_instance;
  Img& img = *img_;
  const std::string what = "reading " + (img.name.empty() ? std::string("image") : img.name);
  ErrorManager em;
  install_errors(em, what.c_str());
  jpeg_decompress_struct cinfo = {};
  cinfo.err = &em.pub;
  MemorySource src;
  std::vector<uint8_t> row;
  DecodeJob job{&img, &src, &row, ImgError::bad_format};
  const bool ok = decode_guarded(&cinfo, &job);
  jpeg_destroy_decompress(&cinfo);
  // libjpeg stopped at its memory limit: the picture costs more than the budget allows.
  const int code = em.pub.msg_code;
  if (!ok && job.result == ImgError::bad_format &&
      (code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE || code == JERR_TFILE_CREATE))
    job.result = ImgError::too_large;
  if (!ok) return fail(img, job.result == ImgError::ok ? ImgError::bad_format : job.result);
  return ImgError::ok;
}

ImgError JpegCodec::encode(std::vector<uint8_t>& out, int dct, int8_t quality, bool optimise) const {
  out.clear();
  if (!img_) return ImgError::no_instance;
  const Img& img = *img_;
  if (img.pixels.empty()) return ImgError::no_buffer;
  if ((img.format.id & 0xFF) != kPixelFormat32) return ImgError::unsupported_bpp;
  if (!img.layout_ok() || img.width > JPEG_MAX_DIMENSION || img.height > JPEG_MAX_DIMENSION)
    return ImgError::out_of_range;

  std::vector<uint8_t> rgb;
  try {
    rgb.resize(static_cast<size_t>(img.width) * 3);
  } catch (const std::bad_alloc&) {
    return ImgError::no_buffer;
  }
  ErrorManager em;
  install_errors(em, "writing");
  jpeg_compress_struct cinfo = {};
  cinfo.err = &em.pub;
  MemoryDestination dest;
  EncodeJob job{&img, &rgb, &out, &dest, dct, quality, optimise};
  const bool ok = encode_guarded(&cinfo, &job);
  jpeg_destroy_compress(&cinfo);
  if (!ok) {
    out.clear();
    return ImgError::undefined;
  }
  return ImgError::ok;
}

ImgError JpegCodec::write(const std::string& file_name, int dct, int8_t quality, bool optimise,
                          std::string* error) const {
  std::vector<uint8_t> bytes;
  if (ImgError e = encode(bytes, dct, quality, optimise); e != ImgError::ok) return e;
  if (!write_whole_file(file_name, bytes.data(), bytes.size(), error)) return ImgError::undefined;
  return ImgError::ok;
}

}  // namespace orvl
