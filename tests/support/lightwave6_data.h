// Where the real LightWave 6 files for tests live, and the skip used when they are absent.
#pragma once

#include <filesystem>
#include <string>

#define ORVL_REQUIRE_LIGHTWAVE6_DATA()                                                     \
  do {                                                                                     \
    if (!std::filesystem::is_directory(::orvl::test::lightwave6_dir()))                    \
      GTEST_SKIP() << "shared test data not found at " << ::orvl::test::lightwave6_dir(); \
  } while (0)

namespace orvl::test {

inline std::string lightwave6_dir() { return std::string(ORVL_TESTDATA_DIR) + "/lightwave6"; }
inline std::string lightwave6_file(const std::string& name) { return lightwave6_dir() + "/" + name; }

}  // namespace orvl::test
