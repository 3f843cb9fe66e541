// The four readers and two writers: reference images from independent tools, files built
// here (round trips through our writers), and damaged files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <png.h>

#include <cstring>

#include "image/image.h"
#include "platform/log.h"
#include "support/image_support.h"
#include "support/shared_data.h"

namespace fs = std::filesystem;
using namespace orvl;
using orvl::test::Picture;

namespace {

const std::string kImages = orvl::test::shared_testdata("images/");

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ImgError decode_bytes(Img& img, ImgFileType type, std::vector<uint8_t> bytes) {
  img.init();
  img.type = type;
  (void)img.set_file_data(std::move(bytes));
  ImgDecoder dec;
  return dec.bind(&img).decode();
}

Img to_img(const Picture& pic) {
  Img img;
  img.width = img.pitch = pic.width;
  img.height = pic.height;
  img.format = kFormat32;
  img.pixels = pic.pixels;
  return img;
}

// A failed decode must leave nothing that a later reader could mistake for a picture.
void expect_refused(Img& img, ImgFileType type, std::vector<uint8_t> bytes, ImgError code) {
  EXPECT_EQ(decode_bytes(img, type, std::move(bytes)), code);
  EXPECT_TRUE(img.pixels.empty());
  EXPECT_EQ(img.width, 0u);
  EXPECT_EQ(img.height, 0u);
}

void put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}

std::vector<uint8_t> tga_header(uint8_t type, uint32_t w, uint32_t h, uint8_t depth, uint8_t desc) {
  std::vector<uint8_t> v(18, 0);
  v[2] = type;
  put16(v, 12, w);
  put16(v, 14, h);
  v[16] = depth;
  v[17] = desc;
  return v;
}

struct TempDir {
  fs::path root = fs::temp_directory_path() / ("orvl_imgrw_" + std::to_string(::getpid()));
  TempDir() { fs::create_directories(root); }
  ~TempDir() { fs::remove_all(root); }
};

}  // namespace

// ---- reference images -------------------------------------------------------------------

struct Reference {
  const char* file;
  uint32_t mask;  // bits of each channel that must match the .ppm
};

class ReferenceImages : public ::testing::TestWithParam<Reference> {};

TEST_P(ReferenceImages, DecodePixelExact) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const Reference ref = GetParam();
  const std::string path = kImages + ref.file;
  Picture expected;
  const std::string stem = path.substr(0, path.rfind('.'));
  ASSERT_TRUE(orvl::test::read_ppm(stem + ".ppm", expected)) << stem;

  Img img;
  ImgDecoder dec;
  dec.bind(&img);
  ASSERT_EQ(img.load(path), ImgError::ok);
  ASSERT_EQ(dec.decode(), ImgError::ok) << ref.file;
  ASSERT_EQ(img.width, expected.width);
  ASSERT_EQ(img.height, expected.height);
  EXPECT_EQ(img.pitch, img.width);
  EXPECT_EQ(img.format.id, kPixelFormat32);
  EXPECT_EQ(img.format.bits_per_pixel, 32);
  ASSERT_EQ(img.pixels.size(), expected.pixels.size());
  size_t mismatches = 0;
  for (size_t i = 0; i < img.pixels.size(); ++i)
    if (img.pixels[i] != (expected.pixels[i] & ref.mask) && mismatches++ < 5)
      ADD_FAILURE() << ref.file << " pixel " << i % img.width << "," << i / img.width << ": got "
                    << std::hex << img.pixels[i] << " want " << (expected.pixels[i] & ref.mask);
  EXPECT_EQ(mismatches, 0u);
}

// 16-bit Targa keeps each five-bit channel at the top of its byte (the .ppm rounds).
INSTANTIATE_TEST_SUITE_P(
    Images, ReferenceImages,
    ::testing::Values(
        Reference{"bmp24_grad64x48.bmp", 0xFFFFFF}, Reference{"bmp24_w1x3.bmp", 0xFFFFFF},
        Reference{"bmp24_w3x3.bmp", 0xFFFFFF}, Reference{"bmp24_w5x3.bmp", 0xFFFFFF},
        Reference{"bmp24_w5x3_ppmtobmp.bmp", 0xFFFFFF}, Reference{"bmp24_w6x3.bmp", 0xFFFFFF},
        Reference{"bmp24_w7x3.bmp", 0xFFFFFF}, Reference{"tga2_24_bl_grad64x48.tga", 0xFFFFFF},
        Reference{"tga2_24_tl_grad64x48.tga", 0xFFFFFF}, Reference{"tga2_24_bl_odd7x5.tga", 0xFFFFFF},
        Reference{"tga2_24_tl_odd7x5.tga", 0xFFFFFF}, Reference{"tga2_24_pamtotga_id_odd7x5.tga", 0xFFFFFF},
        Reference{"tga2_32_bl_rgba16x8.tga", 0xFFFFFF}, Reference{"tga2_32_tl_rgba16x8.tga", 0xFFFFFF},
        Reference{"tga10_24_bl_rle200x4.tga", 0xFFFFFF}, Reference{"tga10_24_tl_rle200x4.tga", 0xFFFFFF},
        Reference{"tga10_32_tl_rgba16x8.tga", 0xFFFFFF}, Reference{"tga2_16_bl_odd7x5.tga", 0xF8F8F8},
        Reference{"tga2_16_tl_odd7x5.tga", 0xF8F8F8}, Reference{"ilbm24_none_grad64x48.iff", 0xFFFFFF},
        Reference{"ilbm24_none_noise13x7.iff", 0xFFFFFF}, Reference{"ilbm24_none_flat40x10.iff", 0xFFFFFF},
        Reference{"ilbm24_byterun1_grad64x48.iff", 0xFFFFFF},
        Reference{"ilbm24_byterun1_flat40x10.iff", 0xFFFFFF},
        Reference{"jpeg_q90_420_grad64x48.jpg", 0xFFFFFF},
        // One-component JPEG decodes as grey: R = G = B = the decoded luminance.
        Reference{"jpeg_gray_grad64x48.jpg", 0xFFFFFF}),
    [](const auto& info) {
      std::string n = info.param.file;
      std::replace_if(n.begin(), n.end(), [](char c) { return !isalnum(static_cast<unsigned char>(c)); }, '_');
      return n;
    });

TEST(ReferenceImagesExtra, ColourMappedTargaIsRefused) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  Img img;
  expect_refused(img, ImgFileType::tga, file_bytes(kImages + "tga1_cmap_odd7x5.tga"), ImgError::unsupported_bpp);
}

// ---- BMP --------------------------------------------------------------------------------

TEST(Bmp, HeaderVariants) {
  Picture pic = orvl::test::make_picture(5, 4);
  auto v = orvl::test::make_bmp24(pic);
  // 12-byte core header: 16-bit width, height, planes, bpp at 18..25.
  std::vector<uint8_t> core(v.begin(), v.begin() + 14);
  const uint8_t core_hdr[12] = {12, 0, 0, 0, 5, 0, 4, 0, 1, 0, 24, 0};
  core.insert(core.end(), core_hdr, core_hdr + 12);
  core[10] = 26;
  core.insert(core.end(), v.begin() + 54, v.end());
  Img img;
  ASSERT_EQ(decode_bytes(img, ImgFileType::bmp, core), ImgError::ok);
  EXPECT_EQ(img.pixels, pic.pixels);

  // A V5 header (124 bytes) shares the 40-byte layout for the fields read.
  std::vector<uint8_t> v5(v.begin(), v.begin() + 54);
  v5[14] = 124;
  v5.resize(14 + 124, 0);
  v5[10] = static_cast<uint8_t>(14 + 124);
  v5.insert(v5.end(), v.begin() + 54, v.end());
  ASSERT_EQ(decode_bytes(img, ImgFileType::bmp, v5), ImgError::ok);
  EXPECT_EQ(img.pixels, pic.pixels);

  // The final row's padding may be missing.
  auto short_pad = v;
  short_pad.resize(short_pad.size() - 1);
  ASSERT_EQ(decode_bytes(img, ImgFileType::bmp, short_pad), ImgError::ok);
  EXPECT_EQ(img.pixels, pic.pixels);
}

TEST(Bmp, DamagedFilesAreRefused) {
  Img img;
  Picture pic = orvl::test::make_picture(7, 5);
  const auto good = orvl::test::make_bmp24(pic);
  expect_refused(img, ImgFileType::bmp, {'B', 'M', 0, 0}, ImgError::bad_format);
  // 16 and 17 bytes: "BM" and the offset, but the header size field is cut.
  expect_refused(img, ImgFileType::bmp, std::vector<uint8_t>(good.begin(), good.begin() + 16), ImgError::bad_format);
  expect_refused(img, ImgFileType::bmp, std::vector<uint8_t>(good.begin(), good.begin() + 17), ImgError::bad_format);
  auto bad_magic = good;
  bad_magic[1] = 'A';
  expect_refused(img, ImgFileType::bmp, bad_magic, ImgError::bad_format);
  expect_refused(img, ImgFileType::bmp, std::vector<uint8_t>(good.begin(), good.begin() + 20), ImgError::bad_format);
  auto bpp32 = good;
  bpp32[28] = 32;
  expect_refused(img, ImgFileType::bmp, bpp32, ImgError::unknown_variant);
  // A row missing at the end.
  expect_refused(img, ImgFileType::bmp, std::vector<uint8_t>(good.begin(), good.end() - 24), ImgError::bad_format);
  // Pixel data offset past the end.
  auto far = good;
  far[12] = 0x10;
  expect_refused(img, ImgFileType::bmp, far, ImgError::bad_format);
  // Width above the cap, zero height, and a top-down file (negative height).
  auto wide = good;
  put16(wide, 18, kMaxImageDimension + 1);
  expect_refused(img, ImgFileType::bmp, wide, ImgError::bad_format);
  auto flat = good;
  put16(flat, 22, 0);
  expect_refused(img, ImgFileType::bmp, flat, ImgError::bad_format);
  auto top_down = good;
  put16(top_down, 22, 0xFFFB);  // -5
  top_down[24] = top_down[25] = 0xFF;
  expect_refused(img, ImgFileType::bmp, top_down, ImgError::bad_format);
}

// ---- Targa ------------------------------------------------------------------------------

TEST(Targa, OriginBitGivesSamePictureForRawAndRle) {
  Picture pic = orvl::test::make_picture(9, 4);
  auto raw_tl = tga_header(2, 9, 4, 24, 0x20);
  auto raw_bl = tga_header(2, 9, 4, 24, 0x00);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 9; ++x) {
      uint32_t a = pic.pixels[y * 9 + x], b = pic.pixels[(3 - y) * 9 + x];
      for (int k = 0; k < 3; ++k) {
        raw_tl.push_back(static_cast<uint8_t>(a >> (8 * k)));
        raw_bl.push_back(static_cast<uint8_t>(b >> (8 * k)));
      }
    }
  Img img;
  ASSERT_EQ(decode_bytes(img, ImgFileType::tga, raw_tl), ImgError::ok);
  EXPECT_EQ(img.pixels, pic.pixels);
  ASSERT_EQ(decode_bytes(img, ImgFileType::tga, raw_bl), ImgError::ok);
  EXPECT_EQ(img.pixels, pic.pixels);

  auto rle_tl = orvl::test::make_tga10_24(pic);
  ASSERT_EQ(decode_bytes(img, ImgFileType::tga, rle_tl), ImgError::ok);
  EXPECT_EQ(img.pixels, pic.pixels);
  // The same packets with bottom-left origin describe the picture upside down.
  auto rle_bl = rle_tl;
  rle_bl[17] = 0;
  ASSERT_EQ(decode_bytes(img, ImgFileType::tga, rle_bl), ImgError::ok);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 9; ++x) EXPECT_EQ(img.pixels[y * 9 + x], pic.pixels[(3 - y) * 9 + x]);
}

TEST(Targa, RunPacketsAndSixteenBitPixels) {
  // 0x83 + one pixel fills four; a raw packet of 2 follows; runs cross the row end (w 3).
  auto v = tga_header(10, 3, 2, 24, 0x20);
  const uint8_t body[] = {0x83, 0x01, 0x02, 0x03, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
  v.insert(v.end(), body, body + sizeof body);
  Img img;
  ASSERT_EQ(decode_bytes(img, ImgFileType::tga, v), ImgError::ok);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0x030201, 0x030201, 0x030201, 0x030201, 0x302010, 0x605040}));

  auto s = tga_header(2, 2, 1, 16, 0x20);
  const uint8_t px16[] = {0xFF, 0x7F, 0x1F, 0x00};  // 0x7FFF white, 0x001F full blue
  s.insert(s.end(), px16, px16 + 4);
  ASSERT_EQ(decode_bytes(img, ImgFileType::tga, s), ImgError::ok);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0x00F8F8F8, 0x000000F8}));

  // 32-bit: alpha byte dropped, fourth byte 0.
  auto a = tga_header(2, 1, 1, 32, 0x28);
  const uint8_t px32[] = {1, 2, 3, 0xFF};
  a.insert(a.end(), px32, px32 + 4);
  a.push_back(0);
  ASSERT_EQ(decode_bytes(img, ImgFileType::tga, a), ImgError::ok);
  EXPECT_EQ(img.pixels, std::vector<uint32_t>{0x030201});
}

TEST(Targa, IdFieldAndColourMapAreSkipped) {
  auto v = tga_header(2, 2, 1, 24, 0x20);
  v[0] = 3;   // three bytes of image ID
  v[1] = 1;   // a colour map is present ...
  put16(v, 5, 2);
  v[7] = 15;  // ... of two 15-bit entries, two bytes each
  const uint8_t extra[] = {'i', 'd', '!', 9, 9, 9, 9, 1, 2, 3, 4, 5, 6};
  v.insert(v.end(), extra, extra + sizeof extra);
  v.push_back(0);
  Img img;
  ASSERT_EQ(decode_bytes(img, ImgFileType::tga, v), ImgError::ok);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0x030201, 0x060504}));
}

TEST(Targa, RunPastTheImageIsCutAndDamagedFilesAreRefused) {
  Img img;
  // A run of 128 into a 2x2 picture: four pixels written, nothing past them.
  auto over = tga_header(10, 2, 2, 24, 0x20);
  const uint8_t run[] = {0xFF, 7, 8, 9};
  over.insert(over.end(), run, run + 4);
  over.push_back(0);
  ASSERT_EQ(decode_bytes(img, ImgFileType::tga, over), ImgError::ok);
  EXPECT_EQ(img.pixels, std::vector<uint32_t>(4, 0x090807));
  // A raw packet longer than what is left of the picture.
  auto raw_over = tga_header(10, 1, 2, 24, 0x20);
  const uint8_t raw[] = {0x02, 1, 1, 1, 2, 2, 2, 3, 3, 3};
  raw_over.insert(raw_over.end(), raw, raw + sizeof raw);
  ASSERT_EQ(decode_bytes(img, ImgFileType::tga, raw_over), ImgError::ok);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0x010101, 0x020202}));

  // RLE data that ends before the picture is full, inside a packet and between packets.
  auto short_rle = tga_header(10, 4, 4, 24, 0x20);
  const uint8_t few[] = {0x83, 1, 2, 3, 0x05, 1, 2};
  short_rle.insert(short_rle.end(), few, few + sizeof few);
  expect_refused(img, ImgFileType::tga, short_rle, ImgError::bad_format);
  auto between = tga_header(10, 4, 4, 24, 0x20);
  between.insert(between.end(), few, few + 4);
  between.push_back(0);
  between.push_back(0);
  expect_refused(img, ImgFileType::tga, between, ImgError::bad_format);

  // Huge pictures promised by a few bytes are refused before anything is allocated: above
  // the pixel budget as too large, whatever the body holds.
  auto huge_rle = tga_header(10, kMaxImageDimension, kMaxImageDimension, 24, 0);
  huge_rle.insert(huge_rle.end(), run, run + 4);
  expect_refused(img, ImgFileType::tga, huge_rle, ImgError::too_large);
  auto too_wide = tga_header(2, kMaxImageDimension + 1, 1, 24, 0);
  too_wide.resize(too_wide.size() + (kMaxImageDimension + 1) * 3);
  expect_refused(img, ImgFileType::tga, too_wide, ImgError::bad_format);
  // A raw body one byte short.
  auto short_raw = tga_header(2, 3, 3, 24, 0);
  short_raw.resize(18 + 27 - 1);
  expect_refused(img, ImgFileType::tga, short_raw, ImgError::bad_format);
  // Header and depth checks.
  expect_refused(img, ImgFileType::tga, std::vector<uint8_t>(19, 0), ImgError::bad_format);
  auto grey = tga_header(3, 2, 2, 16, 0);
  grey.resize(30);
  expect_refused(img, ImgFileType::tga, grey, ImgError::unknown_variant);
  auto mapped = tga_header(1, 2, 2, 8, 0);
  mapped.resize(30);
  expect_refused(img, ImgFileType::tga, mapped, ImgError::unsupported_bpp);
  auto odd_depth = tga_header(2, 1, 1, 48, 0);
  odd_depth.resize(30);
  expect_refused(img, ImgFileType::tga, odd_depth, ImgError::unknown_variant);
  // An ID field longer than the file.
  auto long_id = tga_header(2, 1, 1, 24, 0);
  long_id[0] = 200;
  long_id.resize(24);
  expect_refused(img, ImgFileType::tga, long_id, ImgError::bad_format);
}

TEST(TargaWriter, RoundTripAndPackedRows) {
  TempDir t;
  Picture pic = orvl::test::make_picture(13, 7);
  Img src = to_img(pic);
  src.pixels[0] |= 0xAB000000;  // a stray fourth byte is not written
  TgaCodec w;
  ASSERT_EQ(w.bind(&src), ImgError::ok);
  const std::string path = (t.root / "out.tga").string();
  ASSERT_EQ(w.write(path), ImgError::ok);
  auto bytes = file_bytes(path);
  ASSERT_EQ(bytes.size(), 18u + 13 * 7 * 4);
  EXPECT_EQ(bytes[2], 2);
  EXPECT_EQ(bytes[16], 32);
  EXPECT_EQ(bytes[17], 0);
  EXPECT_EQ(bytes[18 + 3], 0);
  Img back;
  ImgDecoder dec;
  dec.bind(&back);
  ASSERT_EQ(back.load(path), ImgError::ok);
  ASSERT_EQ(dec.decode(), ImgError::ok);
  EXPECT_EQ(back.pixels, pic.pixels);
  EXPECT_EQ(src.pixels[0] >> 24, 0xABu);  // the source is untouched

  // Rows pitch apart are written packed.
  Img padded = to_img(pic);
  ASSERT_EQ(padded.resize(13, 7, 16), ImgError::ok);
  std::vector<uint8_t> enc;
  ASSERT_EQ(w.bind(&padded), ImgError::ok);
  ASSERT_EQ(w.encode(enc), ImgError::ok);
  ASSERT_EQ(decode_bytes(back, ImgFileType::tga, enc), ImgError::ok);
  EXPECT_EQ(back.pixels, pic.pixels);

  EXPECT_EQ(w.write((t.root / "no/such/dir/x.tga").string()), ImgError::undefined);
  padded.format.id = 16;
  EXPECT_EQ(w.encode(enc), ImgError::unsupported_bpp);
  Img empty;
  empty.format = kFormat32;
  ASSERT_EQ(w.bind(&empty), ImgError::ok);
  EXPECT_EQ(w.encode(enc), ImgError::no_buffer);
}

// ---- IFF ILBM ---------------------------------------------------------------------------

namespace {

std::vector<uint8_t> ilbm(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& chunks) {
  std::vector<uint8_t> v = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M'};
  for (const auto& [id, data] : chunks) {
    v.insert(v.end(), id.begin(), id.end());
    const uint32_t n = static_cast<uint32_t>(data.size());
    const uint8_t sz[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    v.insert(v.end(), sz, sz + 4);
    v.insert(v.end(), data.begin(), data.end());
    if (n & 1) v.push_back(0);
  }
  return v;
}

std::vector<uint8_t> bmhd(uint32_t w, uint32_t h, uint8_t planes, uint8_t masking, uint8_t compression) {
  std::vector<uint8_t> d(20, 0);
  d[0] = uint8_t(w >> 8);
  d[1] = uint8_t(w);
  d[2] = uint8_t(h >> 8);
  d[3] = uint8_t(h);
  d[8] = planes;
  d[9] = masking;
  d[10] = compression;
  return d;
}

}  // namespace

TEST(Ilbm, PlanesToPixelsAndRowPadding) {
  // Width 40: plane rows of 6 bytes. Red planes (0-7) all ones, the rest zero.
  std::vector<uint8_t> body;
  for (int p = 0; p < 24; ++p) body.insert(body.end(), 6, p < 8 ? 0xFF : 0x00);
  Img img;
  ASSERT_EQ(decode_bytes(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(40, 1, 24, 0, 0)}, {"BODY", body}})),
            ImgError::ok);
  EXPECT_EQ(img.pixels, std::vector<uint32_t>(40, 0x00FF0000));

  // Round trips of our own builder, both compressions, awkward widths.
  for (uint32_t w : {1u, 13u, 16u, 17u, 40u}) {
    Picture pic = orvl::test::make_picture(w, 5, w);
    for (bool rle : {false, true}) {
      ASSERT_EQ(decode_bytes(img, ImgFileType::iff, orvl::test::make_ilbm24(pic, rle)), ImgError::ok);
      EXPECT_EQ(img.pixels, pic.pixels) << w << " " << rle;
    }
  }
}

TEST(Ilbm, ByteRun1Packets) {
  // One 32-pixel row (4 bytes per plane row). Plane 0: "FE 41" repeats 0x41 three times,
  // "80" is a no-op, "00 07" copies one byte. Plane 8: "02 01 02 03" copies three bytes,
  // then "00 F0". Every other plane: "FD 00" (four zero bytes).
  std::vector<uint8_t> body;
  for (int p = 0; p < 24; ++p) {
    if (p == 0) body.insert(body.end(), {0xFE, 0x41, 0x80, 0x00, 0x07});
    else if (p == 8) body.insert(body.end(), {0x02, 0x01, 0x02, 0x03, 0x00, 0xF0});
    else body.insert(body.end(), {0xFD, 0x00});
  }
  Img img;
  ASSERT_EQ(decode_bytes(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(32, 1, 24, 0, 1)}, {"BODY", body}})),
            ImgError::ok);
  const uint8_t red0[4] = {0x41, 0x41, 0x41, 0x07};
  const uint8_t green0[4] = {0x01, 0x02, 0x03, 0xF0};
  for (uint32_t x = 0; x < 32; ++x) {
    const uint32_t bit = 0x80u >> (x % 8);
    const uint32_t want = ((red0[x / 8] & bit) ? 0x010000u : 0u) | ((green0[x / 8] & bit) ? 0x000100u : 0u);
    EXPECT_EQ(img.pixels[x], want) << x;
  }
  // A run longer than the plane row is cut at the row end (and its pixel byte consumed).
  std::vector<uint8_t> long_run;
  for (int p = 0; p < 24; ++p) {
    long_run.push_back(0xFE);  // three bytes into a two-byte row
    long_run.push_back(p < 8 ? 0xFF : 0x00);
  }
  ASSERT_EQ(decode_bytes(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(16, 1, 24, 0, 1)}, {"BODY", long_run}})),
            ImgError::ok);
  EXPECT_EQ(img.pixels, std::vector<uint32_t>(16, 0x00FF0000));
}

TEST(Ilbm, MaskPlaneIsSkippedAndUnknownChunksIgnored) {
  Picture pic = orvl::test::make_picture(16, 2);
  auto plain = orvl::test::make_ilbm24(pic, false);
  // Rebuild with a mask plane after the 24 colour planes of each row.
  const size_t body_at = 12 + 8 + 20 + 8;
  std::vector<uint8_t> body;
  for (uint32_t y = 0; y < 2; ++y) {
    auto row = plain.begin() + static_cast<ptrdiff_t>(body_at + y * 48);
    body.insert(body.end(), row, row + 48);
    body.push_back(0xAA);
    body.push_back(0x55);
  }
  Img img;
  ASSERT_EQ(decode_bytes(img, ImgFileType::iff,
                         ilbm({{"CMAP", {1, 2, 3}}, {"BMHD", bmhd(16, 2, 24, 1, 0)}, {"ANNO", {'x'}}, {"BODY", body}})),
            ImgError::ok);
  EXPECT_EQ(img.pixels, pic.pixels);
}

TEST(Ilbm, DamagedFilesAreRefused) {
  Img img;
  std::vector<uint8_t> body(48 * 2, 0);
  expect_refused(img, ImgFileType::iff, {'F', 'O', 'R'}, ImgError::bad_format);
  expect_refused(img, ImgFileType::iff, {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'I', 'L', 'B', 'X'}, ImgError::bad_format);
  auto no_form = ilbm({{"BMHD", bmhd(16, 2, 24, 0, 0)}, {"BODY", body}});
  no_form[0] = 'X';
  expect_refused(img, ImgFileType::iff, no_form, ImgError::bad_format);
  // BODY shorter than the BMHD size promises: uncompressed and ByteRun1.
  expect_refused(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(16, 3, 24, 0, 0)}, {"BODY", body}}), ImgError::bad_format);
  std::vector<uint8_t> packed;
  for (int i = 0; i < 24; ++i) packed.insert(packed.end(), {0xFF, 0x00});
  expect_refused(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(16, 2, 24, 0, 1)}, {"BODY", packed}}), ImgError::bad_format);
  // A chunk size past the end of the file.
  auto cut = ilbm({{"BMHD", bmhd(16, 2, 24, 0, 0)}, {"BODY", body}});
  cut.resize(cut.size() - 10);
  expect_refused(img, ImgFileType::iff, cut, ImgError::bad_format);
  // Planes: fewer than 16 -> unsupported depth, other deep counts -> unknown variant.
  expect_refused(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(16, 2, 8, 0, 0)}, {"BODY", body}}), ImgError::unsupported_bpp);
  expect_refused(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(16, 2, 32, 0, 0)}, {"BODY", body}}), ImgError::unknown_variant);
  // No BODY, BODY before BMHD, a short BMHD, huge and zero sizes.
  expect_refused(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(16, 2, 24, 0, 0)}}), ImgError::bad_format);
  expect_refused(img, ImgFileType::iff, ilbm({{"BODY", body}, {"BMHD", bmhd(16, 2, 24, 0, 0)}}), ImgError::bad_format);
  expect_refused(img, ImgFileType::iff, ilbm({{"BMHD", std::vector<uint8_t>(10, 0)}, {"BODY", body}}), ImgError::bad_format);
  expect_refused(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(60000, 60000, 24, 0, 1)}, {"BODY", packed}}), ImgError::bad_format);
  expect_refused(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(16384, 16384, 24, 0, 1)}, {"BODY", packed}}), ImgError::too_large);
  expect_refused(img, ImgFileType::iff, ilbm({{"BMHD", bmhd(0, 2, 24, 0, 0)}, {"BODY", body}}), ImgError::bad_format);
}

// ---- JPEG -------------------------------------------------------------------------------

TEST(Jpeg, WriterRoundTripAndFourthByteZero) {
  TempDir t;
  Picture pic = orvl::test::make_picture(37, 21);
  for (auto& p : pic.pixels) p &= 0xFFFF00;  // smooth content survives JPEG well
  Img src = to_img(pic);
  JpegCodec codec;
  ASSERT_EQ(codec.bind(&src), ImgError::ok);
  for (int dct : {0, 1, 2, 7}) {
    const std::string path = (t.root / ("q" + std::to_string(dct) + ".jpg")).string();
    ASSERT_EQ(codec.write(path, dct, 100, dct == 1), ImgError::ok);
    Img back;
    ImgDecoder dec;
    dec.bind(&back);
    ASSERT_EQ(back.load(path), ImgError::ok);
    ASSERT_EQ(back.type, ImgFileType::jpeg);
    ASSERT_EQ(dec.decode(), ImgError::ok);
    ASSERT_EQ(back.width, 37u);
    ASSERT_EQ(back.height, 21u);
    int worst = 0;
    for (size_t i = 0; i < pic.pixels.size(); ++i) {
      EXPECT_EQ(back.pixels[i] >> 24, 0u);
      for (int s = 0; s < 24; s += 8)
        worst = std::max(worst, std::abs(int(back.pixels[i] >> s & 0xFF) - int(pic.pixels[i] >> s & 0xFF)));
    }
    EXPECT_LE(worst, 40) << "dct " << dct;
  }
  // Quality is clamped by libjpeg, not refused.
  std::vector<uint8_t> q0;
  ASSERT_EQ(codec.encode(q0, 0, -5, false), ImgError::ok);

  // A padded layout is written packed.
  Img padded = to_img(pic);
  ASSERT_EQ(padded.resize(37, 21, 40), ImgError::ok);
  std::vector<uint8_t> a, b;
  ASSERT_EQ(codec.encode(a, 0, 90, false), ImgError::ok);
  ASSERT_EQ(codec.bind(&padded), ImgError::ok);
  ASSERT_EQ(codec.encode(b, 0, 90, false), ImgError::ok);
  EXPECT_EQ(a, b);
  EXPECT_EQ(codec.write((t.root / "missing/dir/x.jpg").string(), 0, 90, false), ImgError::undefined);
  Img empty;
  ASSERT_EQ(codec.bind(&empty), ImgError::ok);
  EXPECT_EQ(codec.encode(a, 0, 90, false), ImgError::no_buffer);

  // A libjpeg error while writing (a zero-width picture) comes back as a code.
  Img zero_wide;
  zero_wide.height = zero_wide.pitch = 1;
  zero_wide.format = kFormat32;
  zero_wide.pixels = {0};
  ASSERT_EQ(codec.bind(&zero_wide), ImgError::ok);
  log_set_echo(false);
  log_clear();
  EXPECT_EQ(codec.encode(a, 0, 90, false), ImgError::undefined);
  EXPECT_TRUE(a.empty());
  ASSERT_FALSE(log_lines().empty());
  EXPECT_NE(log_lines().back().find("Empty JPEG image"), std::string::npos) << log_lines().back();
  log_set_echo(true);
}

TEST(Jpeg, LibraryErrorsReturnBadFormatAndLogTheMessage) {
  log_set_echo(false);
  Img img;
  log_clear();
  expect_refused(img, ImgFileType::jpeg, {}, ImgError::bad_format);
  ASSERT_FALSE(log_lines().empty());
  EXPECT_NE(log_lines().back().find("Empty input file"), std::string::npos) << log_lines().back();

  log_clear();
  expect_refused(img, ImgFileType::jpeg, {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'}, ImgError::bad_format);
  ASSERT_FALSE(log_lines().empty());
  EXPECT_NE(log_lines().back().find("Not a JPEG file"), std::string::npos) << log_lines().back();

  // A marker whose length runs past the end of the data: skipped to the end, no overread.
  std::vector<uint8_t> skip = {0xFF, 0xD8, 0xFF, 0xE1, 0x7F, 0xFF, 0x00, 0x01};
  expect_refused(img, ImgFileType::jpeg, skip, ImgError::bad_format);

  log_set_echo(true);
  ORVL_REQUIRE_SHARED_TESTDATA();
  log_set_echo(false);
  // Header cut short: an error, not an exit.
  auto good = file_bytes(kImages + "jpeg_q90_420_grad64x48.jpg");
  expect_refused(img, ImgFileType::jpeg, std::vector<uint8_t>(good.begin(), good.begin() + 100), ImgError::bad_format);

  // Entropy data cut short: libjpeg warns once and fills the rest; the picture is usable.
  log_clear();
  ASSERT_EQ(decode_bytes(img, ImgFileType::jpeg, std::vector<uint8_t>(good.begin(), good.end() - 300)), ImgError::ok);
  EXPECT_EQ(img.pixels.size(), 64u * 48u);
  int warnings = 0;
  for (const auto& l : log_lines()) warnings += l.find("Premature end of JPEG file") != std::string::npos;
  EXPECT_EQ(warnings, 1);

  // The decoder still works after an error.
  ASSERT_EQ(decode_bytes(img, ImgFileType::jpeg, good), ImgError::ok);
  log_set_echo(true);
}

TEST(Jpeg, OversizedPictureIsRefusedBeforeAllocating) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  auto good = file_bytes(kImages + "jpeg_q90_420_grad64x48.jpg");
  // Patch the SOF0 frame size to 20000 x 48.
  for (size_t i = 0; i + 8 < good.size(); ++i)
    if (good[i] == 0xFF && good[i + 1] == 0xC0) {
      good[i + 7] = uint8_t(20000 >> 8);
      good[i + 8] = uint8_t(20000 & 0xFF);
      break;
    }
  log_set_echo(false);
  Img img;
  expect_refused(img, ImgFileType::jpeg, good, ImgError::bad_format);
  log_set_echo(true);
}

// An effect that loads a plasma source or a video frame tests `pixels` after decoding; a
// failure must not leave the previous picture (or a half-filled buffer) behind.
TEST(DecodeFailure, LeavesNoPixelsEvenWhenThePreviousDecodeSucceeded) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  log_set_echo(false);
  const std::pair<ImgFileType, std::string> goods[] = {
      {ImgFileType::bmp, "bmp24_w5x3.bmp"}, {ImgFileType::tga, "tga10_24_tl_rle200x4.tga"},
      {ImgFileType::iff, "ilbm24_byterun1_flat40x10.iff"}, {ImgFileType::jpeg, "jpeg_q90_420_grad64x48.jpg"}};
  for (const auto& [type, file] : goods) {
    Img img;
    ImgDecoder dec;
    dec.bind(&img);
    img.type = type;
    auto bytes = file_bytes(kImages + file);
    (void)img.set_file_data(bytes);
    ASSERT_EQ(dec.decode(), ImgError::ok) << file;
    ASSERT_FALSE(img.pixels.empty());
    bytes.resize(bytes.size() / 8);  // the same file, cut short
    (void)img.set_file_data(bytes);
    EXPECT_NE(dec.decode(), ImgError::ok) << file;
    EXPECT_TRUE(img.pixels.empty()) << file;
    EXPECT_EQ(img.width, 0u);
    // Nor does a type without a reader.
    (void)img.set_file_data(file_bytes(kImages + file));
    ASSERT_EQ(dec.decode(), ImgError::ok);
    img.type = ImgFileType::fix;
    EXPECT_EQ(dec.decode(), ImgError::unknown_file_type);
    EXPECT_TRUE(img.pixels.empty());
  }
  log_set_echo(true);
}

// ---- PNG --------------------------------------------------------------------------------

namespace {

// A PNG of `pixels` (bytes in `format`'s order) through libpng's own writer.
std::vector<uint8_t> make_png(uint32_t w, uint32_t h, uint32_t format, const std::vector<uint8_t>& pixels,
                              const std::vector<uint8_t>* colormap = nullptr) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = format;
  if (colormap) image.colormap_entries = static_cast<png_uint_32>(colormap->size() / 3);
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_get_memory_size(image, size, 0, pixels.data(), 0, colormap ? colormap->data() : nullptr));
  std::vector<uint8_t> out(size);
  EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0,
                                        colormap ? colormap->data() : nullptr));
  out.resize(size);
  return out;
}

uint32_t crc32_of(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

}  // namespace

TEST(Png, ColourTypesDecodeToTheOneLayout) {
  Img img;
  // RGBA: colours kept exactly, alpha dropped (the fourth byte is 0).
  const std::vector<uint8_t> rgba = {255, 0, 0, 255,  0, 255, 0, 0,  0, 0, 255, 128,
                                     1, 2, 3, 4,      250, 251, 252, 253,  9, 8, 7, 255};
  ASSERT_EQ(decode_bytes(img, ImgFileType::png, make_png(3, 2, PNG_FORMAT_RGBA, rgba)), ImgError::ok);
  ASSERT_EQ(img.width, 3u);
  ASSERT_EQ(img.height, 2u);
  EXPECT_EQ(img.pitch, 3u);
  EXPECT_EQ(img.format.id, kPixelFormat32);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0xFF0000, 0x00FF00, 0x0000FF, 0x010203, 0xFAFBFC, 0x090807}));
  // Grey widens to R = G = B.
  ASSERT_EQ(decode_bytes(img, ImgFileType::png, make_png(2, 1, PNG_FORMAT_GRAY, {0x10, 0xE0})), ImgError::ok);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0x101010, 0xE0E0E0}));
  // Palette entries are looked up.
  const std::vector<uint8_t> map = {10, 20, 30, 200, 100, 50};
  ASSERT_EQ(decode_bytes(img, ImgFileType::png, make_png(3, 1, PNG_FORMAT_RGB_COLORMAP, {1, 0, 1}, &map)),
            ImgError::ok);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0xC86432, 0x0A141E, 0xC86432}));
  // The extension picks the reader.
  ImgDecoder dec;
  ASSERT_EQ(dec.bind(&img).detect_type("HQ:Images/Earth.PNG"), ImgError::ok);
  EXPECT_EQ(img.type, ImgFileType::png);
}

TEST(Png, DamagedFilesAreRefused) {
  log_set_echo(false);
  Img img;
  std::vector<uint8_t> rgb(64 * 48 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7);
  const auto good = make_png(64, 48, PNG_FORMAT_RGB, rgb);
  expect_refused(img, ImgFileType::png, {}, ImgError::bad_format);
  expect_refused(img, ImgFileType::png, {'n', 'o', 't', ' ', 'p', 'n', 'g'}, ImgError::bad_format);
  expect_refused(img, ImgFileType::png, std::vector<uint8_t>(good.begin(), good.begin() + 40), ImgError::bad_format);
  expect_refused(img, ImgFileType::png, std::vector<uint8_t>(good.begin(), good.end() - 20), ImgError::bad_format);
  // A header promising a picture wider than any reader accepts is refused before the
  // pixels are allocated (the chunk's checksum is made valid so only the size is wrong).
  auto wide = good;
  wide[16] = 0;
  wide[17] = 0;
  wide[18] = uint8_t(20000 >> 8);
  wide[19] = uint8_t(20000 & 0xFF);
  const uint32_t crc = crc32_of(wide.data() + 12, 17);
  for (int i = 0; i < 4; ++i) wide[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  expect_refused(img, ImgFileType::png, wide, ImgError::bad_format);
  // A failure after a success leaves nothing of the earlier picture.
  ASSERT_EQ(decode_bytes(img, ImgFileType::png, good), ImgError::ok);
  (void)img.set_file_data(std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2));
  ImgDecoder dec;
  EXPECT_EQ(dec.bind(&img).decode(), ImgError::bad_format);
  EXPECT_TRUE(img.pixels.empty());
  log_set_echo(true);
}
