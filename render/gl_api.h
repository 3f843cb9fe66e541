// The GL call table: every OpenGL and GLU call of the system goes through `gl()`: the
// OpenGL 1.1 and GLU calls of the engine look, and the OpenGL 2.0 shader calls (GLSL 1.20)
// of the lightwave look (render/lw_draw.h).
//
// The table is a plain struct of function pointers, so a call costs one indirect jump,
// the same as calling the library entry point through its import slot. Four tables exist:
//   real      the libOpenGL / libGLU entry points (needs a current context);
//   recorder  appends every call with its arguments to `gl_recorder()` and answers the
//             queries (strings, integers, texture names, pixels) from its configuration;
//             tests of drawing rules assert on the recorded sequence;
//   logging   prints each call to standard error, then forwards it to the real table;
//   noop      does nothing; queries answer zero, empty strings and untouched pixels
//             (benchmarks of the engine's own per-frame cost).
// `gl_use` switches the table for the whole process; `GlBackendScope` restores the
// previous one. Single-threaded, like the context it talks to.
//
// Recorded arguments: numbers as doubles; arrays behind pointers (light and material
// parameters, matrices, texture names) are expanded into the argument list; pixel data
// of uploads is copied into `GlCall::data` when it is RGBA/RGB/luminance bytes.
// At most 16 values are kept per call; a longer array is cut there.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orvl {

// X(return type, table member, C entry point, parameter list, argument list, kinds).
// Kinds, one per parameter, steer recording and printing:
//   e enum   b buffer mask   F blend factor   m primitive   i int   u unsigned   z boolean
//   f float  v float array sized by the preceding pname   M 16 floats   U names (count first)
//   p pixel data   o output
#define ORVL_GL_COMMANDS(X)                                                                       \
  X(void, Clear, glClear, (GLbitfield mask), (mask), "b")                                          \
  X(void, ClearColor, glClearColor, (GLclampf r, GLclampf g, GLclampf b, GLclampf a),             \
    (r, g, b, a), "ffff")                                                                          \
  X(void, ClearDepth, glClearDepth, (GLclampd d), (d), "f")                                        \
  X(void, Viewport, glViewport, (GLint x, GLint y, GLsizei w, GLsizei h), (x, y, w, h), "iiii")    \
  X(void, Scissor, glScissor, (GLint x, GLint y, GLsizei w, GLsizei h), (x, y, w, h), "iiii")      \
  X(void, MatrixMode, glMatrixMode, (GLenum mode), (mode), "e")                                    \
  X(void, LoadIdentity, glLoadIdentity, (void), (), "")                                            \
  X(void, LoadMatrixf, glLoadMatrixf, (const GLfloat* m), (m), "M")                                \
  X(void, MultMatrixf, glMultMatrixf, (const GLfloat* m), (m), "M")                                \
  X(void, Frustum, glFrustum,                                                                      \
    (GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f), (l, r, b, t, n, f),  \
    "ffffff")                                                                                      \
  X(void, Ortho, glOrtho,                                                                          \
    (GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f), (l, r, b, t, n, f),  \
    "ffffff")                                                                                      \
  X(void, PushMatrix, glPushMatrix, (void), (), "")                                                \
  X(void, PopMatrix, glPopMatrix, (void), (), "")                                                  \
  X(void, Translatef, glTranslatef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), "fff")           \
  X(void, Rotatef, glRotatef, (GLfloat a, GLfloat x, GLfloat y, GLfloat z), (a, x, y, z), "ffff")  \
  X(void, Scalef, glScalef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), "fff")                   \
  X(void, Enable, glEnable, (GLenum cap), (cap), "e")                                              \
  X(void, Disable, glDisable, (GLenum cap), (cap), "e")                                            \
  X(void, Hint, glHint, (GLenum target, GLenum mode), (target, mode), "ee")                        \
  X(void, ShadeModel, glShadeModel, (GLenum mode), (mode), "e")                                    \
  X(void, BlendFunc, glBlendFunc, (GLenum s, GLenum d), (s, d), "FF")                              \
  X(void, DepthFunc, glDepthFunc, (GLenum func), (func), "e")                                      \
  X(void, DepthMask, glDepthMask, (GLboolean flag), (flag), "z")                                   \
  X(void, DepthRange, glDepthRange, (GLclampd n, GLclampd f), (n, f), "ff")                        \
  X(void, AlphaFunc, glAlphaFunc, (GLenum func, GLclampf ref), (func, ref), "ef")                  \
  X(void, CullFace, glCullFace, (GLenum mode), (mode), "e")                                        \
  X(void, FrontFace, glFrontFace, (GLenum mode), (mode), "e")                                      \
  X(void, PolygonMode, glPolygonMode, (GLenum face, GLenum mode), (face, mode), "ee")              \
  X(void, ColorMaterial, glColorMaterial, (GLenum face, GLenum mode), (face, mode), "ee")          \
  X(void, Materialfv, glMaterialfv, (GLenum face, GLenum pname, const GLfloat* p),                 \
    (face, pname, p), "eev")                                                                       \
  X(void, Lightfv, glLightfv, (GLenum light, GLenum pname, const GLfloat* p), (light, pname, p),   \
    "eev")                                                                                         \
  X(void, Lightf, glLightf, (GLenum light, GLenum pname, GLfloat v), (light, pname, v), "eef")     \
  X(void, LightModelfv, glLightModelfv, (GLenum pname, const GLfloat* p), (pname, p), "ev")        \
  X(void, LightModeli, glLightModeli, (GLenum pname, GLint v), (pname, v), "ei")                   \
  X(void, Begin, glBegin, (GLenum mode), (mode), "m")                                              \
  X(void, End, glEnd, (void), (), "")                                                              \
  X(void, Vertex3f, glVertex3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), "fff")               \
  X(void, Normal3f, glNormal3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), "fff")               \
  X(void, Color3ub, glColor3ub, (GLubyte r, GLubyte g, GLubyte b), (r, g, b), "uuu")               \
  X(void, Color4ub, glColor4ub, (GLubyte r, GLubyte g, GLubyte b, GLubyte a), (r, g, b, a),        \
    "uuuu")                                                                                        \
  X(void, Color3f, glColor3f, (GLfloat r, GLfloat g, GLfloat b), (r, g, b), "fff")                 \
  X(void, Color4f, glColor4f, (GLfloat r, GLfloat g, GLfloat b, GLfloat a), (r, g, b, a), "ffff")  \
  X(void, TexCoord2f, glTexCoord2f, (GLfloat s, GLfloat t), (s, t), "ff")                          \
  X(void, LineWidth, glLineWidth, (GLfloat w), (w), "f")                                           \
  X(void, PointSize, glPointSize, (GLfloat s), (s), "f")                                           \
  X(void, BindTexture, glBindTexture, (GLenum target, GLuint name), (target, name), "eu")          \
  X(void, DeleteTextures, glDeleteTextures, (GLsizei n, const GLuint* names), (n, names), "iU")    \
  X(void, TexImage2D, glTexImage2D,                                                                \
    (GLenum target, GLint level, GLint internal_format, GLsizei w, GLsizei h, GLint border,        \
     GLenum format, GLenum type, const GLvoid* pixels),                                            \
    (target, level, internal_format, w, h, border, format, type, pixels), "eieiiieep")             \
  X(void, TexSubImage2D, glTexSubImage2D,                                                          \
    (GLenum target, GLint level, GLint x, GLint y, GLsizei w, GLsizei h, GLenum format,            \
     GLenum type, const GLvoid* pixels),                                                           \
    (target, level, x, y, w, h, format, type, pixels), "eiiiiieep")                                \
  X(void, TexParameteri, glTexParameteri, (GLenum target, GLenum pname, GLint v),                  \
    (target, pname, v), "eee")                                                                     \
  X(void, TexParameterf, glTexParameterf, (GLenum target, GLenum pname, GLfloat v),                \
    (target, pname, v), "eef")                                                                     \
  X(void, TexEnvi, glTexEnvi, (GLenum target, GLenum pname, GLint v), (target, pname, v), "eee")   \
  X(void, TexEnvf, glTexEnvf, (GLenum target, GLenum pname, GLfloat v), (target, pname, v), "eef") \
  X(void, PixelStorei, glPixelStorei, (GLenum pname, GLint v), (pname, v), "ei")                   \
  X(void, Flush, glFlush, (void), (), "")                                                          \
  X(void, Finish, glFinish, (void), (), "")                                                        \
  X(void, GetIntegerv, glGetIntegerv, (GLenum pname, GLint* out), (pname, out), "eo")              \
  X(void, GetFloatv, glGetFloatv, (GLenum pname, GLfloat* out), (pname, out), "eo")                \
  X(const GLubyte*, GetString, glGetString, (GLenum name), (name), "e")                            \
  X(GLenum, GetError, glGetError, (void), (), "")                                                  \
  X(GLboolean, IsEnabled, glIsEnabled, (GLenum cap), (cap), "e")                                   \
  X(void, GenTextures, glGenTextures, (GLsizei n, GLuint* names), (n, names), "io")                \
  X(void, ReadPixels, glReadPixels,                                                                \
    (GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type, GLvoid* pixels),          \
    (x, y, w, h, format, type, pixels), "iiiieeo")                                                 \
  X(GLint, Build2DMipmaps, gluBuild2DMipmaps,                                                      \
    (GLenum target, GLint components, GLint w, GLint h, GLenum format, GLenum type,                \
     const void* pixels),                                                                          \
    (target, components, w, h, format, type, pixels), "eiiieep")                                   \
  X(void, Perspective, gluPerspective, (GLdouble fovy, GLdouble aspect, GLdouble n, GLdouble f),  \
    (fovy, aspect, n, f), "ffff")

// The shader calls of GL 2.0 (GLSL 1.20), the vertex arrays the lightwave look feeds
// them with, and the separate alpha blending (GL 1.4) its pictures with a transparent
// background use. libOpenGL need not export them: the real table resolves each one at first use
// through eglGetProcAddress (then the process's own symbols); `gl_shaders_available` tells
// whether every one of them resolved. Same X arguments as ORVL_GL_COMMANDS; kinds add
//   p  a pointer argument that is not recorded (sources, names, uniform arrays, vertex data)
#define ORVL_GL_SHADER_COMMANDS(X)                                                                \
  X(GLuint, CreateShader, glCreateShader, (GLenum type), (type), "e")                              \
  X(void, ShaderSource, glShaderSource,                                                            \
    (GLuint shader, GLsizei n, const GLchar* const* text, const GLint* length),                    \
    (shader, n, text, length), "uipp")                                                             \
  X(void, CompileShader, glCompileShader, (GLuint shader), (shader), "u")                          \
  X(void, GetShaderiv, glGetShaderiv, (GLuint shader, GLenum pname, GLint* out),                   \
    (shader, pname, out), "ueo")                                                                   \
  X(void, GetShaderInfoLog, glGetShaderInfoLog,                                                    \
    (GLuint shader, GLsizei size, GLsizei* length, GLchar* text), (shader, size, length, text),    \
    "uioo")                                                                                        \
  X(void, DeleteShader, glDeleteShader, (GLuint shader), (shader), "u")                            \
  X(GLuint, CreateProgram, glCreateProgram, (void), (), "")                                        \
  X(void, AttachShader, glAttachShader, (GLuint program, GLuint shader), (program, shader), "uu")  \
  X(void, BindAttribLocation, glBindAttribLocation,                                                \
    (GLuint program, GLuint index, const GLchar* name), (program, index, name), "uup")             \
  X(void, LinkProgram, glLinkProgram, (GLuint program), (program), "u")                            \
  X(void, GetProgramiv, glGetProgramiv, (GLuint program, GLenum pname, GLint* out),                \
    (program, pname, out), "ueo")                                                                  \
  X(void, GetProgramInfoLog, glGetProgramInfoLog,                                                  \
    (GLuint program, GLsizei size, GLsizei* length, GLchar* text),                                 \
    (program, size, length, text), "uioo")                                                         \
  X(void, DeleteProgram, glDeleteProgram, (GLuint program), (program), "u")                        \
  X(void, UseProgram, glUseProgram, (GLuint program), (program), "u")                              \
  X(GLint, GetUniformLocation, glGetUniformLocation, (GLuint program, const GLchar* name),         \
    (program, name), "up")                                                                         \
  X(void, Uniform1i, glUniform1i, (GLint location, GLint v), (location, v), "ii")                  \
  X(void, Uniform1f, glUniform1f, (GLint location, GLfloat v), (location, v), "if")                \
  X(void, Uniform3f, glUniform3f, (GLint location, GLfloat x, GLfloat y, GLfloat z),               \
    (location, x, y, z), "ifff")                                                                   \
  X(void, Uniform4f, glUniform4f, (GLint location, GLfloat x, GLfloat y, GLfloat z, GLfloat w),    \
    (location, x, y, z, w), "iffff")                                                               \
  X(void, Uniform1iv, glUniform1iv, (GLint location, GLsizei n, const GLint* v), (location, n, v), \
    "iip")                                                                                         \
  X(void, Uniform1fv, glUniform1fv, (GLint location, GLsizei n, const GLfloat* v),                 \
    (location, n, v), "iip")                                                                       \
  X(void, Uniform3fv, glUniform3fv, (GLint location, GLsizei n, const GLfloat* v),                 \
    (location, n, v), "iip")                                                                       \
  X(void, UniformMatrix4fv, glUniformMatrix4fv,                                                    \
    (GLint location, GLsizei n, GLboolean transpose, const GLfloat* m), (location, n, transpose, m),\
    "iizM")                                                                                        \
  X(void, ActiveTexture, glActiveTexture, (GLenum unit), (unit), "e")                              \
  X(void, EnableVertexAttribArray, glEnableVertexAttribArray, (GLuint index), (index), "u")        \
  X(void, DisableVertexAttribArray, glDisableVertexAttribArray, (GLuint index), (index), "u")      \
  X(void, VertexAttribPointer, glVertexAttribPointer,                                              \
    (GLuint index, GLint size, GLenum type, GLboolean normalized, GLsizei stride,                  \
     const void* data),                                                                            \
    (index, size, type, normalized, stride, data), "uiezip")                                       \
  X(void, DrawArrays, glDrawArrays, (GLenum mode, GLint first, GLsizei count), (mode, first, count),\
    "mii")                                                                                         \
  X(void, BlendFuncSeparate, glBlendFuncSeparate,                                                  \
    (GLenum sc, GLenum dc, GLenum sa, GLenum da), (sc, dc, sa, da), "FFFF")

#define ORVL_GL_ALL_COMMANDS(X) ORVL_GL_COMMANDS(X) ORVL_GL_SHADER_COMMANDS(X)

// The table. Members are named after the entry point without its prefix.
struct GlApi {
#define ORVL_GL_MEMBER(ret, member, entry, params, args, kinds) ret(*member) params;
  ORVL_GL_ALL_COMMANDS(ORVL_GL_MEMBER)
#undef ORVL_GL_MEMBER
};

// One value per entry of the table, in table order.
enum class GlFunc : uint16_t {
#define ORVL_GL_ENUM(ret, member, entry, params, args, kinds) member,
  ORVL_GL_ALL_COMMANDS(ORVL_GL_ENUM)
#undef ORVL_GL_ENUM
      count
};

// Whether the current table can run shaders: the real one when every shader entry point
// resolved (checked once; needs a current context), the recorder as configured
// (`GlRecorder::shaders`), logging as real, no-op never.
bool gl_shaders_available();

// The C name of the entry point ("glClear", "gluBuild2DMipmaps").
const char* gl_func_name(GlFunc f);
// The symbolic name of a GL enumerant used by this system ("GL_DEPTH_TEST"), or null.
const char* gl_enum_name(GLenum value);

enum class GlBackend : int { real = 0, recorder = 1, logging = 2, noop = 3 };

namespace gl_detail {
extern const GlApi* current;
}

// The current table. Cheap: one load; callers may keep the reference for a batch.
inline const GlApi& gl() { return *gl_detail::current; }

void gl_use(GlBackend backend);
GlBackend gl_backend();

// Switches the backend for a scope and restores the previous one.
class GlBackendScope {
 public:
  explicit GlBackendScope(GlBackend b) : previous_(gl_backend()) { gl_use(b); }
  ~GlBackendScope() { gl_use(previous_); }
  GlBackendScope(const GlBackendScope&) = delete;
  GlBackendScope& operator=(const GlBackendScope&) = delete;

 private:
  GlBackend previous_;
};

// One recorded call.
struct GlCall {
  GlFunc func = GlFunc::count;
  uint8_t argc = 0;
  std::array<double, 16> args{};
  std::vector<uint8_t> data;  // pixels of TexImage2D / TexSubImage2D / Build2DMipmaps

  double arg(size_t i) const { return i < argc ? args[i] : 0.0; }
  // "glEnable(GL_DEPTH_TEST)", "glClear(GL_COLOR_BUFFER_BIT|GL_DEPTH_BUFFER_BIT)",
  // "glFrustum(-0.666667, 0.666667, -0.5, 0.5, 1, 3e+06)".
  std::string text() const;
};

// Where the recorder table writes, and how it answers queries.
struct GlRecorder {
  std::vector<GlCall> calls;

  // Answers of glGetIntegerv / glGetFloatv by pname. A pname not listed writes
  // nothing and records GL_INVALID_ENUM for the next glGetError.
  std::map<GLenum, std::vector<GLint>> integers;
  std::map<GLenum, std::string> strings;  // glGetString; an absent name returns null
  GLuint next_texture = 1;                // glGenTextures hands out consecutive names
  std::array<uint8_t, 4> read_fill{0, 0, 0, 255};  // what glReadPixels writes per pixel
  GLint mipmap_result = 0;                          // gluBuild2DMipmaps' return value
  GLenum pending_error = GL_NO_ERROR;
  // Shaders: whether they exist, and what compile and link report (tests force failures).
  bool shaders = true;
  bool compile_ok = true;
  bool link_ok = true;
  std::string info_log = "recorder: no log";
  GLuint next_object = 1;  // glCreateShader / glCreateProgram hand out consecutive names

  // Forgets the calls and restores the default answers: 8 lights, textures up to 1024,
  // 24 depth bits, the viewport 0 0 640 480, the recorder's own strings, and shaders
  // that exist, compile and link.
  void reset();
  void clear_calls() { calls.clear(); }

  size_t count(GlFunc f) const;
  std::vector<const GlCall*> of(GlFunc f) const;
  // Every call as text, in order.
  std::vector<std::string> texts() const;
  // The calls after position `from` as text.
  std::vector<std::string> texts_from(size_t from) const;
};

// The process-wide recorder that the recorder table writes to.
GlRecorder& gl_recorder();

}  // namespace orvl
