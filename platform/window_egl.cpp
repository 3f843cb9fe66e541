// The headless surface: EGL on Mesa's surfaceless platform with a desktop OpenGL
// compatibility context, drawing into a framebuffer object of the window size. There is
// no window, so there are no messages and nothing to swap; whoever wants the frame reads
// it back with glReadPixels before the next one is drawn.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>

#include "platform/window.h"

namespace orvl {

namespace {

// Framebuffer-object entry points; they are not part of GL 1.1, so they come from EGL.
struct FboApi {
  PFNGLGENFRAMEBUFFERSPROC GenFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC BindFramebuffer = nullptr;
  PFNGLGENRENDERBUFFERSPROC GenRenderbuffers = nullptr;
  PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC BindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus = nullptr;

  bool load() {
    auto get = [](const char* name) { return eglGetProcAddress(name); };
    GenFramebuffers = reinterpret_cast<PFNGLGENFRAMEBUFFERSPROC>(get("glGenFramebuffers"));
    DeleteFramebuffers = reinterpret_cast<PFNGLDELETEFRAMEBUFFERSPROC>(get("glDeleteFramebuffers"));
    BindFramebuffer = reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(get("glBindFramebuffer"));
    GenRenderbuffers = reinterpret_cast<PFNGLGENRENDERBUFFERSPROC>(get("glGenRenderbuffers"));
    DeleteRenderbuffers =
        reinterpret_cast<PFNGLDELETERENDERBUFFERSPROC>(get("glDeleteRenderbuffers"));
    BindRenderbuffer = reinterpret_cast<PFNGLBINDRENDERBUFFERPROC>(get("glBindRenderbuffer"));
    RenderbufferStorage =
        reinterpret_cast<PFNGLRENDERBUFFERSTORAGEPROC>(get("glRenderbufferStorage"));
    FramebufferRenderbuffer =
        reinterpret_cast<PFNGLFRAMEBUFFERRENDERBUFFERPROC>(get("glFramebufferRenderbuffer"));
    CheckFramebufferStatus =
        reinterpret_cast<PFNGLCHECKFRAMEBUFFERSTATUSPROC>(get("glCheckFramebufferStatus"));
    return GenFramebuffers && DeleteFramebuffers && BindFramebuffer && GenRenderbuffers &&
           DeleteRenderbuffers && BindRenderbuffer && RenderbufferStorage &&
           FramebufferRenderbuffer && CheckFramebufferStatus;
  }
};

const char* egl_error_text(EGLint e) {
  switch (e) {
    case EGL_SUCCESS: return "EGL_SUCCESS";
    case EGL_NOT_INITIALIZED: return "EGL_NOT_INITIALIZED";
    case EGL_BAD_ACCESS: return "EGL_BAD_ACCESS";
    case EGL_BAD_ALLOC: return "EGL_BAD_ALLOC";
    case EGL_BAD_ATTRIBUTE: return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_CONFIG: return "EGL_BAD_CONFIG";
    case EGL_BAD_CONTEXT: return "EGL_BAD_CONTEXT";
    case EGL_BAD_DISPLAY: return "EGL_BAD_DISPLAY";
    case EGL_BAD_MATCH: return "EGL_BAD_MATCH";
    case EGL_BAD_PARAMETER: return "EGL_BAD_PARAMETER";
    default: return "EGL error";
  }
}

class HeadlessWindow final : public WindowBackend {
 public:
  ~HeadlessWindow() override { close(); }
  WindowBackendKind kind() const override { return WindowBackendKind::headless; }

  WindowStatus open(const WindowRequest& r) override {
    close();
    int scale = std::max(1, r.scale);
    width_ = r.width * scale;
    height_ = r.height * scale;
    if (width_ <= 0 || height_ <= 0) return fail(WindowStatus::failed, "empty surface size");

    display_ = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display_ == EGL_NO_DISPLAY) return fail(WindowStatus::failed, "no surfaceless EGL display");
    if (!eglInitialize(display_, nullptr, nullptr)) {
      display_ = EGL_NO_DISPLAY;
      return fail(WindowStatus::failed, "eglInitialize");
    }
    if (!eglBindAPI(EGL_OPENGL_API)) return fail(WindowStatus::failed, "eglBindAPI(OpenGL)");

    // Asking for alpha keeps 10-bit colour configs from coming first; the pixels live in
    // the framebuffer object anyway, the config only has to allow a desktop GL context.
    const EGLint config_attribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                     EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_RED_SIZE, 8,
                                     EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                                     EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display_, config_attribs, &config, 1, &count) || count < 1)
      return fail(WindowStatus::no_pixel_format, "no EGL config for desktop OpenGL");

    const EGLint context_attribs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                      EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, context_attribs);
    if (context_ == EGL_NO_CONTEXT) return fail(WindowStatus::failed, "eglCreateContext");
    if (!eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_))
      return fail(WindowStatus::failed, "eglMakeCurrent without surface");

    if (!fbo_.load()) return fail(WindowStatus::failed, "no framebuffer objects");
    fbo_.GenFramebuffers(1, &framebuffer_);
    fbo_.BindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    fbo_.GenRenderbuffers(2, renderbuffers_);
    fbo_.BindRenderbuffer(GL_RENDERBUFFER, renderbuffers_[0]);
    fbo_.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width_, height_);
    fbo_.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                 renderbuffers_[0]);
    fbo_.BindRenderbuffer(GL_RENDERBUFFER, renderbuffers_[1]);
    fbo_.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width_, height_);
    fbo_.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                 renderbuffers_[1]);
    fbo_.BindRenderbuffer(GL_RENDERBUFFER, 0);
    if (fbo_.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
      return fail(WindowStatus::no_pixel_format, "framebuffer RGBA8 + DEPTH24 incomplete");
    return WindowStatus::ok;
  }

  void close() override {
    if (display_ != EGL_NO_DISPLAY) {
      if (context_ != EGL_NO_CONTEXT && framebuffer_) {
        fbo_.BindFramebuffer(GL_FRAMEBUFFER, 0);
        fbo_.DeleteFramebuffers(1, &framebuffer_);
        fbo_.DeleteRenderbuffers(2, renderbuffers_);
      }
      framebuffer_ = 0;
      renderbuffers_[0] = renderbuffers_[1] = 0;
      eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
      if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
      context_ = EGL_NO_CONTEXT;
      // The display stays initialised: terminating it unloads the driver, which costs a
      // reload on the next open and strands what the driver allocated for itself.
      display_ = EGL_NO_DISPLAY;
    }
  }

  // The frame stays in the framebuffer object until the next one overwrites it; a
  // read-back waits for the frame's commands by itself.
  void swap() override {}
  bool has_swap_interval() const override { return false; }
  void set_swap_interval(int) override {}
  bool poll(WindowMessage&) override { return false; }
  void set_title(const std::string&) override {}
  void drawable_size(int& w, int& h) const override {
    w = context_ != EGL_NO_CONTEXT ? width_ : 0;
    h = context_ != EGL_NO_CONTEXT ? height_ : 0;
  }
  const std::string& error() const override { return error_; }

 private:
  WindowStatus fail(WindowStatus s, const char* what) {
    std::string why = std::string(what) + " (" + egl_error_text(eglGetError()) + ")";
    close();
    error_ = why;
    return s;
  }

  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLContext context_ = EGL_NO_CONTEXT;
  FboApi fbo_;
  GLuint framebuffer_ = 0;
  GLuint renderbuffers_[2] = {0, 0};
  int width_ = 0, height_ = 0;
  std::string error_;
};

}  // namespace

std::unique_ptr<WindowBackend> window_backend_create_headless() {
  return std::make_unique<HeadlessWindow>();
}

}  // namespace orvl
