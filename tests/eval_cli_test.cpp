// `orvl eval` end to end: scene files on disk, the real binary, its text and JSON output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "support/shared_data.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr double kRad = 0.017453292;

struct CliRun {
  int exit_code = -1;
  std::string out, err;
};

CliRun run_orvl(const std::string& args) {
  const fs::path err_file = fs::temp_directory_path() / ("orvl_eval_err_" + std::to_string(::getpid()));
  const std::string cmd = std::string(ORVL_BINARY) + " eval " + args + " 2>" + err_file.string();
  CliRun r;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = ::pclose(p);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::ifstream e(err_file);
  r.err.assign(std::istreambuf_iterator<char>(e), {});
  fs::remove(err_file);
  return r;
}

// Null objects only, so no object files are needed. Object 0 turns by heading 90 at
// (10, 0, 0) with scale 2 and pivot (1, 0, 0); object 1 (its child) slides from x 0 to 30
// over frames 0..30 and fades out linearly over the whole scene; the camera rides on object 1.
// The parser looks 150 characters ahead for an object's optional items, so each object's
// block is as long as LightWave writes it, or it would take its neighbour's parent.
const char* kScene =
    "LWSC\n1\n\nFirstFrame 0\nLastFrame 60\nFrameStep 1\nFramesPerSecond 30.000000\n\n"
    "AddNullObject Turner\nObjectMotion (unnamed)\n  9\n  1\n  10 0 0 90 0 0 2 2 2\n  0 0 0 0 0\n"
    "EndBehavior 1\nPivotPoint 1 0 0\nShadowOptions 7\n\n"
    "AddNullObject Slider\nShowObject 8 7\nObjectMotion (unnamed)\n  9\n  3\n  0 0 0 0 0 0 1 1 1\n"
    "  0 0 0 0 0\n  15 0 0 0 0 0 1 1 1\n  15 1 0 0 0\n  30 0 0 0 0 0 1 1 1\n  30 1 0 0 0\n"
    "EndBehavior 1\nParentObject 1\n"
    "ObjDissolve (envelope)\n  1\n  2\n  0\n  0 0 0 0 0\n  1\n  60 1 0 0 0\nEndBehavior 1\n\n"
    "AmbientColor 255 255 255\nAmbIntensity 0.250000\n\n"
    "AddLight\nLightName Light\nShowLight 1 7\nLightMotion (unnamed)\n  9\n  1\n  -5 2 4 45 35 0 1 1 1\n"
    "  0 0 0 0 0\nEndBehavior 1\nLightColor 255 255 255\nLgtIntensity 1.000000\nLightType 1\n\n"
    "ShowCamera 1 7\nCameraMotion (unnamed)\n  9\n  1\n  0 0 0 0 0 0 1 1 1\n  0 0 0 0 0\nEndBehavior 1\n"
    "ParentObject 2\nZoomFactor 3.200000\n\nBackdropColor 0 0 0\nViewZoomFactor 4.000000\n";

class EvalCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("orvl_eval_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    scene = (dir / "nulls.lws").string();
    std::ofstream(scene, std::ios::binary) << kScene;
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  std::string scene;
};

void expect_vec(const json& v, double x, double y, double z, double eps = 1e-4) {
  ASSERT_EQ(v.size(), 3u);
  EXPECT_NEAR(v[0].get<double>(), x, eps);
  EXPECT_NEAR(v[1].get<double>(), y, eps);
  EXPECT_NEAR(v[2].get<double>(), z, eps);
}

}  // namespace

TEST_F(EvalCommand, JsonPlacesObjectsCameraAndLightsAtTheMoment) {
  CliRun r = run_orvl(scene + " --at 1000 --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["status"], 0);
  EXPECT_EQ(j["frame"].get<double>(), 30.0);
  EXPECT_EQ(j["current_frame"], 30);
  EXPECT_EQ(j["finished"], 0);
  ASSERT_EQ(j["objects"].size(), 2u);
  const json& turner = j["objects"][0];
  expect_vec(turner["position"], 10, 0, 0);
  expect_vec(turner["angles"], 0, 90 * kRad, 0);
  expect_vec(turner["scale"], 2, 2, 2);
  EXPECT_NEAR(turner["rotation"][2].get<double>(), 1.0, 1e-6);
  const json& slider = j["objects"][1];
  expect_vec(slider["position"], 30, 0, 0);
  EXPECT_EQ(slider["dissolve"], 127);  // halfway through a linear fade from 255 to 0
  // ((30, 0, 0) + pivot (-1, 0, 0)) x 2, turned by heading 90, plus (10, 0, 0).
  expect_vec(j["camera_position"], 10, 0, -58);
  expect_vec(j["camera_angles"], 0, -90 * kRad, 0, 1e-6);
  EXPECT_EQ(j["zoom_factor"].get<double>(), 1.0);
  ASSERT_EQ(j["lights"].size(), 1u);
  expect_vec(j["lights"][0]["light_position"], -5, 2, 4);
  expect_vec(j["lights"][0]["light_angles"], -35 * kRad, 45 * kRad, 0, 1e-6);

  // Past the scene's end the camera holds one frame before the last and reports it finished.
  const json end = json::parse(run_orvl(scene + " --at 5000 --json").out);
  EXPECT_EQ(end["frame"].get<double>(), 59.0);
  EXPECT_EQ(end["finished"], 1);
  // The show's scene scale: positions grow, the dissolve envelope does not.
  const json scaled = json::parse(run_orvl(scene + " --at 1000 --json --scale 50").out);
  expect_vec(scaled["objects"][1]["position"], 1500, 0, 0, 1e-2);
  EXPECT_EQ(scaled["objects"][1]["dissolve"], 127);
}

TEST_F(EvalCommand, TextOutputAndFailures) {
  CliRun r = run_orvl(scene + " --at 1000");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("frame         30 (current_frame 30, finished 0)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("dissolve 127"), std::string::npos);
  EXPECT_NE(r.out.find("zoom_factor 1\n"), std::string::npos);
  EXPECT_EQ(r.out.rfind("scene ", 0), 0u) << r.out;  // the load log stays off stdout

  CliRun missing = run_orvl((dir / "absent.lws").string() + " --at 0");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("absent.lws: status 1"), std::string::npos) << missing.err;
  EXPECT_TRUE(missing.out.empty());

  EXPECT_EQ(run_orvl(scene).exit_code, 2);                                   // no --at
  EXPECT_EQ(run_orvl(scene + " --at -5").exit_code, 2);                      // not a duration
  EXPECT_EQ(run_orvl(scene + " --at 10 --camera-space 7").exit_code, 2);  // no such object
}

TEST(EvalRealScene, BallconeCameraAndConeReachTheirMiddleKeys) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const std::string dir = orvl::test::shared_testdata("lightwave/ballcone");
  CliRun r = run_orvl(dir + "/ballcone.lws --root " + dir + " --at 1000 --json --camera-space 1");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json j = json::parse(r.out);
  // Frame 30 is a key of both the cone and the camera: the spline passes through it.
  expect_vec(j["camera_position"], 138.9237, 20, -218.272, 1e-3);
  expect_vec(j["camera_angles"], 2.9 * kRad, 48 * kRad, 0, 1e-6);
  const json& cone = j["objects"][1];
  expect_vec(cone["position"], 18.11593, 72.5, 15.02915, 1e-3);
  expect_vec(cone["angles"], 78.10001 * kRad, -8.899995 * kRad, -52.8 * kRad, 1e-6);
  EXPECT_FALSE(cone["transformed"].empty());
  EXPECT_FALSE(j["objects"][0].contains("transformed"));
}

TEST_F(EvalCommand, FractionalMomentsAndTheLightWaveLook) {
  // Frame 22.5: the slider is halfway from x 15 (frame 15) to 30 (frame 30).
  CliRun r = run_orvl(scene + " --frame 22.5 --look lightwave --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json j = json::parse(r.out);
  EXPECT_NEAR(j["frame"].get<double>(), 22.5, 1e-3);
  EXPECT_NEAR(j["at"].get<double>(), 750, 1e-9);
  expect_vec(j["objects"][1]["position"], 22.5, 0, 0, 1e-3);
  const json& lw = j["lightwave"];
  EXPECT_DOUBLE_EQ(lw["frame"].get<double>(), 22.5);
  EXPECT_DOUBLE_EQ(lw["last_frame"].get<double>(), 60);
  const json& child = lw["objects"][1]["world"];
  ASSERT_EQ(child.size(), 16u);
  // ((22.5, 0, 0) - pivot (1, 0, 0)) x 2 turned by heading 90, plus (10, 0, 0); row major.
  EXPECT_NEAR(child[3].get<double>(), 10, 1e-4);
  EXPECT_NEAR(child[11].get<double>(), -43, 1e-4);
  EXPECT_NEAR(lw["objects"][1]["dissolve"].get<double>(), 0.375, 1e-5);
  EXPECT_NEAR(lw["camera"]["world"][11].get<double>(), -43, 1e-4);  // the camera rides on it
  EXPECT_NEAR(lw["camera"]["yfov"].get<double>(), 2 * std::atan(1 / 3.2), 1e-6);
  EXPECT_EQ(lw["lights"][0]["type"], "point");
  EXPECT_NEAR(lw["lights"][0]["world"][7].get<double>(), 2, 1e-5);
  EXPECT_NEAR(lw["lights"][0]["intensity"].get<double>(), 1, 1e-6);

  // Decimal milliseconds reach between frames; whole ones print as they always did.
  const json at = json::parse(run_orvl(scene + " --at 33.5 --json").out);
  EXPECT_EQ(at["at"].get<double>(), 33.5);
  EXPECT_NEAR(at["frame"].get<double>(), 1.005, 1e-4);
  EXPECT_FALSE(at.contains("lightwave"));
  EXPECT_NE(run_orvl(scene + " --at 1000").out.find("at            1000 ms\n"), std::string::npos);
  CliRun text = run_orvl(scene + " --frame 30 --look lightwave");
  EXPECT_NE(text.out.find("lw camera"), std::string::npos) << text.out;

  for (const char* bad : {" --frame -1", " --frame nan", " --frame 1e9", " --frame 20000000", " --frame 1 --at 2",
                          " --at 1.5.2", " --frame 3 --look bogus"}) {
    CliRun b = run_orvl(scene + bad);
    EXPECT_EQ(b.exit_code, 2) << bad;
    EXPECT_TRUE(b.out.empty()) << bad;
  }
}
