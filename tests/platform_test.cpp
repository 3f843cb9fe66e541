#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/log.h"

namespace fs = std::filesystem;
using namespace orvl;

namespace {

struct TempDir {
  fs::path root;
  TempDir() {
    root = fs::temp_directory_path() / ("orvl_platform_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
  }
  ~TempDir() { fs::remove_all(root); }
  void write(const std::string& rel, const std::string& content) {
    fs::path p = root / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
};

}  // namespace

TEST(FileLayer, WindowsPathsResolveWithSlashesAndAnyCase) {
  TempDir t;
  t.write("Objects/Ships/Hull.LWO", "hull");
  std::string base = t.root.string();

  std::vector<uint8_t> data;
  EXPECT_EQ(read_whole_file(base + "\\objects\\SHIPS\\hull.lwo", data), FileStatus::ok);
  EXPECT_EQ(std::string(data.begin(), data.end()), "hull");
  EXPECT_EQ(resolve_data_path(base + "/OBJECTS/ships/HULL.lwo"), base + "/Objects/Ships/Hull.LWO");
  EXPECT_TRUE(data_file_exists(base + "\\Objects\\Ships\\Hull.LWO"));
  // A component that matches nothing leaves the mapped path as written.
  EXPECT_EQ(resolve_data_path(base + "\\Objects\\none\\x"), base + "/Objects/none/x");
  EXPECT_FALSE(data_file_exists(base + "/Objects"));  // a directory is not a file
}

TEST(FileLayer, MissingEmptyAndOversizedFiles) {
  TempDir t;
  t.write("empty.bin", "");
  t.write("big.bin", std::string(100, 'x'));
  std::vector<uint8_t> data{1, 2, 3};
  EXPECT_EQ(read_whole_file((t.root / "nothing").string(), data), FileStatus::not_found);
  EXPECT_TRUE(data.empty());
  EXPECT_EQ(read_whole_file((t.root / "empty.bin").string(), data), FileStatus::ok);
  EXPECT_TRUE(data.empty());
  EXPECT_EQ(read_whole_file((t.root / "big.bin").string(), data, 99), FileStatus::too_large);
  EXPECT_EQ(read_whole_file((t.root / "big.bin").string(), data, 100), FileStatus::ok);
  EXPECT_EQ(data.size(), 100u);
}

TEST(FileLayer, PathHelpers) {
  EXPECT_EQ(path_directory("a/b/c.lws"), "a/b/");
  EXPECT_EQ(path_directory("a\\b\\c.lws"), "a\\b\\");
  EXPECT_EQ(path_directory("c.lws"), "");
  EXPECT_EQ(path_join("", "x"), "x");
  EXPECT_EQ(path_join("root", "x"), "root/x");
  EXPECT_EQ(path_join("root/", "x"), "root/x");
}

TEST(Clock, VirtualClockIsSetAndAdvancedOnlyByHand) {
  clock_set_virtual(5000);
  EXPECT_TRUE(clock_is_virtual());
  EXPECT_EQ(clock_now_ms(), 5000u);
  clock_advance_virtual(250);
  EXPECT_EQ(clock_now_ms(), 5250u);
  clock_use_real();
  EXPECT_FALSE(clock_is_virtual());
  uint32_t a = clock_now_ms();
  EXPECT_GT(a, 0u);  // 0 would read as "motion not started"
  EXPECT_GE(clock_now_ms(), a);
}

TEST(Log, KeepsLinesInOrder) {
  log_set_echo(false);
  log_clear();
  log_line("first");
  log_format("Scene index : %d", 3);
  ASSERT_EQ(log_lines().size(), 2u);
  EXPECT_EQ(log_lines()[0], "first");
  EXPECT_EQ(log_lines()[1], "Scene index : 3");
  log_set_echo(true);
}
