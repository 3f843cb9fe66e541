// `orvl export` end to end on files it writes itself: refused looks, objects of several
// LWO2 layers, the .gltf form with its files beside it. Validation by the Khronos validator
// and three.js is in tests/gltf.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "support/child_run.h"
#include "tools/lwo2_writer.h"

namespace fs = std::filesystem;
using nlohmann::json;
using namespace orvl;

namespace {

struct CliResult {
  int exit_code = -1;
  std::string err;
};

class ExportCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orvl_export_cli_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  CliResult orvl(std::vector<std::string> args) {
    orvl_test::ChildSetup setup;
    args.insert(args.begin(), "export");
    setup.args = args;
    setup.err_path = (dir_ / "stderr").string();
    const orvl_test::ChildResult r = orvl_test::run_child(ORVL_BINARY, setup);
    CliResult out;
    out.exit_code = r.exit_code;
    std::ifstream e(setup.err_path);
    out.err.assign(std::istreambuf_iterator<char>(e), {});
    return out;
  }
  static json glb_json(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 20 || bytes.compare(0, 4, "glTF") != 0) return json();
    uint32_t n;
    std::memcpy(&n, bytes.data() + 12, 4);
    return json::parse(bytes.substr(20, n));
  }
  // Two boxes on layers 1 and 2 (numbers 0 and 1); layer 2 turns about (1, 2, 3) below
  // layer 1; layer 3 (number 5) holds nothing but hangs below layer 2 with its own pivot.
  fs::path layered_object() {
    Lwo2Model m;
    m.surfaces.push_back({});
    m.surfaces[0].name = "Plain";
    auto box = [](Lwo2WriterLayer& l, float x0) {
      for (int k = 0; k < 8; ++k) {
        l.points.push_back(x0 + float(k & 1));
        l.points.push_back(float((k >> 1) & 1));
        l.points.push_back(float((k >> 2) & 1));
      }
      l.polygons = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
      l.surfaces.assign(6, 0);
    };
    Lwo2WriterLayer base;
    base.number = 0;
    base.name = "Base";
    box(base, 0);
    Lwo2WriterLayer arm;
    arm.number = 1;
    arm.parent = 0;
    arm.name = "Arm";
    arm.pivot[0] = 1, arm.pivot[1] = 2, arm.pivot[2] = 3;
    box(arm, 5);
    Lwo2WriterLayer tip;
    tip.number = 5;
    tip.parent = 1;
    tip.name = "Tip";
    tip.pivot[0] = 7;
    m.layers = {base, arm, tip};
    const fs::path p = dir_ / "layered.lwo";
    EXPECT_TRUE(lwo2_write(p.string(), m));
    return p;
  }
  fs::path dir_;
};

TEST_F(ExportCli, LooksOtherThanLightwaveAreRefusedBeforeAnythingIsWritten) {
  const fs::path obj = layered_object();
  const fs::path out = dir_ / "engine.glb";
  CliResult r = orvl({obj.string(), "-o", out.string(), "--look", "engine"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("orvl export: export writes LightWave's own transforms: --look lightwave only"), std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(out));
  r = orvl({obj.string(), "-o", out.string(), "--look", "nonsense"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_FALSE(fs::exists(out));
  r = orvl({obj.string(), "-o", out.string(), "--look", "lightwave"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(fs::exists(out));
}

TEST_F(ExportCli, LayersBecomeNodesWithTheirPivotsAndParents) {
  const fs::path obj = layered_object();
  const fs::path out = dir_ / "layered.glb";
  CliResult r = orvl({obj.string(), "-o", out.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json j = glb_json(out);
  ASSERT_TRUE(j.is_object());
  // The node that stands for each layer (tagged), and the node above it that turns.
  auto tagged = [&](int index) -> int {
    for (size_t i = 0; i < j["nodes"].size(); ++i)
      if (j["nodes"][i].contains("extras") && j["nodes"][i]["extras"]["lightwave"]["index"] == index) return int(i);
    return -1;
  };
  auto parent_of = [&](int node) -> int {
    for (size_t i = 0; i < j["nodes"].size(); ++i)
      for (const json& c : j["nodes"][i].value("children", json::array()))
        if (c == node) return int(i);
    return -1;
  };
  const int base = tagged(0), arm = tagged(1), tip = tagged(2);
  ASSERT_GE(base, 0);
  ASSERT_GE(arm, 0);
  ASSERT_GE(tip, 0);
  EXPECT_EQ(j["scenes"][0]["nodes"].size(), 1u);
  EXPECT_TRUE(j["nodes"][base].contains("mesh"));
  EXPECT_TRUE(j["nodes"][arm].contains("mesh"));
  EXPECT_FALSE(j["nodes"][tip].contains("mesh"));
  // Arm: a node at its pivot (Z mirrored) below Base, and the mesh node moved back by it.
  const int arm_turn = parent_of(arm);
  ASSERT_GE(arm_turn, 0);
  EXPECT_EQ(parent_of(arm_turn), base);
  EXPECT_EQ(j["nodes"][arm_turn]["translation"], json::array({1.0, 2.0, -3.0}));
  EXPECT_EQ(j["nodes"][arm]["translation"], json::array({-1.0, -2.0, 3.0}));
  EXPECT_NE(j["nodes"][arm_turn]["name"].get<std::string>().find("Arm"), std::string::npos);
  // Tip hangs below Arm's mesh node: its own pivot, relative to where Arm's space rests.
  const int tip_turn = parent_of(tip);
  ASSERT_GE(tip_turn, 0);
  EXPECT_EQ(parent_of(tip_turn), arm);
  EXPECT_EQ(j["nodes"][tip_turn]["translation"], json::array({7.0, 0.0, 0.0}));
  // The points stay where they were modelled: Arm's box spans x 5..6, z -1..0 once mirrored.
  const json& prim = j["meshes"][j["nodes"][arm]["mesh"].get<int>()]["primitives"][0];
  const json& pos = j["accessors"][prim["attributes"]["POSITION"].get<int>()];
  EXPECT_EQ(pos["min"], json::array({5.0, 0.0, -1.0}));
  EXPECT_EQ(pos["max"], json::array({6.0, 1.0, 0.0}));

  // One chosen layer: one node, no hierarchy.
  r = orvl({obj.string(), "-o", out.string(), "--layer", "2"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json one = glb_json(out);
  EXPECT_EQ(one["nodes"].size(), 1u);
  EXPECT_EQ(one["meshes"].size(), 1u);
}

TEST_F(ExportCli, GltfFormWritesItsBinaryAndPicturesBesideItOrNothing) {
  // A textured quad: the picture becomes a PNG file next to the .gltf.
  {
    std::ofstream tga(dir_ / "pic.tga", std::ios::binary);
    const unsigned char head[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 4, 0, 24, 0};
    tga.write(reinterpret_cast<const char*>(head), 18);
    for (int i = 0; i < 16; ++i) tga.put(char(i * 16)).put(char(255 - i * 16)).put(char(64));
  }
  Lwo2Model m;
  m.surfaces.push_back({});
  m.surfaces[0].image = "pic.tga";
  m.surfaces[0].axis = 2;
  Lwo2WriterLayer l;
  l.points = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
  l.polygons = {{0, 1, 2, 3}};
  l.surfaces = {0};
  m.layers = {l};
  const fs::path obj = dir_ / "my quad.lwo";
  ASSERT_TRUE(lwo2_write(obj.string(), m));
  const fs::path out = dir_ / "my quad.gltf";
  CliResult r = orvl({obj.string(), "-o", out.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::ifstream in(out);
  const json j = json::parse(std::string((std::istreambuf_iterator<char>(in)), {}));
  ASSERT_EQ(j["buffers"].size(), 1u);
  EXPECT_EQ(j["buffers"][0]["uri"], "my%20quad.bin");
  EXPECT_EQ(fs::file_size(dir_ / "my quad.bin"), j["buffers"][0]["byteLength"].get<uintmax_t>());
  ASSERT_EQ(j["images"].size(), 1u);
  EXPECT_EQ(j["images"][0]["uri"], "my%20quad_img0.png");
  EXPECT_FALSE(j["images"][0].contains("bufferView"));
  std::ifstream png(dir_ / "my quad_img0.png", std::ios::binary);
  char sig[4] = {};
  png.read(sig, 4);
  EXPECT_EQ(std::string(sig + 1, 3), "PNG");

  // A .gltf name that cannot be written (a folder holds it) after the picture and the binary
  // could be: exit 1, and neither of those is left behind.
  fs::create_directories(dir_ / "busy.gltf");
  r = orvl({obj.string(), "-o", (dir_ / "busy.gltf").string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind("orvl export: ", 0), 0u) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "busy.bin"));
  EXPECT_FALSE(fs::exists(dir_ / "busy_img0.png"));
}

}  // namespace
