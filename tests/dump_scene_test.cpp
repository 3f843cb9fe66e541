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
#include "tools/lwob_writer.h"
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

// A LightWave 6 scene: the format version, and per motion the channels with their keys,
// span shapes and behaviours.
TEST(DumpScene, LightWave6ScenesReportTheirChannels) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  TempDir dir;
  const std::string file = orvl::test::shared_testdata("lightwave6/move_y_pre_ofrep_post_osc.lws");
  CommandRun r = run_orvl("dump-scene " + file + " --json", dir.root);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["format_version"], 5);
  EXPECT_EQ(j["first_frame"], -240);  // this one starts before 0, in its pre behaviour
  const nlohmann::json& y = j["motions"][1]["channels"][1];
  EXPECT_EQ(y["pre"], "offset_repeat");
  EXPECT_EQ(y["post"], "oscillate");
  ASSERT_EQ(y["keys"].size(), 3u);
  EXPECT_EQ(y["keys"][2]["shape"], "tcb");
  EXPECT_NEAR(y["keys"][2]["time"].get<double>(), 1.7, 1e-6);
  r = run_orvl("dump-scene " + orvl::test::shared_testdata("lightwave6/move_xz_bezier.lws"), dir.root);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("format LWSC 5"), std::string::npos);
  EXPECT_NE(r.out.find("shape bezier2d"), std::string::npos);
}

// --missing null: the Aminet scenes, whose objects are not shipped, load with a null object
// for each LoadObject line, their parents, lights and camera kept; eval sees the same; a
// LightWave 6 scene does the same; anything but "null" is refused.
TEST(DumpScene, MissingObjectsBecomeNullObjects) {
  TempDir dir;
  CommandRun r = run_orvl("dump-scene x.lws --missing nothing", dir.root);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--missing wants null"), std::string::npos) << r.err;

  // LightWave 6: an absent object with a null child parented to it by item id.
  const fs::path lw6 = dir.root / "six.lws";
  std::ofstream(lw6) << "LWSC\n3\n\nFirstFrame 1\nLastFrame 30\nFramesPerSecond 30\n\n"
                        "LoadObjectLayer 1 10000000 Objects/absent.lwo\nPivotPosition 1 2 3\n\n"
                        "AddNullObject 10000001 Child\nParentItem 10000000\n\nAddLight 20000000\nLightName L\n"
                        "LightType 0\n\nAddCamera 30000000\nCameraName C\nParentItem 10000001\n";
  r = run_orvl("dump-scene " + lw6.string() + " --json", dir.root);
  EXPECT_EQ(r.exit_code, 1);
  r = run_orvl("dump-scene " + lw6.string() + " --json --missing null", dir.root);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["objects"].size(), 2u);
  EXPECT_EQ(j["objects"][0]["missing"], true);
  EXPECT_EQ(j["objects"][0]["file_name"], "Objects/absent.lwo");
  EXPECT_FALSE(j["objects"][1].contains("missing"));
  EXPECT_EQ(j["objects"][1]["parent"], 0);
  EXPECT_EQ(j["camera_parent"], 1);
  EXPECT_EQ(j["objects"][0]["pivot"], nlohmann::json::parse("[-1, -2, -3]"));
  EXPECT_EQ(r.err, "orvl dump-scene: Object Objects/absent.lwo not found: a null object stands in for it\n");

  // The Aminet scenes: loaded with --missing null they have the same objects, parents,
  // motions, lights and camera as when every object file is there (stand-ins written below
  // a root), the absent ones marked.
  ORVL_REQUIRE_SHARED_TESTDATA();
  LwobWriter stand_in;
  stand_in.add_point(0, 0, 0);
  stand_in.add_point(1, 0, 0);
  stand_in.add_point(0, 1, 0);
  stand_in.add_polygon({0, 1, 2}, 1);
  stand_in.add_surface("S");
  for (const char* name : {"TVorlonExample.lws", "PassMountains.lws", "Shadow.lws", "NarnJumpgateBlue.lws"}) {
    SCOPED_TRACE(name);
    const std::string file = orvl::test::shared_testdata(std::string("lightwave/") + name);
    const fs::path root = dir.root / (std::string("root_") + name);
    std::ifstream in(file);
    int load_lines = 0;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("LoadObject ", 0) != 0) continue;
      ++load_lines;
      std::string written = line.substr(11);
      while (!written.empty() && (written.back() == '\r' || written.back() == ' ')) written.pop_back();
      std::replace(written.begin(), written.end(), '\\', '/');
      fs::create_directories((root / written).parent_path());
      ASSERT_TRUE(stand_in.write((root / written).string()));
    }
    r = run_orvl("dump-scene " + file + " --json --root " + root.string() + "/", dir.root);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const nlohmann::json present = nlohmann::json::parse(r.out);
    r = run_orvl("dump-scene " + file + " --json --missing null", dir.root);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["status"], 0);
    ASSERT_EQ(j["objects"].size(), present["objects"].size());
    ASSERT_GE(j["objects"].size(), 1u);
    int missing = 0;
    for (size_t i = 0; i < j["objects"].size(); ++i) {
      const nlohmann::json& a = j["objects"][i];
      const nlohmann::json& b = present["objects"][i];
      const bool was_loaded = !b["loaded_path"].get<std::string>().empty();
      EXPECT_EQ(a.value("missing", false), was_loaded) << i;
      missing += was_loaded;
      for (const char* key : {"file_name", "motion", "parent", "pivot", "morph_target", "dissolve_envelope"})
        EXPECT_EQ(a[key], b[key]) << i << " " << key;
    }
    for (const char* key : {"light_count", "motion_count", "camera_parent", "lights", "motions", "zoom_factor"})
      EXPECT_EQ(j[key], present[key]) << key;
    EXPECT_LE(missing, load_lines);
    // One line per missing object on standard error.
    size_t lines = 0;
    for (size_t at = 0; (at = r.err.find("a null object stands in for it", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, size_t(missing));

    // eval places them: objects (missing ones marked), lights and camera, in both readings.
    r = run_orvl("eval " + file + " --frame 10 --look lightwave --json --missing null", dir.root);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const nlohmann::json e = nlohmann::json::parse(r.out);
    ASSERT_EQ(e["objects"].size(), j["objects"].size());
    ASSERT_EQ(e["lightwave"]["objects"].size(), j["objects"].size());
    for (size_t i = 0; i < j["objects"].size(); ++i) {
      EXPECT_EQ(e["objects"][i].value("missing", false), j["objects"][i].value("missing", false)) << i;
      EXPECT_EQ(e["lightwave"]["objects"][i].value("missing", false), j["objects"][i].value("missing", false)) << i;
    }
    EXPECT_EQ(e["lightwave"]["lights"].size(), j["light_count"].get<size_t>());
    EXPECT_EQ(e["lightwave"]["camera"]["world"].size(), 16u);
    r = run_orvl("eval " + file + " --frame 10 --look lightwave --json --root " + root.string() + "/", dir.root);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const nlohmann::json ep = nlohmann::json::parse(r.out);
    EXPECT_EQ(e["lightwave"]["camera"], ep["lightwave"]["camera"]);
    EXPECT_EQ(e["lightwave"]["lights"], ep["lightwave"]["lights"]);
    for (size_t i = 0; i < j["objects"].size(); ++i)
      EXPECT_EQ(e["lightwave"]["objects"][i]["world"], ep["lightwave"]["objects"][i]["world"]) << i;
  }
}
