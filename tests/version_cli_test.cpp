// `orvl --version` and `orvl version`: the project's version from CMakeLists.txt, both ways.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

std::string run(const std::string& args, int& code) {
  FILE* p = popen((std::string(ORVL_BINARY) + " " + args + " 2>/dev/null").c_str(), "r");
  std::string out;
  char buf[256];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = p ? pclose(p) : -1;
  code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

TEST(Version, BothSpellingsPrintTheProjectVersion) {
  std::ifstream in(std::string(ORVL_SOURCE_DIR) + "/CMakeLists.txt");
  std::stringstream text;
  text << in.rdbuf();
  std::smatch m;
  const std::string cmake = text.str();
  ASSERT_TRUE(std::regex_search(cmake, m, std::regex(R"(project\(orvl VERSION ([0-9.]+))")));
  int code = -1;
  EXPECT_EQ(run("--version", code), "orvl " + m[1].str() + "\n");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(run("version", code), "orvl " + m[1].str() + "\n");
  EXPECT_EQ(code, 0);
  EXPECT_NE(run("help", code).find("version"), std::string::npos);
}

}  // namespace
