#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/shared_data.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct Cli {
  fs::path dir;
  Cli() {
    dir = fs::temp_directory_path() / ("orvl_codec_cli_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~Cli() { fs::remove_all(dir); }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  // Exit status of `orvl ARGS`, with its standard error captured in `err`.
  int run(const std::string& args, std::string* err = nullptr) const {
    std::string cmd = std::string(ORVL_BINARY) + " " + args + " >" + path("stdout") + " 2>" + path("stderr");
    int rc = std::system(cmd.c_str());
    if (err) *err = text(path("stderr"));
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  static std::string text(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  static Bytes bytes(const std::string& p) {
    std::string s = text(p);
    return Bytes(s.begin(), s.end());
  }
  void write(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
  }
};

std::string vec(const std::string& name) { return orvl::test::shared_testdata("lzari/" + name); }

}  // namespace

TEST(CodecCli, LzCompressesToTheReferenceBlockAndBack) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  Cli cli;
  ASSERT_EQ(cli.run("lz compress " + vec("text4096.in") + " " + cli.path("t.lz")), 0);
  EXPECT_TRUE(Cli::bytes(cli.path("t.lz")) == Cli::bytes(vec("text4096.lzari")));
  EXPECT_NE(Cli::text(cli.path("stdout")).find("4096 bytes"), std::string::npos);
  ASSERT_EQ(cli.run("lz expand " + cli.path("t.lz") + " " + cli.path("t.out") + " --size 4096"), 0);
  EXPECT_TRUE(Cli::bytes(cli.path("t.out")) == Cli::bytes(vec("text4096.in")));
}

TEST(CodecCli, LzRefusesBadArguments) {
  Cli cli;
  std::string err;
  EXPECT_EQ(cli.run("lz squash a b"), 2);
  EXPECT_EQ(cli.run("lz compress " + cli.path("missing") + " " + cli.path("x"), &err), 1);
  EXPECT_NE(err.find("missing"), std::string::npos);
  ORVL_REQUIRE_SHARED_TESTDATA();
  EXPECT_EQ(cli.run("lz expand " + vec("a1000.lzari") + " " + cli.path("x")), 2);  // no --size
  EXPECT_EQ(cli.run("lz expand " + vec("a1000.lzari") + " " + cli.path("x") + " --size 12x"), 2);
  EXPECT_EQ(cli.run("lz expand " + vec("a1000.lzari") + " " + cli.path("x") + " --size 2000000000", &err), 1);
  EXPECT_NE(err.find("too large"), std::string::npos);
}

TEST(CodecCli, LzwRoundTripAndSize) {
  Cli cli;
  std::string data;
  for (int i = 0; i < 3000; ++i) data += "visible " + std::to_string(i % 31) + "\n";
  cli.write("in.txt", data);
  ASSERT_EQ(cli.run("lzw compress " + cli.path("in.txt") + " " + cli.path("in.lzw")), 0);
  EXPECT_LT(fs::file_size(cli.path("in.lzw")), data.size() / 3);
  ASSERT_EQ(cli.run("lzw expand " + cli.path("in.lzw") + " " + cli.path("out.txt")), 0);
  EXPECT_EQ(Cli::text(cli.path("out.txt")), data);
  ASSERT_EQ(cli.run("lzw expand " + cli.path("in.lzw") + " " + cli.path("head.txt") + " --size 100"), 0);
  EXPECT_EQ(Cli::text(cli.path("head.txt")), data.substr(0, 100));
  std::string err;
  EXPECT_EQ(cli.run("lzw expand " + cli.path("in.lzw") + " " + cli.path("x") + " --size 99999999", &err), 1);
  EXPECT_NE(err.find("fewer than"), std::string::npos);
  // Not an LZW stream: no clear code first.
  cli.write("junk", "hello world");
  EXPECT_EQ(cli.run("lzw expand " + cli.path("junk") + " " + cli.path("x"), &err), 1);
  EXPECT_NE(err.find("damaged"), std::string::npos);
  EXPECT_EQ(cli.run("lzw compress " + cli.path("in.txt") + " " + cli.path("x") + " --size 3"), 2);
}
