#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/mesh_draw.h"

using namespace orvl;
using ::testing::ElementsAre;

namespace {

// A scene holding hand-made triangles, each with its own three vertices at depth z.
struct DrawFixture : ::testing::Test {
  Scene scene;
  std::vector<Triangle> tris;
  std::vector<Vertex> verts;
  Surface surface;
  int alpha = 255;
  GlBackendScope recorder{GlBackend::recorder};

  void SetUp() override {
    gl_recorder().reset();
    tris.reserve(256);
    verts.reserve(256 * 3);
    scene.draw.draw_list.resize(256);
    scene.draw.sort_keys.resize(256);
    scene.draw.sort_scratch.resize(256);
    scene.draw.sort_histogram.resize(257);
    scene.flags = SceneFlags::DEPTH_BUFFER;
    frame_state().draw_count = 0;
  }

  // The corners lie at x = dx, dx + 1, dx + 2 (y 0, 2, 4), all at depth z.
  Triangle& add(uint32_t flags, float z, uint8_t red = 10, float dx = 0) {
    Triangle t;
    t.flags = flags;
    t.surface = &surface;
    t.color[0] = red;
    t.color[1] = 20;
    t.color[2] = 30;
    tris.push_back(t);
    for (int k = 0; k < 3; ++k) verts.push_back(Vertex{dx + float(k), float(k) * 2, z, 0, 0, 1});
    Vertex* v = &verts[verts.size() - 3];
    queue_entry(scene, &tris.back(), &v[0], &v[1], &v[2], depth_key(z, z, z));
    return tris.back();
  }

  std::vector<std::string> calls() { return gl_recorder().texts(); }
  size_t count(const std::string& text) {
    auto c = calls();
    return size_t(std::count(c.begin(), c.end(), text));
  }
};

}  // namespace

TEST(RadixSort, MatchesStableSortOnUnsignedKeys) {
  std::mt19937 rng(7);
  // Keys of every bit pattern, keys differing in the low byte only (one pass: the result
  // is copied back) and depth-like keys that share their top bytes (passes skipped).
  auto make = [&](int mode) {
    if (mode == 1) return int32_t(0x12345600 + int32_t(rng() % 256));
    if (mode == 2) return -int32_t(rng() % 5000);
    return rng() % 5 == 0 ? int32_t(rng() % 4) - 2 : int32_t(rng());
  };
  for (int mode = 0; mode < 3; ++mode) {
    for (int n : {1, 2, 17, 1000}) {
      std::vector<SortKey> keys(n), scratch(n);
      for (int i = 0; i < n; ++i) keys[i] = SortKey{make(mode), i};
      auto expected = keys;
      std::stable_sort(expected.begin(), expected.end(), [](const SortKey& a, const SortKey& b) {
        return uint32_t(a.key) < uint32_t(b.key);
      });
      std::vector<int32_t> histogram(257);
      radix_sort_keys(keys.data(), scratch.data(), histogram.data(), n);
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(keys[i].index, expected[i].index) << "n=" << n << " i=" << i;
        ASSERT_EQ(keys[i].key, expected[i].key) << "n=" << n << " i=" << i;  // ties are read from them
      }
    }
  }
}

TEST_F(DrawFixture, EmptyListMakesNoGlCall) {
  draw_frame(scene, true);
  EXPECT_TRUE(calls().empty());
}

TEST_F(DrawFixture, PaintsPositiveKeysFirstThenFarthestToNearest) {
  add(0, -10.5f, 1);  // key -2688
  // A static-image style entry with key 15.
  tris.push_back(tris.back());
  tris.back().color[0] = 2;
  Vertex* v = &verts[0];
  queue_entry(scene, &tris.back(), &v[0], &v[1], &v[2], kStaticImageKey);
  add(0, -100.0f / 256, 3);  // key -100
  add(0, -100.0f / 256, 4);  // equal key keeps queue order
  EXPECT_EQ(scene.draw.sort_keys[0].key, -2688);
  draw_frame(scene, true);
  std::vector<int> reds;
  for (const GlCall* c : gl_recorder().of(GlFunc::Color4ub)) reds.push_back(int(c->arg(0)));
  EXPECT_THAT(reds, ElementsAre(2, 1, 3, 4));
}

TEST_F(DrawFixture, InitialStateThenOnePrimitiveForLikeTriangles) {
  add(0, -5);
  add(0, -4);
  draw_frame(scene, true);
  auto c = calls();
  ASSERT_GE(c.size(), 9u);
  EXPECT_THAT(std::vector<std::string>(c.begin(), c.begin() + 9),
              ElementsAre("glDisable(GL_LIGHTING)", "glShadeModel(GL_FLAT)", "glDisable(GL_TEXTURE_2D)",
                          "glBlendFunc(GL_ONE, GL_ONE)", "glDisable(GL_BLEND)",
                          "glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL)",
                          "glEnable(GL_DEPTH_TEST)", "glBegin(GL_TRIANGLES)", "glColor4ub(10, 20, 30, 255)"));
  EXPECT_EQ(gl_recorder().count(GlFunc::Begin), 1u);
  EXPECT_EQ(gl_recorder().count(GlFunc::End), 1u);
  EXPECT_EQ(gl_recorder().count(GlFunc::Vertex3f), 6u);
}

TEST_F(DrawFixture, TranslucentThenOpaqueSwitchesBlendAndDepthOnce) {
  Triangle& a = add(0, -20);
  a.dissolve_ref = &alpha;
  alpha = 128;
  add(0, -10);
  draw_frame(scene, true);
  auto c = gl_recorder().texts_from(8);  // after the initial state and glBegin
  EXPECT_THAT(c, ElementsAre("glEnd()", "glEnable(GL_BLEND)", "glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_DST_ALPHA)",
                             "glDisable(GL_DEPTH_TEST)", "glColor4ub(10, 20, 30, 128)", "glBegin(GL_TRIANGLES)",
                             "glVertex3f(0, 0, -20)", "glVertex3f(1, 2, -20)", "glVertex3f(2, 4, -20)",
                             "glEnd()", "glDisable(GL_BLEND)", "glEnable(GL_DEPTH_TEST)",
                             "glColor4ub(10, 20, 30, 255)", "glBegin(GL_TRIANGLES)", "glVertex3f(0, 0, -10)",
                             "glVertex3f(1, 2, -10)", "glVertex3f(2, 4, -10)", "glEnd()"));
}

TEST_F(DrawFixture, BlendStatesForParticlesInvertAndAlphaZero) {
  Triangle& p = add(TriangleFlags::PARTICLE, -30);
  p.dissolve_ref = &alpha;
  alpha = 0;
  Triangle& inv = add(TriangleFlags::TEXTURED | TriangleFlags::INVERT, -20);
  inv.texture = 5;
  draw_frame(scene, true);
  EXPECT_EQ(count("glBlendFunc(GL_SRC_COLOR, GL_DST_ALPHA)"), 1u);
  EXPECT_EQ(count("glBlendFunc(GL_ONE_MINUS_DST_COLOR, GL_ZERO)"), 1u);
  EXPECT_EQ(count("glColor4ub(10, 20, 30, 0)"), 1u);  // alpha 0 still draws
  EXPECT_EQ(count("glBindTexture(GL_TEXTURE_2D, 5)"), 1u);
}

TEST_F(DrawFixture, ScrolledTextureCoordinatesAndXOffset) {
  Triangle& t = add(TriangleFlags::TEXTURED, -5);
  t.texture = 3;
  t.uv[0] = 0.25f;
  t.uv[1] = 0.5f;
  surface.scroll_u = 0.01f;
  surface.scroll_v = -0.02f;
  scene.x_offset = 0.5f;
  draw_frame(scene, true);
  auto tc = gl_recorder().of(GlFunc::TexCoord2f);
  ASSERT_EQ(tc.size(), 3u);
  EXPECT_FLOAT_EQ(float(tc[0]->arg(0)), 0.26f);
  EXPECT_FLOAT_EQ(float(tc[0]->arg(1)), 0.48f);
  auto vx = gl_recorder().of(GlFunc::Vertex3f);
  EXPECT_FLOAT_EQ(float(vx[0]->arg(0)), 0.5f);
  EXPECT_FLOAT_EQ(float(vx[1]->arg(0)), 1.5f);
  EXPECT_FLOAT_EQ(float(vx[1]->arg(1)), 2.0f);
  EXPECT_EQ(count("glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL)"), 1u);  // only the initial one
}

TEST_F(DrawFixture, ReflectionOnlyUsesNormalsAndBothTexturesDrawTwice) {
  Triangle& r = add(TriangleFlags::TEXTURED | TriangleFlags::REFLECTION, -30);
  r.texture = -1;
  r.reflection_texture = 9;
  draw_frame(scene, true);
  EXPECT_EQ(count("glBindTexture(GL_TEXTURE_2D, 9)"), 1u);
  EXPECT_EQ(count("glTexCoord2f(0.5, 0.5)"), 3u);
  EXPECT_EQ(gl_recorder().count(GlFunc::Begin), 2u);  // the initial one, reopened after texturing on

  gl_recorder().clear_calls();
  frame_state().draw_count = 0;
  Triangle& both = add(TriangleFlags::TEXTURED | TriangleFlags::REFLECTION | TriangleFlags::EFFECT_TEXTURE, -30);
  both.texture = 4;
  both.reflection_texture = 9;
  draw_frame(scene, true);
  auto c = calls();
  auto bind9 = std::find(c.begin(), c.end(), "glBindTexture(GL_TEXTURE_2D, 9)");
  ASSERT_NE(bind9, c.end());
  EXPECT_EQ(*(bind9 - 1), "glEnd()");
  EXPECT_THAT(std::vector<std::string>(bind9 + 1, bind9 + 5),
              ElementsAre("glDisable(GL_DEPTH_TEST)", "glEnable(GL_BLEND)", "glBegin(GL_TRIANGLES)",
                          "glTexCoord2f(0.5, 0.5)"));
  EXPECT_EQ(count("glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE)"), 1u);
  EXPECT_EQ(gl_recorder().count(GlFunc::Begin), 3u);  // initial, after the mode change, reflection pass
}

TEST_F(DrawFixture, OutlinesTakeTheFirstWidthAndSwitchPrimitives) {
  add(0, -40);  // filled
  surface.line_width = 2;
  add(TriangleFlags::WIREFRAME, -30);
  Surface wide;
  wide.line_width = 3;
  Triangle& second = add(TriangleFlags::WIREFRAME, -20);
  second.surface = &wide;
  draw_frame(scene, true);
  EXPECT_EQ(count("glLineWidth(2)"), 1u);
  EXPECT_EQ(count("glLineWidth(3)"), 0u);
  auto c = calls();
  auto lines = std::find(c.begin(), c.end(), "glBegin(GL_LINES)");
  ASSERT_NE(lines, c.end());
  EXPECT_EQ(*(lines - 1), "glLineWidth(2)");
  EXPECT_EQ(*(lines - 2), "glEnd()");
  EXPECT_EQ(gl_recorder().count(GlFunc::Vertex3f), 3u + 12u);
}

TEST_F(DrawFixture, LitTrianglesSendNormalsWithTheirShading) {
  add(TriangleFlags::SMOOTH_LIT, -10);
  add(TriangleFlags::FLAT_LIT | TriangleFlags::SMOOTH_LIT, -5);
  draw_frame(scene, true);
  EXPECT_EQ(count("glShadeModel(GL_SMOOTH)"), 1u);
  EXPECT_EQ(count("glShadeModel(GL_FLAT)"), 2u);  // initial state, then back for the flat one
  EXPECT_EQ(count("glEnable(GL_LIGHTING)"), 1u);
  EXPECT_EQ(gl_recorder().count(GlFunc::Normal3f), 6u);
}

// Triangles drawn the default way, grouped by state, into a 640 x 480 picture.
struct GroupingFixture : DrawFixture {
  // The red component of every triangle drawn, in drawing order.
  std::vector<int> reds() {
    std::vector<int> r;
    for (const GlCall* c : gl_recorder().of(GlFunc::Color4ub)) r.push_back(int(c->arg(0)));
    return r;
  }
  // Queues every triangle again: a triangle's drawing state is taken when it is queued, and
  // the tests below set textures and dissolves after adding.
  void requeue() {
    frame_state().draw_count = 0;
    for (size_t i = 0; i < tris.size(); ++i) {
      const float z = verts[3 * i].z;
      queue_entry(scene, &tris[i], &verts[3 * i], &verts[3 * i + 1], &verts[3 * i + 2], depth_key(z, z, z));
    }
  }
  void group() {
    scene.width = 640;
    scene.height = 480;
    scene.draw.group_order.resize(256);
    scene.draw.group_scratch.resize(256);
  }
};

// Opaque depth-tested triangles are drawn grouped by state. A blended triangle keeps its
// place; an opaque one is drawn ahead of it only where their screen boxes do not meet, and
// never when a corner lies behind the eye.
TEST_F(GroupingFixture, GroupsOpaqueTrianglesByStateAroundFixedPlaces) {
  group();
  auto textured = [&](float z, uint8_t red, float dx = 0) { add(TriangleFlags::TEXTURED, z, red, dx).texture = 1; };
  textured(-50, 1);
  add(0, -40, 2);
  textured(-30, 3);
  add(0, -25, 4).dissolve_ref = &alpha;  // blended, in front of everything at x 0..2
  alpha = 128;
  textured(-20, 5);      // behind the blended one on screen: stays after it
  add(0, -20, 6, 100);   // far to the side: drawn ahead of it (an equal depth key is no matter)
  add(0, -15, 9, 100);
  verts.back().z = 1;    // one corner behind the eye: no screen bound, stays
  textured(-10, 7, 100);
  add(0, -5, 8);
  requeue();
  draw_frame(scene);
  EXPECT_THAT(reds(), ElementsAre(2, 6, 1, 3, 7, 4, 9, 8, 5));
  const size_t grouped_batches = gl_recorder().count(GlFunc::Begin);

  gl_recorder().clear_calls();
  draw_frame(scene, true);
  EXPECT_THAT(reds(), ElementsAre(1, 2, 3, 4, 5, 6, 9, 7, 8));
  EXPECT_LT(grouped_batches, gl_recorder().count(GlFunc::Begin));
}

// Random mixes of movable and fixed-place triangles over more fixed runs than a triangle may
// pass: every triangle is drawn once, fixed ones in depth order, and two triangles only
// change order when both are movable or their screen extents are apart.
TEST_F(GroupingFixture, ReordersOnlyWhatCannotChangeThePicture) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    tris.clear();
    verts.clear();
    frame_state().draw_count = 0;
    gl_recorder().clear_calls();
    group();
    alpha = 128;
    struct Placed {
      float z, dx;
      bool fixed;
    };
    std::vector<Placed> placed;
    for (int i = 0; i < 250; ++i) {
      const float z = -2.0f - float(rng() % 400) * 0.25f, dx = float(int(rng() % 200) - 100);
      const int kind = int(rng() % 5);
      Triangle& t = add(kind == 1 || kind == 2 ? TriangleFlags::TEXTURED : kind == 3 ? TriangleFlags::ADDITIVE : 0, z,
                        uint8_t(i + 1), dx);
      if (kind == 2) t.texture = 2;
      if (kind == 1) t.texture = 1;
      if (kind == 4) t.dissolve_ref = &alpha;
      placed.push_back(Placed{z, dx, kind >= 3});
    }
    requeue();
    draw_frame(scene);
    const std::vector<int> drawn = reds();
    ASSERT_EQ(drawn.size(), placed.size());
    // Depth order: keys ascending, equal keys in queue order.
    std::vector<int> depth(placed.size());
    for (size_t i = 0; i < depth.size(); ++i) depth[i] = int(i);
    std::stable_sort(depth.begin(), depth.end(), [&](int a, int b) {
      return depth_key(placed[a].z, placed[a].z, placed[a].z) < depth_key(placed[b].z, placed[b].z, placed[b].z);
    });
    std::vector<int> rank(placed.size()), at(placed.size(), -1);
    for (size_t i = 0; i < depth.size(); ++i) rank[depth[i]] = int(i);
    for (size_t i = 0; i < drawn.size(); ++i) {
      ASSERT_EQ(at[drawn[i] - 1], -1) << "drawn twice";
      at[drawn[i] - 1] = int(i);
    }
    auto apart = [&](const Placed& a, const Placed& b) {
      return (a.dx + 2) / -a.z < b.dx / -b.z || (b.dx + 2) / -b.z < a.dx / -a.z;
    };
    for (size_t a = 0; a < placed.size(); ++a)
      for (size_t b = 0; b < placed.size(); ++b) {
        if (rank[a] >= rank[b] || at[a] < at[b]) continue;
        EXPECT_TRUE((!placed[a].fixed && !placed[b].fixed) || apart(placed[a], placed[b]))
            << "round " << round << ": triangles " << a + 1 << " and " << b + 1 << " swapped";
      }
  }
}
