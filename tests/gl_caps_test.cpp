#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/log.h"
#include "render/gl_api.h"
#include "render/gl_caps.h"

using namespace orvl;

TEST(GlCaps, ExtensionListSeparatorsAndReportLines) {
  EXPECT_EQ(gl_extensions_text("GL_A GL_B "), "GL_A\r\nGL_B");
  EXPECT_EQ(gl_extensions_text("GL_A"), "GL_A");
  EXPECT_EQ(gl_extensions_text(""), "");
  EXPECT_EQ(gl_extensions_text(nullptr), "");
  EXPECT_EQ(gl_extensions_text("A  B"), "A\r\n\r\nB");

  GlCaps c;
  c.vendor = "V";
  c.renderer = "R";
  c.version = "1.1";
  c.extensions = gl_extensions_text("GL_A GL_B ");
  c.max_lights_text = "8";
  c.max_texture_size_text = "256";
  std::vector<std::string> want = {"Vendor : V",
                                   "Renderer : R",
                                   "Version : 1.1",
                                   "",
                                   "Number of maximum supported lights : 8",
                                   "Maximum texture size : 256 x 256",
                                   "",
                                   "Available OpenGL extensions :",
                                   "GL_A",
                                   "GL_B"};
  EXPECT_EQ(gl_report_lines(c), want);
  c.extensions = gl_extensions_text("A  B");
  auto lines = gl_report_lines(c);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 8, lines.end()),
            (std::vector<std::string>{"A", "", "B"}));
  c.extensions.clear();
  EXPECT_EQ(gl_report_lines(c).size(), 8u);
}

TEST(GlCaps, ProbeReadsTheDriverThroughTheCallTable) {
  GlBackendScope scope(GlBackend::recorder);
  GlRecorder& r = gl_recorder();
  r.reset();
  r.integers[GL_MAX_TEXTURE_SIZE] = {256};
  r.strings[GL_EXTENSIONS] = "GL_ARB_multitexture GL_EXT_bgra ";
  display_reset();
  ASSERT_EQ(gl_probe(DisplayBackend::null), GlProbeResult::ok);
  const GlCaps& c = gl_caps();
  EXPECT_EQ(c.vendor, "orvl");
  EXPECT_EQ(c.renderer, "call recorder");
  EXPECT_EQ(c.max_lights, 8);
  EXPECT_EQ(c.max_texture_size, 256);
  EXPECT_EQ(c.max_texture_size_text, "256");
  EXPECT_EQ(c.extensions, "GL_ARB_multitexture\r\nGL_EXT_bgra");
  EXPECT_EQ(r.count(GlFunc::GetString), 4u);
  EXPECT_EQ(r.count(GlFunc::GetIntegerv), 2u);

  // A driver that answers nothing leaves empty strings, not a crash.
  r.strings.clear();
  ASSERT_EQ(gl_probe(DisplayBackend::null), GlProbeResult::ok);
  EXPECT_EQ(gl_caps().vendor, "");
  EXPECT_EQ(gl_caps().extensions, "");

  log_set_echo(false);
  log_line("old line");
  r.strings[GL_VENDOR] = "Test";
  ASSERT_EQ(gl_probe(DisplayBackend::null), GlProbeResult::ok);
  gl_show_report();
  ASSERT_GE(log_lines().size(), 8u);
  EXPECT_EQ(log_lines()[0], "Vendor : Test");
  EXPECT_EQ(log_lines()[5], "Maximum texture size : 256 x 256");
  log_set_echo(true);
}

TEST(GlCaps, NoContextKeepsTheOldRecord) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);  // SDL without any OpenGL
  GlBackendScope scope(GlBackend::recorder);
  gl_recorder().reset();
  gl_recorder().integers[GL_MAX_TEXTURE_SIZE] = {512};
  ASSERT_EQ(gl_probe(DisplayBackend::null), GlProbeResult::ok);
  EXPECT_EQ(gl_probe(DisplayBackend::window), GlProbeResult::no_context);
  EXPECT_EQ(gl_caps().max_texture_size, 512);
  unsetenv("SDL_VIDEODRIVER");
}

TEST(GlCaps, HeadlessDriverReport) {
  display_reset();
  ASSERT_EQ(gl_probe(DisplayBackend::headless), GlProbeResult::ok);
  const GlCaps& c = gl_caps();
  EXPECT_FALSE(c.version.empty());
  EXPECT_FALSE(c.renderer.empty());
  EXPECT_GE(c.max_lights, 8);
  EXPECT_GE(c.max_texture_size, 64);
  EXPECT_NE(c.extensions.find("\r\n"), std::string::npos);
  EXPECT_EQ(c.extensions.find(' '), std::string::npos);
  auto lines = gl_report_lines(c);
  EXPECT_GT(lines.size(), 9u);
  for (size_t i = 8; i < lines.size(); i++) EXPECT_EQ(lines[i].find_first_of("\r\n "), std::string::npos);
}
