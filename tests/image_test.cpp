// The image record: result codes, type detection, loading, and the pixel operations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "image/file_source.h"
#include "image/image.h"

namespace fs = std::filesystem;
using namespace orvl;

namespace {

// A picture whose pixel (x, y) is y << 16 | x, so every source position is visible.
Img coordinates(uint32_t w, uint32_t h, uint32_t pitch = 0) {
  Img img;
  img.width = w;
  img.height = h;
  img.pitch = pitch ? pitch : w;
  img.format = kFormat32;
  img.pixels.assign(static_cast<size_t>(img.pitch) * h, 0xDEADBEEF);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) img.pixels[static_cast<size_t>(y) * img.pitch + x] = y << 16 | x;
  return img;
}

uint32_t at(const Img& img, uint32_t x, uint32_t y) { return img.pixels[static_cast<size_t>(y) * img.pitch + x]; }

struct TempDir {
  fs::path root = fs::temp_directory_path() / ("orvl_image_" + std::to_string(::getpid()));
  TempDir() { fs::create_directories(root); }
  ~TempDir() { fs::remove_all(root); }
  std::string write(const std::string& name, const std::string& bytes) {
    std::ofstream(root / name, std::ios::binary) << bytes;
    return (root / name).string();
  }
};

}  // namespace

TEST(ImgError, MessagesWordForWord) {
  const char* expected[] = {"No error", "File not found", "Incorrect file format", "Unknown variant",
                            "No IMG instance to work with", "Already loaded", "No buffer",
                            "Error in conversion", "Unsupported BPP", "Empty result operation",
                            "Unknown file type", "Undefined error", "Cannot work with null pointer",
                            "Parameter is out of range", "Image too large"};
  for (int c = 0; c < 15; ++c) {
    std::string text;
    EXPECT_EQ(img_error_text(c, text), ImgError::ok);
    EXPECT_EQ(text, expected[c]);
    EXPECT_STREQ(img_error_text(static_cast<ImgError>(c)), expected[c]);
  }
  std::string untouched = "keep";
  EXPECT_EQ(img_error_text(15, untouched), ImgError::out_of_range);
  EXPECT_EQ(img_error_text(-1, untouched), ImgError::out_of_range);
  EXPECT_EQ(untouched, "keep");
}

TEST(ImgDecoder, TypeFromExtensionIgnoresCase) {
  Img img;
  ImgDecoder dec;
  EXPECT_EQ(dec.detect_type("x.bmp"), ImgError::no_instance);
  dec.bind(&img);
  const std::pair<const char*, ImgFileType> cases[] = {
      {"a.bmp", ImgFileType::bmp},   {"A.TGA", ImgFileType::tga},       {"pic.IFF", ImgFileType::iff},
      {"x.fix", ImgFileType::fix},   {"x.FFC", ImgFileType::ffc},       {"photo.JPG", ImgFileType::jpeg},
      {"photo.jpeg", ImgFileType::unknown}, {"pic.targa", ImgFileType::unknown},
      {"noext", ImgFileType::unknown}, {"dir.v2/noext", ImgFileType::unknown},
      {"two.tga.bmp", ImgFileType::bmp}, {"trailing.", ImgFileType::unknown}};
  for (const auto& [name, type] : cases) {
    img.type = ImgFileType::iff;
    EXPECT_EQ(dec.detect_type(name), ImgError::ok);
    EXPECT_EQ(img.type, type) << name;
  }
}

TEST(ImgDecoder, TypesWithoutReaderAndUnboundDecoder) {
  ImgDecoder unbound;
  EXPECT_EQ(unbound.decode(), ImgError::no_instance);
  for (ImgFileType t : {ImgFileType::unknown, ImgFileType::fix, ImgFileType::ffc}) {
    Img img;
    img.type = t;
    (void)img.set_file_data({1, 2, 3});
    ImgDecoder dec;
    EXPECT_EQ(dec.bind(&img).decode(), ImgError::unknown_file_type);
    EXPECT_TRUE(img.pixels.empty());
  }
  BmpReader b;
  TgaCodec t;
  IffReader i;
  JpegCodec j;
  EXPECT_EQ(b.bind(nullptr), ImgError::no_buffer);
  EXPECT_EQ(t.bind(nullptr), ImgError::no_buffer);
  EXPECT_EQ(i.bind(nullptr), ImgError::no_buffer);
  EXPECT_EQ(j.bind(nullptr), ImgError::no_buffer);
  EXPECT_EQ(b.read(), ImgError::no_instance);
  EXPECT_EQ(t.read(), ImgError::no_instance);
  EXPECT_EQ(i.read(), ImgError::no_instance);
  EXPECT_EQ(j.read(), ImgError::no_instance);
  EXPECT_EQ(t.write("/tmp/never.tga"), ImgError::no_instance);
  EXPECT_EQ(j.write("/tmp/never.jpg", 0, 90, false), ImgError::no_instance);
}

TEST(ImgLoad, ReadsWholeFileAndDetectsType) {
  TempDir t;
  std::string path = t.write("Pic.FIX", "abcdef");
  Img img;
  ImgDecoder dec;
  dec.bind(&img);
  ASSERT_EQ(img.load(path), ImgError::ok);
  EXPECT_EQ(img.file_size(), 6u);
  EXPECT_EQ(img.name, path);  // the name as given, case kept
  EXPECT_EQ(img.type, ImgFileType::fix);
  EXPECT_EQ(dec.decode(), ImgError::unknown_file_type);

  std::string noext = t.write("plain", "xyz");
  ASSERT_EQ(img.load(noext), ImgError::ok);
  EXPECT_EQ(img.type, ImgFileType::unknown);
  EXPECT_EQ(dec.decode(), ImgError::unknown_file_type);
}

TEST(ImgLoad, MissingOrEmptyFileIsNotFoundAndDropsOldData) {
  TempDir t;
  Img img;
  ASSERT_EQ(img.load(t.write("a.bmp", "BM....")), ImgError::ok);
  EXPECT_EQ(img.load((t.root / "missing.bmp").string()), ImgError::file_not_found);
  EXPECT_EQ(img.file_size(), 0u);
  EXPECT_TRUE(img.file_data.empty());
  EXPECT_EQ(img.load(t.write("empty.tga", "")), ImgError::file_not_found);
  EXPECT_EQ(img.load(""), ImgError::file_not_found);
}

TEST(FileSource, DiskSizesAndReadsWithDataFilePaths) {
  TempDir t;
  t.write("Sky.TGA", "0123456789");
  FileSource src;
  // Paths from data files use '\\' and any letter case.
  const std::string windows_style = t.root.string() + "\\sky.tga";
  EXPECT_EQ(src.size_of(windows_style), 10u);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(src.read_all(windows_style, bytes));
  EXPECT_EQ(bytes.size(), 10u);
  EXPECT_EQ(src.size_of((t.root / "none.tga").string()), 0u);
  EXPECT_FALSE(src.read_all((t.root / "none.tga").string(), bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(src.size_of(t.root.string()), 0u);  // a directory is not a file
}

TEST(ImgRelease, KeptPixelsSurviveForTheTaker) {
  Img img = coordinates(4, 3);
  img.name = "x.tga";
  (void)img.set_file_data({1, 2, 3});
  const uint32_t* buffer = img.pixels.data();
  EXPECT_EQ(img.keep_pixels(1), ImgError::ok);
  img.release();
  EXPECT_TRUE(img.name.empty());
  EXPECT_TRUE(img.file_data.empty());
  ASSERT_EQ(img.pixels.size(), 12u);
  std::vector<uint32_t> taken = std::move(img.pixels);
  EXPECT_EQ(taken.data(), buffer);  // handed over, not copied
  EXPECT_EQ(taken[11], (2u << 16) | 3u);

  Img other = coordinates(4, 3);
  EXPECT_EQ(other.keep_pixels(0x100), ImgError::ok);  // low 8 bits only: not kept
  EXPECT_EQ(other.pixels_kept, 0u);
  other.release();
  EXPECT_TRUE(other.pixels.empty());
  EXPECT_EQ(other.width, 4u);  // fields stay until init
  other.init();
  EXPECT_EQ(other.width, 0u);
}

TEST(ImgResize, NearestNeighbourSteps) {
  Img img = coordinates(100, 50);
  ASSERT_EQ(img.resize(256, 256, 256), ImgError::ok);
  EXPECT_EQ(img.width, 256u);
  EXPECT_EQ(img.pitch, 256u);
  ASSERT_EQ(img.pixels.size(), 256u * 256u);
  // Row step 50/256: rows 0..5 from source row 0, row 6 from row 1.
  for (uint32_t y = 0; y <= 5; ++y) EXPECT_EQ(at(img, 0, y) >> 16, 0u) << y;
  EXPECT_EQ(at(img, 0, 6) >> 16, 1u);
  // Column step 100/256: columns 0..2 from source column 0, column 3 from column 1.
  for (uint32_t x = 0; x <= 2; ++x) EXPECT_EQ(at(img, x, 0) & 0xFFFF, 0u);
  EXPECT_EQ(at(img, 3, 0) & 0xFFFF, 1u);
  EXPECT_EQ(at(img, 255, 255), (49u << 16) | 99u);

  Img small = coordinates(100, 50);
  ASSERT_EQ(small.resize(10, 5, 10), ImgError::ok);  // shrinking drops rows and columns
  EXPECT_EQ(at(small, 1, 1), (10u << 16) | 10u);
  EXPECT_EQ(at(small, 9, 4), (40u << 16) | 90u);
}

TEST(ImgResize, SameSizeKeepsBufferAndWiderPitchLeavesPadding) {
  Img img = coordinates(8, 4);
  const uint32_t* buffer = img.pixels.data();
  EXPECT_EQ(img.resize(8, 4, 8), ImgError::ok);
  EXPECT_EQ(img.pixels.data(), buffer);

  ASSERT_EQ(img.resize(8, 4, 12), ImgError::ok);
  EXPECT_EQ(img.pixels.size(), 48u);
  EXPECT_EQ(at(img, 7, 3), (3u << 16) | 7u);
  EXPECT_EQ(img.pixels[8], 0u);  // padding column

  // And back from a padded layout (the old pitch is used for reading).
  ASSERT_EQ(img.resize(4, 2, 4), ImgError::ok);
  EXPECT_EQ(at(img, 1, 1), (2u << 16) | 2u);
}

TEST(ImgResize, RefusesWhatItCannotDoAndLeavesImageUnchanged) {
  Img none;
  EXPECT_EQ(none.resize(4, 4, 4), ImgError::no_buffer);
  Img other = coordinates(4, 4);
  other.format.id = 15;
  EXPECT_EQ(other.resize(8, 8, 8), ImgError::unsupported_bpp);
  other.format.id = 0x10E;  // only the low byte counts
  EXPECT_EQ(other.resize(8, 8, 8), ImgError::ok);

  Img img = coordinates(4, 4);
  const std::vector<uint32_t> before = img.pixels;
  EXPECT_EQ(img.resize(8, 4, 7), ImgError::out_of_range);  // pitch narrower than a row
  EXPECT_EQ(img.resize(0, 4, 4), ImgError::out_of_range);
  EXPECT_EQ(img.resize(4, 0, 4), ImgError::out_of_range);
  EXPECT_EQ(img.resize(kMaxImageDimension + 1, 1, kMaxImageDimension + 1), ImgError::out_of_range);
  EXPECT_EQ(img.pixels, before);
  EXPECT_EQ(img.width, 4u);

  // Fields that disagree with the buffer are refused, not trusted.
  Img lying = coordinates(4, 4);
  lying.height = 100;
  EXPECT_EQ(lying.resize(2, 2, 2), ImgError::out_of_range);
  EXPECT_EQ(lying.flip(0), ImgError::out_of_range);
  EXPECT_EQ(lying.crop(0, 0, 1, 1), ImgError::out_of_range);
  EXPECT_EQ(lying.swap_red_blue(), ImgError::out_of_range);
}

TEST(ImgFlip, VerticalAndMirror) {
  Img img = coordinates(5, 3, 7);
  ASSERT_EQ(img.flip(0), ImgError::ok);
  EXPECT_EQ(at(img, 4, 0), (2u << 16) | 4u);
  EXPECT_EQ(at(img, 0, 2), 0u);
  ASSERT_EQ(img.flip(0), ImgError::ok);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(at(img, x, y), y << 16 | x);

  ASSERT_EQ(img.flip(1), ImgError::ok);
  EXPECT_EQ(at(img, 0, 1), (1u << 16) | 4u);
  EXPECT_EQ(at(img, 4, 1), (1u << 16) | 0u);

  Img thin = coordinates(1, 6);
  const auto before = thin.pixels;
  ASSERT_EQ(thin.flip(7), ImgError::ok);
  EXPECT_EQ(thin.pixels, before);

  Img none;
  EXPECT_EQ(none.flip(0), ImgError::no_buffer);
  thin.format.id = 3;
  EXPECT_EQ(thin.flip(0), ImgError::unsupported_bpp);
}

TEST(ImgCrop, RectangleAndOutsideIsWhite) {
  Img img = coordinates(6, 4, 8);
  ASSERT_EQ(img.crop(0, 0, 8, 4), ImgError::ok);
  EXPECT_EQ(img.width, 8u);
  EXPECT_EQ(img.pitch, 8u);
  EXPECT_EQ(at(img, 5, 3), (3u << 16) | 5u);
  for (uint32_t y = 0; y < 4; ++y) {
    EXPECT_EQ(at(img, 6, y), 0x00FFFFFFu);
    EXPECT_EQ(at(img, 7, y), 0x00FFFFFFu);
  }

  Img inner = coordinates(10, 10);
  ASSERT_EQ(inner.crop(2, 3, 5, 9), ImgError::ok);
  EXPECT_EQ(inner.width, 3u);
  EXPECT_EQ(inner.height, 6u);
  EXPECT_EQ(at(inner, 0, 0), (3u << 16) | 2u);
  EXPECT_EQ(at(inner, 2, 5), (8u << 16) | 4u);

  Img same = coordinates(10, 10);
  const auto before = same.pixels;
  EXPECT_EQ(same.crop(5, 5, 5, 9), ImgError::empty_result);
  EXPECT_EQ(same.crop(5, 9, 6, 9), ImgError::empty_result);
  EXPECT_EQ(same.crop(0, 0, 70000, 1), ImgError::out_of_range);
  EXPECT_EQ(same.pixels, before);
  EXPECT_EQ(same.width, 10u);
  Img none;
  EXPECT_EQ(none.crop(0, 0, 1, 1), ImgError::no_buffer);
}

TEST(ImgClone, DeepCopyWithoutKeptFlag) {
  Img img = coordinates(3, 2);
  img.name = "a.tga";
  (void)img.set_file_data({9, 8, 7});
  img.type = ImgFileType::tga;
  (void)img.keep_pixels(1);
  auto copy = img.clone();
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->pixels, img.pixels);
  EXPECT_NE(copy->pixels.data(), img.pixels.data());
  EXPECT_EQ(copy->file_data, img.file_data);
  EXPECT_EQ(copy->name, "a.tga");
  EXPECT_EQ(copy->type, ImgFileType::tga);
  EXPECT_EQ(copy->pixels_kept, 0u);
  EXPECT_EQ(img.pixels_kept, 1u);
  copy->pixels[0] = 42;
  EXPECT_EQ(img.pixels[0], 0u);

  Img empty;
  auto empty_copy = empty.clone();
  ASSERT_TRUE(empty_copy);
  EXPECT_TRUE(empty_copy->pixels.empty());
}

TEST(ImgSwapRedBlue, ExchangesBytesZeroAndTwoWithinRows) {
  Img img;
  img.width = 2;
  img.height = 2;
  img.pitch = 3;
  img.format = kFormat32;
  img.pixels = {0xAA112233, 0x00445566, 0x77777777, 0x00010203, 0x00FF0000, 0x12345678};
  ASSERT_EQ(img.swap_red_blue(), ImgError::ok);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0xAA332211, 0x00665544, 0x77777777, 0x00030201,
                                               0x000000FF, 0x12345678}));
  Img none;
  EXPECT_EQ(none.swap_red_blue(), ImgError::no_buffer);
}
