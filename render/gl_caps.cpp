#include "render/gl_caps.h"

#include <memory>

#include "platform/log.h"
#include "render/gl_api.h"

namespace orvl {

namespace {

GlCaps g_caps;

std::string gl_string(GLenum name) {
  const GLubyte* s = gl().GetString(name);
  return s ? reinterpret_cast<const char*>(s) : "";
}

int gl_integer(GLenum name) {
  GLint v = 0;
  gl().GetIntegerv(name, &v);
  return v;
}

void read_caps(GlCaps& c) {
  c.vendor = gl_string(GL_VENDOR);
  c.renderer = gl_string(GL_RENDERER);
  c.version = gl_string(GL_VERSION);
  const GLubyte* ext = gl().GetString(GL_EXTENSIONS);
  c.extensions = gl_extensions_text(ext ? reinterpret_cast<const char*>(ext) : "");
  c.max_lights = gl_integer(GL_MAX_LIGHTS);
  c.max_lights_text = std::to_string(c.max_lights);
  c.max_texture_size = gl_integer(GL_MAX_TEXTURE_SIZE);
  c.max_texture_size_text = std::to_string(c.max_texture_size);
}

}  // namespace

const char* gl_probe_result_text(GlProbeResult r) {
  switch (r) {
    case GlProbeResult::ok: return "ok";
    case GlProbeResult::no_context: return "GL context creation failed";
  }
  return "unknown probe result";
}

GlProbeResult gl_probe(DisplayBackend backend) {
  GlCaps caps;
  if (display_is_open()) {
    read_caps(caps);
    g_caps = caps;
    return GlProbeResult::ok;
  }
  WindowBackendKind kind = backend == DisplayBackend::window     ? WindowBackendKind::sdl
                           : backend == DisplayBackend::headless ? WindowBackendKind::headless
                           : backend == DisplayBackend::null     ? WindowBackendKind::null
                           : window_display_available()          ? WindowBackendKind::sdl
                                                                 : WindowBackendKind::headless;
  std::unique_ptr<WindowBackend> w = window_backend_create(kind);
  WindowRequest req;
  req.width = 640;
  req.height = 480;
  req.bits_per_pixel = 32;
  req.title = "OpenGL_GetCaps";
  req.probe = true;
  if (w->open(req) != WindowStatus::ok) return GlProbeResult::no_context;
  read_caps(caps);
  w->close();
  g_caps = caps;
  return GlProbeResult::ok;
}

const GlCaps& gl_caps() { return g_caps; }

std::string gl_extensions_text(const char* extensions) {
  std::string out;
  if (!extensions) return out;
  for (const char* p = extensions; *p; p++) {
    if (*p != ' ') {
      out += *p;
    } else if (p[1] != '\0') {
      out += "\r\n";
    }
  }
  return out;
}

std::vector<std::string> gl_report_lines(const GlCaps& c) {
  std::vector<std::string> lines = {
      "Vendor : " + c.vendor,
      "Renderer : " + c.renderer,
      "Version : " + c.version,
      "",
      "Number of maximum supported lights : " + c.max_lights_text,
      "Maximum texture size : " + c.max_texture_size_text + " x " + c.max_texture_size_text,
      "",
      "Available OpenGL extensions :",
  };
  // Every CR ends a line and the LF after it is skipped; text after the last CR is the
  // last line.
  std::string line;
  bool any = false;
  for (size_t i = 0; i < c.extensions.size(); i++) {
    char ch = c.extensions[i];
    any = true;
    if (ch == '\r') {
      lines.push_back(line);
      line.clear();
      if (i + 1 < c.extensions.size() && c.extensions[i + 1] == '\n') i++;
    } else {
      line += ch;
    }
  }
  if (any && !line.empty()) lines.push_back(line);
  return lines;
}

void gl_show_report() {
  log_clear();
  for (const std::string& l : gl_report_lines(g_caps)) log_line(l);
}

}  // namespace orvl
