#include "support/shared_data.h"

#include <filesystem>
#include <system_error>

namespace orvl::test {

const std::string& shared_testdata_dir() {
  static const std::string dir = std::filesystem::path(ORVL_TESTDATA_DIR).lexically_normal().string();
  return dir;
}

std::string shared_testdata(const std::string& relative) { return shared_testdata_dir() + "/" + relative; }

bool shared_testdata_present() {
  std::error_code ec;
  return std::filesystem::is_directory(shared_testdata_dir(), ec);
}

std::string shared_testdata_missing() { return "shared test data not found at " + shared_testdata_dir(); }

}  // namespace orvl::test
