// `orvl dump-scene` end to end: the built binary on scenes written by the LWS writer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "support/shared_data.h"
#include "tools/lws_writer.h"

namespace fs = std::filesystem;
using namespace orvl;

namespace {

struct CommandRun {
  int exit_code = -1;
  std::string out, err;
};

CommandRun run_orvl(const std::string& args, const fs::path& dir) {
  const fs::path err_file = dir / "stderr.txt";
  const std::string cmd = std::string(ORVL_BINARY) + " " + args + " 2>" + err_file.string();
  CommandRun r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err_file);
  std::stringstream ss;
  ss << in.rdbuf();
  r.err = ss.str();
  return r;
}

struct TempDir {
  fs::path root = fs::temp_directory_path() / ("orvl_dump_scene_" + std::to_string(::getpid()));
  TempDir() {
    fs::remove_all(root);
    fs::create_directories(root);
  }
  ~TempDir() { fs::remove_all(root); }
};

}  // namespace

TEST(DumpScene, JsonCarriesTheLoadedScene) {
  TempDir dir;
  LwsScene sc;
  sc.crlf = false;
  LwsObject a;
  a.motion[0].value = {1, 2, 3, 10, 20, 30, 1, 1, 1};
  a.pivot = std::array<float, 3>{1.5f, 0, 0};
  LwsEnvelope dissolve;
  dissolve.keys.push_back({0.25f, 0, 0, 0, 0, 0});
  dissolve.keys.push_back({1, 60, 1, 0, 0, 0});
  a.dissolve = dissolve;
  sc.objects.push_back(a);
  sc.objects.emplace_back();
  sc.objects.back().parent = 1;
  LwsLight light;
  light.color = {255, 128, 0};
  sc.lights = {light};
  sc.camera.zoom_factor = 3.2f;
  sc.backdrop_color = {0, 0, 255};
  sc.view_zoom_factor = 0.095f;
  const fs::path file = dir.root / "nulls.lws";
  ASSERT_TRUE(write_lws_file(file.string(), sc));

  CommandRun r = run_orvl("dump-scene " + file.string() + " --json", dir.root);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["status"], 0);
  EXPECT_EQ(j["last_frame"], 60);
  EXPECT_EQ(j["frames_per_second"], 30);
  ASSERT_EQ(j["objects"].size(), 2u);
  EXPECT_EQ(j["objects"][0]["pivot"][0], -1.5);
  EXPECT_EQ(j["objects"][0]["file_name"], "Null");
  EXPECT_EQ(j["objects"][1]["parent"], 0);
  const int dissolve_at = j["objects"][0]["dissolve_envelope"];
  EXPECT_EQ(j["motions"][dissolve_at]["keys"][0]["value"][0], 191.25);
  const int motion = j["objects"][0]["motion"];
  const auto& keys = j["motions"][motion]["keys"];
  ASSERT_EQ(keys.size(), 2u);  // the last frame is appended
  EXPECT_EQ(keys[1]["frame"], 60);
  EXPECT_EQ(keys[0]["value"][4], -20);
  EXPECT_EQ(j["motions"][motion]["key_count"], 2);
  EXPECT_EQ(j["lights"][0]["type"], 4);
  EXPECT_EQ(j["lights"][0]["color"][1], 0.5019608);  // shortest text of the stored float
  EXPECT_EQ(j["camera_parent"], -1);
  EXPECT_EQ(j["zoom_envelope"], -1);
  EXPECT_EQ(j["zoom_factor"], 3.2);
  EXPECT_EQ(j["ambient_color"][0], 255);
  EXPECT_EQ(j["view_zoom_factor"], 0.095);
  EXPECT_EQ(j["motions"][0]["frames_per_second"], 30);

  // The text form says the same in lines; the log stays off standard output.
  r = run_orvl("dump-scene " + file.string(), dir.root);
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("scene ", 0), 0u);
  EXPECT_NE(r.out.find("status 0 (loaded)"), std::string::npos);
  EXPECT_NE(r.out.find("timing first_frame 0 last_frame 60 frame_step 1 frames_per_second 30"), std::string::npos);
  EXPECT_NE(r.out.find("camera camera_parent -1 zoom_factor 3.2"), std::string::npos);
}

TEST(DumpScene, FailuresNameTheFileAndTheStatus) {
  TempDir dir;
  CommandRun r = run_orvl("dump-scene " + (dir.root / "absent.lws").string(), dir.root);
  EXPECT_NE(r.exit_code, 0);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("absent.lws: status 1 (file not found)"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);

  // A refused scene names the limit on the same single line.
  LwsScene crowded;
  crowded.objects.assign(51, LwsObject());
  ASSERT_TRUE(write_lws_file((dir.root / "crowded.lws").string(), crowded));
  r = run_orvl("dump-scene " + (dir.root / "crowded.lws").string(), dir.root);
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.err.find("status 2"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("more than 50 objects"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);

  // Names inside scene files are 8-bit text: a Latin-1 name still gives a valid document.
  crowded.objects.assign(1, LwsObject());
  crowded.objects[0].load_path = "C:\\LIGHTWAVE\\caf\xE9.lwo";
  ASSERT_TRUE(write_lws_file((dir.root / "accented.lws").string(), crowded));
  r = run_orvl("dump-scene " + (dir.root / "accented.lws").string() + " --json", dir.root);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  ASSERT_TRUE(nlohmann::json::accept(r.out)) << r.out;
  EXPECT_EQ(nlohmann::json::parse(r.out)["error_path"], "caf\u00e9.lwo");

  r = run_orvl("dump-scene", dir.root);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("usage"), std::string::npos);

  ORVL_REQUIRE_SHARED_TESTDATA();
  // A real scene whose objects are not shipped: status 1 naming the object.
  const std::string real = orvl::test::shared_testdata("lightwave/TVorlonExample.lws");
  r = run_orvl("dump-scene " + real + " --json", dir.root);
  EXPECT_NE(r.exit_code, 0);
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["status"], 1);
  EXPECT_EQ(j["error_path"], "ships\\TVorlon\\TVorlonMain");
  EXPECT_NE(r.err.find("ships\\TVorlon\\TVorlonMain"), std::string::npos);
}
