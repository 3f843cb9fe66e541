#include "render/gl_api.h"

#include <EGL/egl.h>
#include <dlfcn.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <type_traits>

namespace orvl {

namespace {

// Number of floats behind a light, material, light-model or texture-environment pname.
int float_param_count(GLenum pname) {
  switch (pname) {
    case GL_AMBIENT:
    case GL_DIFFUSE:
    case GL_SPECULAR:
    case GL_POSITION:
    case GL_EMISSION:
    case GL_AMBIENT_AND_DIFFUSE:
    case GL_LIGHT_MODEL_AMBIENT:
    case GL_TEXTURE_ENV_COLOR:
      return 4;
    case GL_SPOT_DIRECTION:
    case GL_COLOR_INDEXES:
      return 3;
    default:
      return 1;
  }
}

// Values written by glGetIntegerv / glGetFloatv for the pnames this system asks about.
int get_value_count(GLenum pname) {
  switch (pname) {
    case GL_VIEWPORT:
    case GL_SCISSOR_BOX:
    case GL_COLOR_CLEAR_VALUE:
    case GL_CURRENT_COLOR:
      return 4;
    case GL_DEPTH_RANGE:
    case GL_MAX_VIEWPORT_DIMS:
      return 2;
    case GL_MODELVIEW_MATRIX:
    case GL_PROJECTION_MATRIX:
    case GL_TEXTURE_MATRIX:
      return 16;
    default:
      return 1;
  }
}

// Bytes per pixel of an upload or read-back the recorder copies; 0 for layouts it skips.
size_t pixel_bytes(GLenum format, GLenum type) {
  if (type != GL_UNSIGNED_BYTE) return 0;
  switch (format) {
    case GL_RGBA:
    case GL_BGRA:
      return 4;
    case GL_RGB:
    case GL_BGR:
      return 3;
    case GL_LUMINANCE_ALPHA:
      return 2;
    case GL_LUMINANCE:
    case GL_ALPHA:
    case GL_RED:
      return 1;
    default:
      return 0;
  }
}

// Turns one call's arguments into a GlCall, steered by the kinds string of the entry.
struct CallBuilder {
  GlCall& call;
  const char* kinds;
  size_t k = 0;

  void put(double v) {
    if (call.argc < call.args.size()) call.args[call.argc++] = v;
  }
  double previous() const { return call.argc ? call.args[call.argc - 1] : 0.0; }

  template <typename T>
  void add(T v) {
    char kind = kinds[k++];
    if constexpr (std::is_pointer_v<T>) {
      using P = std::remove_cv_t<std::remove_pointer_t<T>>;
      if (!v || kind == 'o' || kind == 'p') return;
      if constexpr (std::is_same_v<P, GLfloat>) {
        int n = kind == 'M' ? 16 : float_param_count(GLenum(previous()));
        for (int i = 0; i < n; i++) put(v[i]);
      } else if constexpr (std::is_same_v<P, GLuint>) {
        int n = int(previous());
        for (int i = 0; i < n && call.argc < call.args.size(); i++) put(v[i]);
      }
    } else {
      put(double(v));
    }
  }

  template <typename... A>
  void all(A... a) {
    (add(a), ...);
  }
};

template <typename... A>
void ignore(A&&...) {}

const char* kinds_of(GlFunc f) {
  static const char* const kKinds[] = {
#define ORVL_GL_KINDS(ret, member, entry, params, args, kinds) kinds,
      ORVL_GL_ALL_COMMANDS(ORVL_GL_KINDS)
#undef ORVL_GL_KINDS
  };
  return size_t(f) < size_t(GlFunc::count) ? kKinds[size_t(f)] : "";
}

GlRecorder g_recorder;
bool g_recorder_initialised = false;

GlRecorder& recorder() {
  if (!g_recorder_initialised) {
    g_recorder_initialised = true;
    g_recorder.reset();
  }
  return g_recorder;
}

// ---- recorder answers -------------------------------------------------------------------
// Default: a command with no answer.
template <GlFunc F>
struct RecAnswer {
  template <typename... A>
  static void run(A...) {}
};

template <typename T>
void answer_get(GLenum pname, T* out) {
  GlRecorder& r = recorder();
  auto it = r.integers.find(pname);
  if (it == r.integers.end()) {
    r.pending_error = GL_INVALID_ENUM;
    return;
  }
  for (size_t i = 0; i < it->second.size(); i++) out[i] = T(it->second[i]);
}

template <>
struct RecAnswer<GlFunc::GetIntegerv> {
  static void run(GLenum pname, GLint* out) { answer_get(pname, out); }
};
template <>
struct RecAnswer<GlFunc::GetFloatv> {
  static void run(GLenum pname, GLfloat* out) { answer_get(pname, out); }
};
template <>
struct RecAnswer<GlFunc::GetString> {
  static const GLubyte* run(GLenum name) {
    auto& s = recorder().strings;
    auto it = s.find(name);
    if (it == s.end()) return nullptr;
    return reinterpret_cast<const GLubyte*>(it->second.c_str());
  }
};
template <>
struct RecAnswer<GlFunc::GetError> {
  static GLenum run() {
    GLenum e = recorder().pending_error;
    recorder().pending_error = GL_NO_ERROR;
    return e;
  }
};
template <>
struct RecAnswer<GlFunc::IsEnabled> {
  // Replays the recorded enables and disables of this capability.
  static GLboolean run(GLenum cap) {
    const auto& calls = recorder().calls;
    for (size_t i = calls.size(); i-- > 0;) {
      const GlCall& c = calls[i];
      if ((c.func == GlFunc::Enable || c.func == GlFunc::Disable) && GLenum(c.args[0]) == cap)
        return c.func == GlFunc::Enable ? GL_TRUE : GL_FALSE;
    }
    return cap == GL_DITHER ? GL_TRUE : GL_FALSE;  // the only capability GL starts with on
  }
};
template <>
struct RecAnswer<GlFunc::GenTextures> {
  static void run(GLsizei n, GLuint* out) {
    for (GLsizei i = 0; i < n; i++) out[i] = recorder().next_texture++;
  }
};
template <>
struct RecAnswer<GlFunc::ReadPixels> {
  static void run(GLint, GLint, GLsizei w, GLsizei h, GLenum format, GLenum type, GLvoid* out) {
    size_t bpp = pixel_bytes(format, type);
    if (!out || bpp == 0 || w <= 0 || h <= 0) return;
    auto* p = static_cast<uint8_t*>(out);
    const auto& fill = recorder().read_fill;
    for (size_t i = 0; i < size_t(w) * size_t(h); i++)
      for (size_t c = 0; c < bpp; c++) p[i * bpp + c] = fill[c < 4 ? c : 3];
  }
};

void capture_pixels(GLsizei w, GLsizei h, GLenum format, GLenum type, const void* pixels) {
  size_t bpp = pixel_bytes(format, type);
  if (!pixels || bpp == 0 || w <= 0 || h <= 0) return;
  auto* p = static_cast<const uint8_t*>(pixels);
  recorder().calls.back().data.assign(p, p + size_t(w) * size_t(h) * bpp);
}

template <>
struct RecAnswer<GlFunc::TexImage2D> {
  static void run(GLenum, GLint, GLint, GLsizei w, GLsizei h, GLint, GLenum format, GLenum type,
                  const GLvoid* pixels) {
    capture_pixels(w, h, format, type, pixels);
  }
};
template <>
struct RecAnswer<GlFunc::TexSubImage2D> {
  static void run(GLenum, GLint, GLint, GLint, GLsizei w, GLsizei h, GLenum format, GLenum type,
                  const GLvoid* pixels) {
    capture_pixels(w, h, format, type, pixels);
  }
};
template <>
struct RecAnswer<GlFunc::Build2DMipmaps> {
  static GLint run(GLenum, GLint, GLint w, GLint h, GLenum format, GLenum type, const void* pixels) {
    capture_pixels(w, h, format, type, pixels);
    return recorder().mipmap_result;
  }
};

template <>
struct RecAnswer<GlFunc::CreateShader> {
  static GLuint run(GLenum) { return recorder().next_object++; }
};
template <>
struct RecAnswer<GlFunc::CreateProgram> {
  static GLuint run() { return recorder().next_object++; }
};
void answer_status(GLenum pname, GLint* out, bool ok) {
  if (!out) return;
  if (pname == GL_INFO_LOG_LENGTH) *out = GLint(recorder().info_log.size() + 1);
  else *out = ok ? GL_TRUE : GL_FALSE;
}
template <>
struct RecAnswer<GlFunc::GetShaderiv> {
  static void run(GLuint, GLenum pname, GLint* out) { answer_status(pname, out, recorder().compile_ok); }
};
template <>
struct RecAnswer<GlFunc::GetProgramiv> {
  static void run(GLuint, GLenum pname, GLint* out) { answer_status(pname, out, recorder().link_ok); }
};
void answer_log(GLsizei size, GLsizei* length, GLchar* text) {
  const std::string& log = recorder().info_log;
  if (!text || size <= 0) return;
  const size_t n = std::min(log.size(), size_t(size) - 1);
  std::memcpy(text, log.data(), n);
  text[n] = 0;
  if (length) *length = GLsizei(n);
}
template <>
struct RecAnswer<GlFunc::GetShaderInfoLog> {
  static void run(GLuint, GLsizei size, GLsizei* length, GLchar* text) { answer_log(size, length, text); }
};
template <>
struct RecAnswer<GlFunc::GetProgramInfoLog> {
  static void run(GLuint, GLsizei size, GLsizei* length, GLchar* text) { answer_log(size, length, text); }
};
template <>
struct RecAnswer<GlFunc::GetUniformLocation> {
  static GLint run(GLuint, const GLchar*) { return 0; }
};

#define ORVL_GL_RECORD(ret, member, entry, params, args, kinds)   \
  ret rec_##member params {                                       \
    GlRecorder& rec_ = recorder();                                \
    rec_.calls.emplace_back();                                    \
    rec_.calls.back().func = GlFunc::member;                      \
    CallBuilder builder_{rec_.calls.back(), kinds};               \
    builder_.all args;                                            \
    return RecAnswer<GlFunc::member>::run args;                   \
  }
ORVL_GL_ALL_COMMANDS(ORVL_GL_RECORD)
#undef ORVL_GL_RECORD

// ---- no-op answers ------------------------------------------------------------------------
template <GlFunc F>
struct NoopAnswer {
  template <typename... A>
  static void run(A&&... a) {
    ignore(a...);
  }
};
template <typename T>
void zero_get(GLenum pname, T* out) {
  if (!out) return;
  for (int i = 0; i < get_value_count(pname); i++) out[i] = T(0);
}
template <>
struct NoopAnswer<GlFunc::GetIntegerv> {
  static void run(GLenum pname, GLint* out) { zero_get(pname, out); }
};
template <>
struct NoopAnswer<GlFunc::GetFloatv> {
  static void run(GLenum pname, GLfloat* out) { zero_get(pname, out); }
};
template <>
struct NoopAnswer<GlFunc::GetString> {
  static const GLubyte* run(GLenum) { return reinterpret_cast<const GLubyte*>(""); }
};
template <>
struct NoopAnswer<GlFunc::GetError> {
  static GLenum run() { return GL_NO_ERROR; }
};
template <>
struct NoopAnswer<GlFunc::IsEnabled> {
  static GLboolean run(GLenum) { return GL_FALSE; }
};
template <>
struct NoopAnswer<GlFunc::GenTextures> {
  static void run(GLsizei n, GLuint* out) {
    for (GLsizei i = 0; out && i < n; i++) out[i] = 0;
  }
};
template <>
struct NoopAnswer<GlFunc::Build2DMipmaps> {
  static GLint run(GLenum, GLint, GLint, GLint, GLenum, GLenum, const void*) { return 0; }
};

template <>
struct NoopAnswer<GlFunc::CreateShader> {
  static GLuint run(GLenum) { return 0; }
};
template <>
struct NoopAnswer<GlFunc::CreateProgram> {
  static GLuint run() { return 0; }
};
template <>
struct NoopAnswer<GlFunc::GetUniformLocation> {
  static GLint run(GLuint, const GLchar*) { return -1; }
};

#define ORVL_GL_NOOP(ret, member, entry, params, args, kinds) \
  ret noop_##member params { return NoopAnswer<GlFunc::member>::run args; }
ORVL_GL_ALL_COMMANDS(ORVL_GL_NOOP)
#undef ORVL_GL_NOOP

// ---- tables -------------------------------------------------------------------------------
// Shader entry points of the real table: resolved once, at first use; a missing one does
// nothing (and answers zero), which gl_shaders_available reports beforehand.
void* resolve_entry(const char* name) {
  void* p = reinterpret_cast<void*>(eglGetProcAddress(name));
  if (!p) p = dlsym(RTLD_DEFAULT, name);
  return p;
}

template <typename R>
R zero_value() {
  if constexpr (std::is_void_v<R>) return;
  else return R(0);
}

#define ORVL_GL_RESOLVE(ret, member, entry, params, args, kinds)                     \
  using fn_##member = ret(*) params;                                                 \
  fn_##member resolved_##member() {                                                  \
    static const fn_##member p = reinterpret_cast<fn_##member>(resolve_entry(#entry)); \
    return p;                                                                        \
  }                                                                                  \
  ret real_##member params {                                                         \
    const fn_##member p = resolved_##member();                                       \
    if (!p) return zero_value<ret>();                                                \
    return p args;                                                                   \
  }
ORVL_GL_SHADER_COMMANDS(ORVL_GL_RESOLVE)
#undef ORVL_GL_RESOLVE

bool real_shaders_resolved() {
  static const bool all = [] {
    bool ok = true;
#define ORVL_GL_CHECK(ret, member, entry, params, args, kinds) ok = ok && resolved_##member() != nullptr;
    ORVL_GL_SHADER_COMMANDS(ORVL_GL_CHECK)
#undef ORVL_GL_CHECK
    return ok;
  }();
  return all;
}

const GlApi kRealTable = {
#define ORVL_GL_REAL(ret, member, entry, params, args, kinds) &::entry,
    ORVL_GL_COMMANDS(ORVL_GL_REAL)
#undef ORVL_GL_REAL
#define ORVL_GL_REAL2(ret, member, entry, params, args, kinds) &real_##member,
    ORVL_GL_SHADER_COMMANDS(ORVL_GL_REAL2)
#undef ORVL_GL_REAL2
};

const GlApi kRecorderTable = {
#define ORVL_GL_RECENTRY(ret, member, entry, params, args, kinds) &rec_##member,
    ORVL_GL_ALL_COMMANDS(ORVL_GL_RECENTRY)
#undef ORVL_GL_RECENTRY
};

const GlApi kNoopTable = {
#define ORVL_GL_NOOPENTRY(ret, member, entry, params, args, kinds) &noop_##member,
    ORVL_GL_ALL_COMMANDS(ORVL_GL_NOOPENTRY)
#undef ORVL_GL_NOOPENTRY
};

#define ORVL_GL_LOG(ret, member, entry, params, args, kinds)   \
  ret log_##member params {                                    \
    GlCall call_;                                              \
    call_.func = GlFunc::member;                               \
    CallBuilder builder_{call_, kinds};                        \
    builder_.all args;                                         \
    std::fprintf(stderr, "%s\n", call_.text().c_str());        \
    return kRealTable.member args;                             \
  }
ORVL_GL_ALL_COMMANDS(ORVL_GL_LOG)
#undef ORVL_GL_LOG

const GlApi kLoggingTable = {
#define ORVL_GL_LOGENTRY(ret, member, entry, params, args, kinds) &log_##member,
    ORVL_GL_ALL_COMMANDS(ORVL_GL_LOGENTRY)
#undef ORVL_GL_LOGENTRY
};

GlBackend g_backend = GlBackend::real;

struct EnumName {
  GLenum value;
  const char* name;
};

#define ORVL_E(x) {x, #x}
const EnumName kEnumNames[] = {
    ORVL_E(GL_PROJECTION), ORVL_E(GL_MODELVIEW), ORVL_E(GL_TEXTURE),
    ORVL_E(GL_PERSPECTIVE_CORRECTION_HINT), ORVL_E(GL_NICEST), ORVL_E(GL_FASTEST),
    ORVL_E(GL_DONT_CARE), ORVL_E(GL_COLOR_MATERIAL), ORVL_E(GL_DITHER),
    ORVL_E(GL_POLYGON_SMOOTH), ORVL_E(GL_CULL_FACE), ORVL_E(GL_NORMALIZE),
    ORVL_E(GL_POLYGON_STIPPLE), ORVL_E(GL_POLYGON_OFFSET_FILL), ORVL_E(GL_DEPTH_TEST),
    ORVL_E(GL_ALPHA_TEST), ORVL_E(GL_BLEND), ORVL_E(GL_LIGHTING), ORVL_E(GL_TEXTURE_2D),
    ORVL_E(GL_SCISSOR_TEST), ORVL_E(GL_LINE_SMOOTH), ORVL_E(GL_FOG), ORVL_E(GL_LIGHT0),
    ORVL_E(GL_LIGHT1), ORVL_E(GL_LIGHT2), ORVL_E(GL_LIGHT3), ORVL_E(GL_LIGHT4),
    ORVL_E(GL_LIGHT5), ORVL_E(GL_LIGHT6), ORVL_E(GL_LIGHT7), ORVL_E(GL_AMBIENT),
    ORVL_E(GL_DIFFUSE), ORVL_E(GL_SPECULAR), ORVL_E(GL_POSITION), ORVL_E(GL_SPOT_DIRECTION),
    ORVL_E(GL_EMISSION), ORVL_E(GL_SHININESS), ORVL_E(GL_AMBIENT_AND_DIFFUSE),
    ORVL_E(GL_CONSTANT_ATTENUATION), ORVL_E(GL_LINEAR_ATTENUATION),
    ORVL_E(GL_QUADRATIC_ATTENUATION), ORVL_E(GL_LIGHT_MODEL_AMBIENT),
    ORVL_E(GL_LIGHT_MODEL_TWO_SIDE), ORVL_E(GL_LIGHT_MODEL_LOCAL_VIEWER), ORVL_E(GL_FRONT),
    ORVL_E(GL_BACK), ORVL_E(GL_FRONT_AND_BACK), ORVL_E(GL_CW), ORVL_E(GL_CCW),
    ORVL_E(GL_POINT), ORVL_E(GL_LINE), ORVL_E(GL_FILL), ORVL_E(GL_FLAT), ORVL_E(GL_SMOOTH),
    ORVL_E(GL_NEVER), ORVL_E(GL_LESS), ORVL_E(GL_EQUAL), ORVL_E(GL_LEQUAL), ORVL_E(GL_GREATER),
    ORVL_E(GL_NOTEQUAL), ORVL_E(GL_GEQUAL), ORVL_E(GL_ALWAYS), ORVL_E(GL_SRC_COLOR),
    ORVL_E(GL_ONE_MINUS_SRC_COLOR), ORVL_E(GL_SRC_ALPHA), ORVL_E(GL_ONE_MINUS_SRC_ALPHA),
    ORVL_E(GL_DST_ALPHA), ORVL_E(GL_ONE_MINUS_DST_ALPHA), ORVL_E(GL_DST_COLOR),
    ORVL_E(GL_ONE_MINUS_DST_COLOR), ORVL_E(GL_SRC_ALPHA_SATURATE), ORVL_E(GL_TEXTURE_ENV),
    ORVL_E(GL_TEXTURE_ENV_MODE), ORVL_E(GL_TEXTURE_ENV_COLOR), ORVL_E(GL_DECAL),
    ORVL_E(GL_REPLACE), ORVL_E(GL_MODULATE), ORVL_E(GL_TEXTURE_WRAP_S),
    ORVL_E(GL_TEXTURE_WRAP_T), ORVL_E(GL_TEXTURE_MIN_FILTER), ORVL_E(GL_TEXTURE_MAG_FILTER),
    ORVL_E(GL_REPEAT), ORVL_E(GL_CLAMP), ORVL_E(GL_NEAREST), ORVL_E(GL_LINEAR),
    ORVL_E(GL_LINEAR_MIPMAP_NEAREST), ORVL_E(GL_NEAREST_MIPMAP_NEAREST),
    ORVL_E(GL_LINEAR_MIPMAP_LINEAR), ORVL_E(GL_NEAREST_MIPMAP_LINEAR), ORVL_E(GL_RGBA),
    ORVL_E(GL_RGB), ORVL_E(GL_BGRA), ORVL_E(GL_BGR), ORVL_E(GL_LUMINANCE), ORVL_E(GL_ALPHA),
    ORVL_E(GL_RED), ORVL_E(GL_LUMINANCE_ALPHA), ORVL_E(GL_UNSIGNED_BYTE), ORVL_E(GL_FLOAT),
    ORVL_E(GL_VENDOR), ORVL_E(GL_RENDERER), ORVL_E(GL_VERSION), ORVL_E(GL_EXTENSIONS),
    ORVL_E(GL_MAX_LIGHTS), ORVL_E(GL_MAX_TEXTURE_SIZE), ORVL_E(GL_VIEWPORT),
    ORVL_E(GL_DEPTH_BITS), ORVL_E(GL_RED_BITS), ORVL_E(GL_GREEN_BITS), ORVL_E(GL_BLUE_BITS),
    ORVL_E(GL_ALPHA_BITS), ORVL_E(GL_PACK_ALIGNMENT), ORVL_E(GL_UNPACK_ALIGNMENT),
    ORVL_E(GL_MODELVIEW_MATRIX), ORVL_E(GL_PROJECTION_MATRIX), ORVL_E(GL_MATRIX_MODE),
    ORVL_E(GL_COLOR_CLEAR_VALUE), ORVL_E(GL_DEPTH_RANGE), ORVL_E(GL_SCISSOR_BOX),
    ORVL_E(GL_CURRENT_COLOR), ORVL_E(GL_MAX_VIEWPORT_DIMS), ORVL_E(GL_VERTEX_SHADER),
    ORVL_E(GL_FRAGMENT_SHADER), ORVL_E(GL_COMPILE_STATUS), ORVL_E(GL_LINK_STATUS),
    ORVL_E(GL_INFO_LOG_LENGTH), ORVL_E(GL_TEXTURE0), ORVL_E(GL_SHADING_LANGUAGE_VERSION),
};
#undef ORVL_E

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

std::string enum_text(double v) {
  const char* name = gl_enum_name(GLenum(v));
  if (name) return name;
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%04X", unsigned(v));
  return buf;
}

std::string mask_text(double v) {
  static const EnumName kBits[] = {{GL_COLOR_BUFFER_BIT, "GL_COLOR_BUFFER_BIT"},
                                   {GL_DEPTH_BUFFER_BIT, "GL_DEPTH_BUFFER_BIT"},
                                   {GL_STENCIL_BUFFER_BIT, "GL_STENCIL_BUFFER_BIT"},
                                   {GL_ACCUM_BUFFER_BIT, "GL_ACCUM_BUFFER_BIT"}};
  unsigned m = unsigned(v);
  if (m == 0) return "0";
  std::string out;
  for (const auto& b : kBits) {
    if (m & b.value) {
      if (!out.empty()) out += "|";
      out += b.name;
      m &= ~b.value;
    }
  }
  if (m) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%X", m);
    if (!out.empty()) out += "|";
    out += buf;
  }
  return out;
}

std::string mode_text(double v) {
  static const char* const kModes[] = {"GL_POINTS",         "GL_LINES",          "GL_LINE_LOOP",
                                       "GL_LINE_STRIP",     "GL_TRIANGLES",      "GL_TRIANGLE_STRIP",
                                       "GL_TRIANGLE_FAN",   "GL_QUADS",          "GL_QUAD_STRIP",
                                       "GL_POLYGON"};
  unsigned m = unsigned(v);
  return m < 10 ? kModes[m] : enum_text(v);
}

}  // namespace

namespace gl_detail {
const GlApi* current = &kRealTable;
}

void gl_use(GlBackend backend) {
  switch (backend) {
    case GlBackend::real: gl_detail::current = &kRealTable; break;
    case GlBackend::recorder: recorder(); gl_detail::current = &kRecorderTable; break;
    case GlBackend::logging: gl_detail::current = &kLoggingTable; break;
    case GlBackend::noop: gl_detail::current = &kNoopTable; break;
  }
  g_backend = backend;
}

GlBackend gl_backend() { return g_backend; }

GlRecorder& gl_recorder() { return recorder(); }

bool gl_shaders_available() {
  switch (g_backend) {
    case GlBackend::real:
    case GlBackend::logging: return real_shaders_resolved();
    case GlBackend::recorder: return recorder().shaders;
    case GlBackend::noop: return false;
  }
  return false;
}

const char* gl_func_name(GlFunc f) {
  static const char* const kNames[] = {
#define ORVL_GL_NAME(ret, member, entry, params, args, kinds) #entry,
      ORVL_GL_ALL_COMMANDS(ORVL_GL_NAME)
#undef ORVL_GL_NAME
  };
  return size_t(f) < size_t(GlFunc::count) ? kNames[size_t(f)] : "?";
}

const char* gl_enum_name(GLenum value) {
  for (const auto& e : kEnumNames)
    if (e.value == value) return e.name;
  return nullptr;
}

std::string GlCall::text() const {
  std::string out = gl_func_name(func);
  out += "(";
  const char* kinds = kinds_of(func);
  size_t a = 0;
  bool first = true;
  auto sep = [&] {
    if (!first) out += ", ";
    first = false;
  };
  for (const char* k = kinds; *k; k++) {
    sep();
    switch (*k) {
      case 'e': out += enum_text(arg(a++)); break;
      case 'b': out += mask_text(arg(a++)); break;
      case 'm': out += mode_text(arg(a++)); break;
      case 'F': {
        double v = arg(a++);
        out += v == 0 ? "GL_ZERO" : v == 1 ? "GL_ONE" : enum_text(v);
        break;
      }
      case 'z': out += arg(a++) != 0 ? "GL_TRUE" : "GL_FALSE"; break;
      case 'p': out += "pixels"; break;
      case 'o': out += "out"; break;
      case 'v':
      case 'M':
      case 'U': {
        size_t n = *k == 'M' ? 16 : *k == 'U' ? size_t(arg(a - 1)) : size_t(float_param_count(GLenum(arg(a - 1))));
        out += "{";
        for (size_t i = 0; i < n && a < argc; i++, a++) out += (i ? ", " : "") + number(args[a]);
        out += "}";
        break;
      }
      default: out += number(arg(a++)); break;
    }
  }
  out += ")";
  return out;
}

void GlRecorder::reset() {
  calls.clear();
  integers.clear();
  integers[GL_MAX_LIGHTS] = {8};
  integers[GL_MAX_TEXTURE_SIZE] = {1024};
  integers[GL_DEPTH_BITS] = {24};
  integers[GL_VIEWPORT] = {0, 0, 640, 480};
  strings.clear();
  strings[GL_VENDOR] = "orvl";
  strings[GL_RENDERER] = "call recorder";
  strings[GL_VERSION] = "1.1 recorder";
  strings[GL_EXTENSIONS] = "GL_EXT_bgra GL_EXT_texture_object";
  next_texture = 1;
  read_fill = {0, 0, 0, 255};
  mipmap_result = 0;
  pending_error = GL_NO_ERROR;
  shaders = true;
  compile_ok = true;
  link_ok = true;
  info_log = "recorder: no log";
  next_object = 1;
}

size_t GlRecorder::count(GlFunc f) const {
  size_t n = 0;
  for (const auto& c : calls) n += c.func == f;
  return n;
}

std::vector<const GlCall*> GlRecorder::of(GlFunc f) const {
  std::vector<const GlCall*> out;
  for (const auto& c : calls)
    if (c.func == f) out.push_back(&c);
  return out;
}

std::vector<std::string> GlRecorder::texts() const { return texts_from(0); }

std::vector<std::string> GlRecorder::texts_from(size_t from) const {
  std::vector<std::string> out;
  for (size_t i = from; i < calls.size(); i++) out.push_back(calls[i].text());
  return out;
}

}  // namespace orvl
