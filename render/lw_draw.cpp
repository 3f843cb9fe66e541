#include "render/lw_draw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/log.h"
#include "render/display.h"
#include "render/gl_api.h"
#include "scene/lw_scene.h"

namespace orvl {
namespace {

constexpr int kMaxShaderLights = 8;
constexpr int kFloatsPerVertex = 14;  // world xyz, world normal, object xyz, face normal, uv

// Attribute slots, bound before linking.
enum Attr : GLuint { A_WORLD = 0, A_NORMAL = 1, A_OBJECT = 2, A_FACE = 3, A_UV = 4 };

// The shaders are specialised: every light's type and falloff, the surface's texture
// projection, axis, coordinate system and wrap modes, its sides, whether it has a
// highlight and whether there is fog become preprocessor constants of one program per
// combination, compiled when a frame first needs it and kept for the context. llvmpipe
// runs both sides of a branch on a uniform and the whole of a loop's bound, so a program
// that evaluated every projection and eight lights per pixel cost ten to thirty times
// one that evaluates only what its surface uses.
const char* const kVertexBody = R"(
attribute vec3 a_world;
attribute vec3 a_normal;
attribute vec3 a_object;
attribute vec3 a_face;
attribute vec2 a_uv;
uniform mat4 u_view_projection;
#if USES_WORLD
varying vec3 v_world;
#endif
#if VERTEX_LIGHTING
uniform vec3 u_camera;
uniform vec3 u_ambient;
#if LIGHTS > 0
uniform vec3 u_light_direction[LIGHTS];
uniform vec3 u_light_color[LIGHTS];
#endif
varying vec3 v_light;
#if CONSTANT_COLOR
uniform vec3 u_color;
uniform vec4 u_levels;
uniform vec3 u_extra;
#endif
LIGHT_FUNCTIONS
#else
varying vec3 v_normal;
#endif
#if USES_OBJECT
varying vec3 v_object;
#endif
#if USES_FACE
varying vec3 v_face;
#endif
#if USES_UV
varying vec2 v_uv;
#endif
void main() {
#if USES_WORLD
  v_world = a_world;
#endif
#if VERTEX_LIGHTING
  // A faceted surface under distant lights only, without a highlight: every corner of a
  // triangle has its polygon's normal, so the diffuse sum is the same at every pixel of
  // it and is exact here.
  vec3 N = a_normal;
#if DOUBLE_SIDED
  N = dot(N, u_camera - a_world) < 0.0 ? -N : N;
#endif
  vec3 diffuse = u_ambient;
  vec3 specular = vec3(0.0);
  vec3 V = vec3(0.0);
  float NV = 0.0;
  LIGHT_CALLS
#if CONSTANT_COLOR
  gl_FrontColor = vec4(clamp(u_color * u_levels.z + u_color * u_levels.x * diffuse, 0.0, 1.0), u_extra.y);
#else
  v_light = diffuse;
#endif
#else
  v_normal = a_normal;
#endif
#if USES_OBJECT
  v_object = a_object;
#endif
#if USES_FACE
  v_face = a_face;
#endif
#if USES_UV
  v_uv = a_uv;
#endif
  gl_Position = u_view_projection * vec4(a_world, 1.0);
}
)";

const char* const kFragmentBody = R"(
uniform vec3 u_camera;
#if LIGHTS > 0 && !VERTEX_LIGHTING
uniform vec3 u_light_position[LIGHTS];
uniform vec3 u_light_direction[LIGHTS];
uniform vec3 u_light_color[LIGHTS];
uniform vec3 u_light_spot[LIGHTS];     // cosines of the cone and of its full-light part
uniform vec3 u_light_falloff[LIGHTS];  // type, range
#endif
uniform vec3 u_ambient;
uniform vec3 u_color;
uniform vec4 u_levels;  // diffuse, specular, luminosity, gloss exponent
uniform vec3 u_extra;   // colour highlights, opacity, double sided
uniform vec4 u_fog;     // on, min distance, max distance, unused
uniform vec4 u_fog_amount;
uniform vec3 u_fog_color;
uniform mat4 u_texture_matrix;  // object (or world) position -> texture space (centred, rotated)
uniform vec3 u_texture_size;
uniform vec4 u_wrap_count;
uniform vec4 u_coverage;
uniform vec4 u_viewport;
uniform sampler2D u_texture;
#if USES_WORLD
varying vec3 v_world;
#endif
#if VERTEX_LIGHTING
varying vec3 v_light;
#else
varying vec3 v_normal;
#endif
#if USES_OBJECT
varying vec3 v_object;
#endif
#if USES_FACE
varying vec3 v_face;
#endif
#if USES_UV
varying vec2 v_uv;
#endif

const float PI = 3.14159265358979;

#if TEXTURE
// Heading of (x, z) as the LWO2 document's sample code reads it, 0..1 of a turn.
float longitude(float x, float z) {
  if (x == 0.0 && z == 0.0) return 0.0;
  return 1.0 - fract(atan(x, z) / (2.0 * PI) + 1.0);
}

// Picks, of a longitude coordinate and the same one wrapped half a turn away, the one that
// is continuous across this pixel's neighbours.
float unseam(float s, float turns) {
  float t = s - turns * step(0.5 * turns, s);
  return fwidth(t) < fwidth(s) ? t : s;
}

float wrap(float s, int mode, inout bool outside) {
  if (mode == 1) return s;
  if (mode == 2) return 1.0 - abs(mod(s, 2.0) - 1.0);
  if (mode == 3) return clamp(s, 0.0, 1.0);
  if (s < 0.0 || s > 1.0) outside = true;
  return s;
}

vec2 planar(vec3 p, int axis) {
  if (axis == 0) return vec2(p.z + 0.5, 0.5 - p.y);
  if (axis == 1) return vec2(p.x + 0.5, 0.5 - p.z);
  return vec2(p.x + 0.5, 0.5 - p.y);
}

bool texture_coordinate(out vec2 st) {
#if PROJECTION == 5
  st = v_uv;
#elif PROJECTION == 4
  st = (gl_FragCoord.xy - u_viewport.xy) / u_viewport.zw;
  st.y = 1.0 - st.y;
#else
#if WORLD_COORDINATES
  vec3 position = v_world;
#else
  vec3 position = v_object;
#endif
  vec3 q = (u_texture_matrix * vec4(position, 1.0)).xyz;  // centred and rotated
  vec3 p = q / u_texture_size;
#if PROJECTION == 0
  st = planar(p, AXIS);
#elif PROJECTION == 3
  vec3 n = abs(v_face);
  int axis = (n.x >= n.y && n.x >= n.z) ? 0 : (n.y >= n.z ? 1 : 2);
  st = planar(p, axis);
#else
  // Axis-aligned to the Y case: (x, y, z) with y along the axis.
#if AXIS == 0
  vec3 a = vec3(q.z, q.x, -q.y);
  float h = p.x;
#elif AXIS == 1
  vec3 a = vec3(-q.x, q.y, q.z);
  float h = p.y;
#else
  vec3 a = vec3(-q.x, q.z, -q.y);
  float h = p.z;
#endif
  float s = longitude(a.x, a.z) * u_wrap_count.x;
  s = unseam(s, u_wrap_count.x);
#if PROJECTION == 1
  st = vec2(s, 0.5 - h);
#else
  float lat = atan(a.y, length(a.xz));
  st = vec2(s, (0.5 - lat / PI) * u_wrap_count.y);
#endif
#endif
#endif
  bool outside = false;
  st.x = wrap(st.x, WRAP_U, outside);
  st.y = wrap(st.y, WRAP_V, outside);
  st *= u_coverage.xy;
  return !outside;
}
#endif

void main() {
  vec3 color = u_color;
#if TEXTURE
  vec2 st;
  if (texture_coordinate(st)) color = texture2D(u_texture, st).rgb;
#endif
#if USES_WORLD
  vec3 to_eye = u_camera - v_world;
#endif
#if SPECULAR || FOG
  float eye_distance = length(to_eye);
#endif
#if VERTEX_LIGHTING
  vec3 diffuse = v_light;
#else
  vec3 N = normalize(v_normal);
#if DOUBLE_SIDED
  N = dot(N, to_eye) < 0.0 ? -N : N;
#endif
#if SPECULAR
  vec3 V = eye_distance > 0.0 ? to_eye / eye_distance : vec3(0.0, 0.0, -1.0);
  float NV = dot(N, V);
#else
  vec3 V = vec3(0.0);
  float NV = 0.0;
#endif
  vec3 diffuse = u_ambient;
  vec3 specular = vec3(0.0);
  LIGHT_CALLS
#endif
  vec3 out_color = color * u_levels.z + color * u_levels.x * diffuse;
#if SPECULAR
  out_color += u_levels.y * mix(vec3(1.0), color, u_extra.x) * specular;
#endif
  out_color = clamp(out_color, 0.0, 1.0);
#if FOG
  float f = clamp((eye_distance - u_fog.y) / max(u_fog.z - u_fog.y, 1e-20), 0.0, 1.0);
  out_color = mix(out_color, u_fog_color, clamp(mix(u_fog_amount.x, u_fog_amount.y, f), 0.0, 1.0));
#endif
  gl_FragColor = vec4(out_color, u_extra.y);
}
)";

// One light's share, instantiated per light with its index for @ and its kind as
// TYPE (0 distant, 1 point, 2 spot) and FALLOFF (0 none, 1 linear, 2 inverse distance,
// 3 inverse square), so that each light compiles to its own kind only.
const char* const kLightFunction = R"(
void add_light_@(vec3 N, vec3 V, float NV, inout vec3 diffuse, inout vec3 specular) {
#if TYPE == 0
  vec3 L = -u_light_direction[@];
  float NL = dot(N, L);
  float k = 1.0;
#else
  // At the light itself d is 0, and so is its share (no NaN from the 0 / 0).
  vec3 d = u_light_position[@] - v_world;
  float inverse = inversesqrt(max(dot(d, d), 1e-30));
  float NL = dot(N, d) * inverse;
  float k = 1.0;
#if TYPE == 2
  // Full inside cos(cone - edge), dark outside cos(cone), smoothstep in the cosine between.
  k = smoothstep(u_light_spot[@].x, u_light_spot[@].y, -dot(d, u_light_direction[@]) * inverse);
#endif
#if FALLOFF > 0
  float dist = dot(d, d) * inverse;
  float range = u_light_falloff[@].y;
#endif
#if FALLOFF == 1
  k *= max(0.0, 1.0 - dist / range);
#elif FALLOFF == 2
  k *= min(1.0, range / max(dist, 1e-20));
#elif FALLOFF == 3
  k *= min(1.0, (range * range) / max(dist * dist, 1e-20));
#endif
#endif
  float lambert = max(0.0, NL);
  diffuse += u_light_color[@] * (k * lambert);
#if SPECULAR
#if TYPE != 0
  vec3 L = d * inverse;
#endif
  // R.V with R = 2 (N.L) N - L, L reflected about N.
  float RV = 2.0 * NL * NV - dot(L, V);
  if (lambert > 0.0) specular += u_light_color[@] * (k * pow(max(0.0, RV), u_levels.w));
#endif
}
#undef TYPE
#undef FALLOFF
)";

// The gradient backdrop, a screen-filling quad behind everything.
const char* const kBackdropVertex = R"(#version 120
attribute vec3 a_world;
uniform mat4 u_inverse_view_projection;
varying vec3 v_direction;
void main() {
  // The points of the near and the far plane behind a screen position are affine in it, and
  // so is their difference: the view direction is worked out at the corners and
  // interpolated, exactly, instead of per pixel.
  vec4 far = u_inverse_view_projection * vec4(a_world.xy, 1.0, 1.0);
  vec4 near = u_inverse_view_projection * vec4(a_world.xy, -1.0, 1.0);
  v_direction = far.xyz / far.w - near.xyz / near.w;
  gl_Position = vec4(a_world.xy, 0.999999, 1.0);
}
)";

// The exponent 1 / squeeze is a square root for LightWave's default squeeze of 2, which
// costs llvmpipe a fraction of pow().
const char* const kBackdropFragment = R"(
uniform vec3 u_zenith, u_sky, u_ground, u_nadir;
uniform vec4 u_squeeze;
varying vec3 v_direction;
void main() {
  float e = clamp(v_direction.y * inversesqrt(max(dot(v_direction, v_direction), 1e-30)), -1.0, 1.0);
  bool above = e >= 0.0;
#if SQUEEZE_2
  float t = sqrt(abs(e));
#else
  float t = pow(abs(e), 1.0 / max(above ? u_squeeze.x : u_squeeze.y, 0.01));
#endif
  gl_FragColor = vec4(above ? mix(u_sky, u_zenith, t) : mix(u_ground, u_nadir, t), 1.0);
}
)";

// A static image: its picture, unlit, on a quad given in normalised device coordinates.
const char* const kImageVertex = R"(#version 120
attribute vec3 a_world;
attribute vec2 a_uv;
varying vec2 v_uv;
void main() {
  v_uv = a_uv;
  gl_Position = vec4(a_world, 1.0);
}
)";

const char* const kImageFragment = R"(#version 120
uniform sampler2D u_texture;
uniform vec3 u_extra;  // unused, opacity, unused
varying vec2 v_uv;
void main() {
  gl_FragColor = vec4(texture2D(u_texture, v_uv).rgb, u_extra.y);
}
)";

// What a program is specialised on, packed: bits 0-3 light count, then 4 bits per light
// (type 2, falloff 2), from bit 36 the surface's: texture 1, projection 3, axis 2, world
// coordinates 1, wrap u 2, wrap v 2, double sided 1, specular 1, fog 1, faceted 1.
using ProgramKey = uint64_t;
constexpr ProgramKey kBackdropKey = ~ProgramKey(0);
constexpr ProgramKey kBackdropSqrtKey = ~ProgramKey(2);  // both squeezes LightWave's default 2
constexpr ProgramKey kImageKey = ~ProgramKey(1);

struct ProgramFeatures {
  int lights = 0;
  int light_type[kMaxShaderLights]{};
  int light_falloff[kMaxShaderLights]{};
  bool texture = false;
  int projection = 0, axis = 2, wrap_u = 1, wrap_v = 1;
  bool world_coordinates = false, double_sided = false, specular = false, fog = false;
  bool faceted = false;  // every corner has its polygon's normal
};

ProgramKey pack(const ProgramFeatures& f) {
  ProgramKey k = ProgramKey(f.lights & 15);
  for (int i = 0; i < f.lights && i < kMaxShaderLights; ++i)
    k |= ProgramKey((f.light_type[i] & 3) | ((f.light_falloff[i] & 3) << 2)) << (4 + 4 * i);
  ProgramKey s = 0;
  s |= ProgramKey(f.texture);
  if (f.texture) {
    s |= ProgramKey(f.projection & 7) << 1;
    s |= ProgramKey(f.axis & 3) << 4;
    s |= ProgramKey(f.world_coordinates) << 6;
    s |= ProgramKey(f.wrap_u & 3) << 7;
    s |= ProgramKey(f.wrap_v & 3) << 9;
  }
  s |= ProgramKey(f.double_sided) << 11;
  s |= ProgramKey(f.specular) << 12;
  s |= ProgramKey(f.fog) << 13;
  s |= ProgramKey(f.faceted) << 14;
  return k | (s << 36);
}

ProgramFeatures unpack(ProgramKey k) {
  ProgramFeatures f;
  f.lights = int(k & 15);
  for (int i = 0; i < f.lights && i < kMaxShaderLights; ++i) {
    f.light_type[i] = int((k >> (4 + 4 * i)) & 3);
    f.light_falloff[i] = int((k >> (6 + 4 * i)) & 3);
  }
  const ProgramKey s = k >> 36;
  f.texture = s & 1;
  f.projection = int((s >> 1) & 7);
  f.axis = int((s >> 4) & 3);
  f.world_coordinates = (s >> 6) & 1;
  f.wrap_u = int((s >> 7) & 3);
  f.wrap_v = int((s >> 9) & 3);
  f.double_sided = (s >> 11) & 1;
  f.specular = (s >> 12) & 1;
  f.fog = (s >> 13) & 1;
  f.faceted = (s >> 14) & 1;
  return f;
}

// Uniform locations, looked up once per program.
struct Uniforms {
  GLint view_projection, inverse_view_projection, zenith, sky, ground, nadir, squeeze, camera;
  GLint light_position, light_direction, light_color, light_spot, light_falloff;
  GLint ambient, color, levels, extra, fog, fog_amount, fog_color;
  GLint texture_matrix, texture_size, wrap_count, coverage, viewport, texture;
};

struct Program {
  ProgramKey key = 0;
  GLuint program = 0;
  Uniforms u{};
  uint32_t frame = 0;  // the frame whose per-frame uniforms it holds
};

// The programs of the current context. Built programs stay until the context goes; the
// table only grows when a combination is first met.
struct ProgramCache {
  uint32_t serial = UINT32_MAX;  // display_open_serial the programs belong to
  bool failed = false;           // a program did not build: this context draws fixed-function
  bool no_shaders = false;
  std::vector<Program> programs;
};

ProgramCache g_cache;
uint32_t g_frame_serial = 0;
bool g_used_shaders = false;

// One group of consecutive vertices of one object and surface, and the program it is
// drawn with (chosen before drawing, so that a program that fails to build sends the
// whole frame to the fall-back).
struct Batch {
  int object = 0;
  const Surface* surface = nullptr;
  int first = 0;
  int count = 0;
  int program = -1;  // index into the context's programs
  float nearest = 0;  // the object's nearest fed vertex from the camera
  bool translucent = false;  // its triangles are drawn from the sorted runs instead
};

// A translucent triangle waiting for the back-to-front sort.
struct Translucent {
  float distance;  // of its centre from the camera
  int batch;       // the batch it belongs to
  int offset;      // its first vertex in g_scratch
};

std::vector<float> g_vertices;
std::vector<Batch> g_batches;
std::vector<int> g_order;  // opaque batches, nearest object first
std::vector<float> g_scratch;  // translucent triangles before their sort
std::vector<Translucent> g_translucent;
size_t g_translucent_count = 0;
size_t g_first_run = 0;  // g_batches from here are the sorted translucent runs
LwPose g_pose;

struct Light {
  int type = 0;
  float position[3]{}, direction[3]{}, color[3]{}, spot[3]{}, falloff[3]{};
};

std::string info_log(GLuint object, bool program) {
  const GlApi& g = gl();
  char text[2048] = {0};
  GLsizei length = 0;
  if (program) g.GetProgramInfoLog(object, sizeof text, &length, text);
  else g.GetShaderInfoLog(object, sizeof text, &length, text);
  length = std::max<GLsizei>(0, std::min<GLsizei>(length, sizeof text - 1));
  std::string s(text, size_t(length));
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s.empty() ? "(no log)" : s;
}

GLuint compile(GLenum type, const std::string& source, std::string& log) {
  const GlApi& g = gl();
  const GLuint shader = g.CreateShader(type);
  if (!shader) return log = "glCreateShader gave no shader", 0;
  const char* text = source.c_str();
  g.ShaderSource(shader, 1, &text, nullptr);
  g.CompileShader(shader);
  GLint ok = GL_FALSE;
  g.GetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok != GL_TRUE) {
    log = info_log(shader, false);
    g.DeleteShader(shader);
    return 0;
  }
  return shader;
}

// The preprocessor lines and light calls that specialise the shared bodies.
void specialise(const ProgramFeatures& f, std::string& vertex, std::string& fragment) {
  std::string defines = "#version 120\n";
  auto define = [&](const char* name, int value) {
    defines += std::string("#define ") + name + " " + std::to_string(value) + "\n";
  };
  define("LIGHTS", f.lights);
  define("TEXTURE", f.texture);
  define("PROJECTION", f.projection);
  define("AXIS", f.axis);
  define("WORLD_COORDINATES", f.world_coordinates);
  define("WRAP_U", f.wrap_u);
  define("WRAP_V", f.wrap_v);
  define("DOUBLE_SIDED", f.double_sided);
  define("SPECULAR", f.specular);
  define("FOG", f.fog);
  bool distant_only = true;
  for (int i = 0; i < f.lights; ++i) distant_only = distant_only && f.light_type[i] == 0;
  // The diffuse sum is constant over a triangle when its normal and every light's
  // direction are: it is then worked out per corner, which llvmpipe runs per vertex
  // instead of per pixel. A highlight depends on the view direction, which is not.
  const bool vertex_lighting = f.faceted && distant_only && !f.specular;
  define("VERTEX_LIGHTING", vertex_lighting);
  const bool constant_color = vertex_lighting && !f.texture && !f.fog;
  define("CONSTANT_COLOR", constant_color);
  const bool positional = f.texture && f.projection != int(LwProjection::uv) && f.projection != int(LwProjection::front);
  define("USES_WORLD", f.fog || (positional && f.world_coordinates) ||
                           (!vertex_lighting && (f.specular || f.double_sided || !distant_only)));
  define("USES_OBJECT", positional && !f.world_coordinates);
  define("USES_FACE", f.texture && f.projection == int(LwProjection::cubic));
  define("USES_UV", f.texture && f.projection == int(LwProjection::uv));
  std::string calls, functions;
  for (int i = 0; i < f.lights; ++i) {
    const std::string index = std::to_string(i);
    calls += "add_light_" + index + "(N, V, NV, diffuse, specular); ";
    functions += "#define TYPE " + std::to_string(f.light_type[i]) + "\n#define FALLOFF " +
                 std::to_string(f.light_falloff[i]) + "\n";
    for (const char* c = kLightFunction; *c; ++c) {
      if (*c == '@') functions += index;
      else functions += *c;
    }
  }
  defines += "#define LIGHT_CALLS " + calls + "\n";
  // The light functions go after the declarations they use, in the stage that lights.
  std::string vertex_body = kVertexBody;
  const size_t functions_at = vertex_body.find("LIGHT_FUNCTIONS");
  vertex_body.replace(functions_at, std::strlen("LIGHT_FUNCTIONS"), vertex_lighting ? functions : std::string());
  vertex = defines + vertex_body;
  std::string body = kFragmentBody;
  if (!vertex_lighting) body.insert(body.find("void main() {"), functions);
  fragment = defines + body;
  if (constant_color) fragment = defines + "void main() { gl_FragColor = gl_Color; }\n";
}

GLuint link(const std::string& vertex, const std::string& fragment, std::string& log) {
  const GlApi& g = gl();
  const GLuint vs = compile(GL_VERTEX_SHADER, vertex, log);
  const GLuint fs = vs ? compile(GL_FRAGMENT_SHADER, fragment, log) : 0;
  GLuint program = 0;
  if (vs && fs) {
    program = g.CreateProgram();
    g.AttachShader(program, vs);
    g.AttachShader(program, fs);
    g.BindAttribLocation(program, A_WORLD, "a_world");
    g.BindAttribLocation(program, A_NORMAL, "a_normal");
    g.BindAttribLocation(program, A_OBJECT, "a_object");
    g.BindAttribLocation(program, A_FACE, "a_face");
    g.BindAttribLocation(program, A_UV, "a_uv");
    g.LinkProgram(program);
    GLint ok = GL_FALSE;
    g.GetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
      log = info_log(program, true);
      g.DeleteProgram(program);
      program = 0;
    }
  }
  if (vs) g.DeleteShader(vs);
  if (fs) g.DeleteShader(fs);
  return program;
}

// Starts the cache over for a new context; false when this context has no shaders or a
// program of it did not build.
bool shaders_usable() {
  const uint32_t serial = display_open_serial();
  if (g_cache.serial != serial) {
    g_cache.serial = serial;
    g_cache.failed = false;
    g_cache.programs.clear();  // their names died with the old context
    g_cache.no_shaders = !gl_shaders_available();
    if (g_cache.no_shaders)
      log_line("This OpenGL has no shaders (GL 2.0): the lightwave look is drawn with fixed-function lighting.");
  }
  return !g_cache.no_shaders && !g_cache.failed;
}

// The program for `key` (its index), built on first use; -1 when it does not build (logged
// once per context, and the context then draws fixed-function).
int program_for(ProgramKey key) {
  for (size_t i = 0; i < g_cache.programs.size(); ++i)
    if (g_cache.programs[i].key == key) return int(i);
  if (g_cache.failed) return -1;
  std::string vertex, fragment, log;
  if (key == kBackdropKey || key == kBackdropSqrtKey) {
    vertex = kBackdropVertex;
    fragment = std::string("#version 120\n#define SQUEEZE_2 ") + (key == kBackdropSqrtKey ? "1" : "0") + "\n" +
               kBackdropFragment;
  } else if (key == kImageKey) {
    vertex = kImageVertex;
    fragment = kImageFragment;
  } else {
    specialise(unpack(key), vertex, fragment);
  }
  const GLuint program = link(vertex, fragment, log);
  if (!program) {
    g_cache.failed = true;
    log_line("The lightwave look's shaders do not build (" + log + "): drawn with fixed-function lighting.");
    return -1;
  }
  const GlApi& g = gl();
  Program p;
  p.key = key;
  p.program = program;
  Uniforms& u = p.u;
  auto at = [&](const char* name) { return g.GetUniformLocation(program, name); };
  u.view_projection = at("u_view_projection");
  u.inverse_view_projection = at("u_inverse_view_projection");
  u.zenith = at("u_zenith");
  u.sky = at("u_sky");
  u.ground = at("u_ground");
  u.nadir = at("u_nadir");
  u.squeeze = at("u_squeeze");
  u.camera = at("u_camera");
  u.light_position = at("u_light_position");
  u.light_direction = at("u_light_direction");
  u.light_color = at("u_light_color");
  u.light_spot = at("u_light_spot");
  u.light_falloff = at("u_light_falloff");
  u.ambient = at("u_ambient");
  u.color = at("u_color");
  u.levels = at("u_levels");
  u.extra = at("u_extra");
  u.fog = at("u_fog");
  u.fog_amount = at("u_fog_amount");
  u.fog_color = at("u_fog_color");
  u.texture_matrix = at("u_texture_matrix");
  u.texture_size = at("u_texture_size");
  u.wrap_count = at("u_wrap_count");
  u.coverage = at("u_coverage");
  u.viewport = at("u_viewport");
  u.texture = at("u_texture");
  g_cache.programs.push_back(p);
  return int(g_cache.programs.size() - 1);
}

// --- matrices (row major, column vectors, as scene/lw_scene.h) ---

void apply(const LwMatrix& m, const float in[3], double out[3]) {
  for (int r = 0; r < 3; ++r)
    out[r] = m.m[r * 4] * in[0] + m.m[r * 4 + 1] * in[1] + m.m[r * 4 + 2] * in[2] + m.m[r * 4 + 3];
}

// Inverse transpose of the upper 3 x 3 (row major), for normals; identity when singular.
void normal_matrix(const LwMatrix& m, double n[9]) {
  const double a = m.m[0], b = m.m[1], c = m.m[2], d = m.m[4], e = m.m[5], f = m.m[6], g = m.m[8], h = m.m[9],
               i = m.m[10];
  const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
  if (!(std::fabs(det) > 1e-30) || !std::isfinite(det)) {
    const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::copy(id, id + 9, n);
    return;
  }
  // Cofactors over the determinant: the inverse transpose.
  n[0] = (e * i - f * h) / det;
  n[1] = -(d * i - f * g) / det;
  n[2] = (d * h - e * g) / det;
  n[3] = -(b * i - c * h) / det;
  n[4] = (a * i - c * g) / det;
  n[5] = -(a * h - b * g) / det;
  n[6] = (b * f - c * e) / det;
  n[7] = -(a * f - c * d) / det;
  n[8] = (a * e - b * d) / det;
}

void rotate_normal(const double n[9], const float in[3], float out[3]) {
  double v[3];
  for (int r = 0; r < 3; ++r) v[r] = n[r * 3] * in[0] + n[r * 3 + 1] * in[1] + n[r * 3 + 2] * in[2];
  const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (int k = 0; k < 3; ++k) out[k] = len > 0 ? float(v[k] / len) : (k == 2 ? 1.f : 0.f);
}

// Column-major float matrix for GL from a row-major double one.
void to_gl(const LwMatrix& m, float out[16]) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out[c * 4 + r] = float(m.m[r * 4 + c]);
}

LwMatrix rotation_hpb(const float hpb[3]) {
  const double channels[9] = {0, 0, 0, hpb[0], hpb[1], hpb[2], 1, 1, 1};
  const float pivot[3] = {0, 0, 0};
  return lw_local_matrix(channels, pivot);
}

// Texture space of a layer: position minus centre, turned back by the layer's rotation.
LwMatrix texture_matrix(const LwTextureLayer& layer) {
  LwMatrix r = rotation_hpb(layer.rotation);
  LwMatrix t;  // transpose of the rotation (its inverse) times T(-centre)
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) t.m[i * 4 + j] = r.m[j * 4 + i];
  for (int i = 0; i < 3; ++i)
    t.m[i * 4 + 3] = -(t.m[i * 4] * layer.center[0] + t.m[i * 4 + 1] * layer.center[1] + t.m[i * 4 + 2] * layer.center[2]);
  return t;
}

bool finite3(const float v[3]) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

bool surface_transparent(const Surface& s, float dissolve);

// A static image's quad as two triangles: x, y, z in normalised device coordinates, u, v.
struct StaticImage {
  GLuint texture = 0;
  float opacity = 1;
  float v[6][5]{};
};
std::vector<StaticImage> g_images;
size_t g_image_count = 0;

// Static images as the engine places them: the picture's quad at distance 1 in front of
// the camera, filling the frame's shorter side, drawn before everything else and depth
// tested, so that only what is nearer than 1 shows in front of it. `depth` is the
// normalised depth of distance 1 under this frame's projection.
void gather_images(const Scene& scene, const int viewport[4], float depth) {
  g_image_count = 0;
  if (g_images.size() < size_t(std::max(0, scene.object_count))) g_images.resize(size_t(scene.object_count));
  const float w = float(std::max(1, viewport[2])), h = float(std::max(1, viewport[3]));
  const float side = std::min(w, h);
  for (int i = 0; i < scene.object_count; ++i) {
    const SceneObject& o = scene.objects[i];
    if (!o.static_image || o.polygon_count < 2 || o.vertices.size() < 4 || o.polygons.size() < 2) continue;
    const float dissolve = i < int(g_pose.dissolve.size()) ? g_pose.dissolve[size_t(i)] : 0.f;
    if (!(dissolve < 1.f) || o.polygons[0].texture < 0) continue;
    StaticImage& image = g_images[g_image_count++];
    image.texture = GLuint(uint16_t(o.polygons[0].texture));
    image.opacity = 1.f - std::max(0.f, dissolve);
    int n = 0;
    for (int t = 0; t < 2; ++t) {
      const Triangle& tri = o.polygons[size_t(t)];
      for (int k = 0; k < 3; ++k, ++n) {
        const int32_t c = tri.corners[k];
        const Vertex& v = o.vertices[c >= 0 && size_t(c) < o.vertices.size() ? size_t(c) : 0];
        image.v[n][0] = v.x * 2 * side / w;
        image.v[n][1] = v.y * 2 * side / h;
        image.v[n][2] = depth;
        image.v[n][3] = tri.uv[k * 2];
        image.v[n][4] = tri.uv[k * 2 + 1];
      }
    }
  }
}

// Fills the vertex array with every triangle that shows; returns the farthest distance of
// a fed vertex from the camera.
double feed(Scene& scene, const double camera[3]) {
  g_batches.clear();
  size_t needed = 0;
  for (int i = 0; i < scene.object_count; ++i) needed += size_t(std::max(0, scene.objects[i].polygon_count)) * 3;
  if (g_vertices.size() < needed * kFloatsPerVertex) g_vertices.resize(needed * kFloatsPerVertex);
  if (g_scratch.size() < needed * kFloatsPerVertex) g_scratch.resize(needed * kFloatsPerVertex);
  if (g_translucent.size() < needed / 3) g_translucent.resize(needed / 3);
  g_translucent_count = 0;
  size_t scratch_vertex = 0;
  size_t surfaces = 0;
  for (int i = 0; i < scene.object_count; ++i) surfaces += scene.objects[i].surfaces.size();
  // Every surface's batch, and at most one run per translucent triangle after the sort.
  if (g_batches.capacity() < surfaces + needed / 3) g_batches.reserve(surfaces + needed / 3);
  if (g_order.capacity() < surfaces) g_order.reserve(surfaces);

  double farthest = 0;
  int vertex = 0;
  for (int i = 0; i < scene.object_count; ++i) {
    SceneObject& o = scene.objects[i];
    if (o.polygon_count <= 0 || o.is_morph_target || o.static_image) continue;
    if (size_t(i) >= g_pose.object_world.size()) break;
    const float dissolve = i < int(g_pose.dissolve.size()) ? g_pose.dissolve[size_t(i)] : 0.f;
    if (dissolve >= 1.f) continue;
    const LwMatrix& world = g_pose.object_world[size_t(i)];
    double nm[9];
    normal_matrix(world, nm);
    const Vertex* target = nullptr;
    size_t target_count = 0;
    float morph = 0;
    if (o.morph_target >= 0 && o.morph_target < scene.object_count) {
      target = scene.objects[size_t(o.morph_target)].vertices.data();
      target_count = scene.objects[size_t(o.morph_target)].vertices.size();
      morph = i < int(g_pose.morph_amount.size()) ? g_pose.morph_amount[size_t(i)] : 0.f;
    }
    const bool have_corners = o.corner_normals.size() >= size_t(o.polygon_count) * 9;
    const size_t object_batches = g_batches.size();
    double nearest = HUGE_VAL;
    const size_t polygons = std::min(size_t(o.polygon_count), o.polygons.size());
    for (const Surface& surface : o.surfaces) {
      const int first = vertex;
      const bool translucent = surface_transparent(surface, dissolve);
      const int batch_index = int(g_batches.size());
      size_t batch_triangles = 0;
      for (size_t t = 0; t < polygons; ++t) {
        const Triangle& tri = o.polygons[t];
        if (tri.surface != &surface) continue;
        float obj[3][3];
        bool ok = true;
        for (int k = 0; k < 3; ++k) {
          const int32_t c = tri.corners[k];
          if (c < 0 || size_t(c) >= o.vertices.size()) {
            ok = false;
            break;
          }
          const Vertex& v = o.vertices[size_t(c)];
          obj[k][0] = v.x, obj[k][1] = v.y, obj[k][2] = v.z;
          if (target && size_t(c) < target_count) {
            const Vertex& w = target[c];
            obj[k][0] += (w.x - v.x) * morph;
            obj[k][1] += (w.y - v.y) * morph;
            obj[k][2] += (w.z - v.z) * morph;
          }
        }
        if (!ok) continue;
        double wp[3][3];
        for (int k = 0; k < 3; ++k) apply(world, obj[k], wp[k]);
        // The face normal from the (morphed) corners: the engine fills Triangle::normal
        // only for the surfaces it lights. LightWave's polygons run clockwise seen from
        // their visible side, which in its left-handed axes makes e1 x e2 point out.
        float object_face[3];
        {
          const double e1[3] = {obj[1][0] - obj[0][0], obj[1][1] - obj[0][1], obj[1][2] - obj[0][2]};
          const double e2[3] = {obj[2][0] - obj[0][0], obj[2][1] - obj[0][1], obj[2][2] - obj[0][2]};
          const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
          const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
          if (!(len > 0)) continue;  // degenerate: nothing to draw
          for (int a = 0; a < 3; ++a) object_face[a] = float(n[a] / len);
        }
        float face[3];
        rotate_normal(nm, object_face, face);
        if (!surface.lw.double_sided) {
          const double to_eye[3] = {camera[0] - wp[0][0], camera[1] - wp[0][1], camera[2] - wp[0][2]};
          if (face[0] * to_eye[0] + face[1] * to_eye[1] + face[2] * to_eye[2] < 0) continue;
        }
        if (translucent) {
          const double c[3] = {(wp[0][0] + wp[1][0] + wp[2][0]) / 3 - camera[0],
                               (wp[0][1] + wp[1][1] + wp[2][1]) / 3 - camera[1],
                               (wp[0][2] + wp[1][2] + wp[2][2]) / 3 - camera[2]};
          const double distance = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
          g_translucent[g_translucent_count++] =
              Translucent{std::isfinite(distance) ? float(distance) : 0.f, batch_index, int(scratch_vertex)};
        }
        ++batch_triangles;
        for (int k = 0; k < 3; ++k) {
          float* out = translucent ? &g_scratch[scratch_vertex++ * kFloatsPerVertex]
                                   : &g_vertices[size_t(vertex) * kFloatsPerVertex];
          float corner[3];
          if (have_corners) rotate_normal(nm, &o.corner_normals[t * 9 + size_t(k) * 3], corner);
          else std::copy(face, face + 3, corner);
          for (int a = 0; a < 3; ++a) {
            out[a] = float(wp[k][a]);
            out[3 + a] = corner[a];
            out[6 + a] = obj[k][a];
            out[9 + a] = object_face[a];
          }
          out[12] = tri.uv[k * 2];
          out[13] = tri.uv[k * 2 + 1];
          const double dx = wp[k][0] - camera[0], dy = wp[k][1] - camera[1], dz = wp[k][2] - camera[2];
          const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
          if (std::isfinite(d)) {
            farthest = std::max(farthest, d);
            nearest = std::min(nearest, d);
          }
          if (!translucent) ++vertex;
        }
      }
      if (batch_triangles > 0) {
        Batch b{i, &surface, first, vertex - first};
        b.translucent = translucent;
        g_batches.push_back(b);
      }
    }
    for (size_t b = object_batches; b < g_batches.size(); ++b) g_batches[b].nearest = float(nearest);
  }
  // Opaque surfaces are drawn nearest object first, each object's surfaces in file order:
  // the depth test then rejects hidden pixels before they are shaded. (std::sort with the
  // index as the tie-break: stable_sort would allocate.)
  g_order.clear();
  for (size_t b = 0; b < g_batches.size(); ++b)
    if (!g_batches[b].translucent) g_order.push_back(int(b));
  std::sort(g_order.begin(), g_order.end(), [](int a, int b) {
    const float na = g_batches[size_t(a)].nearest, nb = g_batches[size_t(b)].nearest;
    return na < nb || (na == nb && a < b);
  });
  // Translucent triangles, farthest first across every object, after the opaque ones in
  // the vertex array; consecutive triangles of one batch make one run.
  std::sort(g_translucent.begin(), g_translucent.begin() + std::ptrdiff_t(g_translucent_count),
            [](const Translucent& a, const Translucent& b) {
              return a.distance > b.distance || (a.distance == b.distance && a.offset < b.offset);
            });
  g_first_run = g_batches.size();
  for (size_t t = 0; t < g_translucent_count; ++t) {
    const Translucent& tr = g_translucent[t];
    std::copy_n(&g_scratch[size_t(tr.offset) * kFloatsPerVertex], 3 * kFloatsPerVertex,
                &g_vertices[size_t(vertex) * kFloatsPerVertex]);
    if (g_batches.size() > g_first_run && g_batches.back().count > 0 &&
        g_batches.back().surface == g_batches[size_t(tr.batch)].surface &&
        g_batches.back().object == g_batches[size_t(tr.batch)].object) {
      g_batches.back().count += 3;
    } else {
      Batch run = g_batches[size_t(tr.batch)];
      run.first = vertex;
      run.count = 3;
      run.translucent = true;
      g_batches.push_back(run);
    }
    vertex += 3;
  }
  return farthest;
}

void gather_lights(const Scene& scene, Light* lights, int& count) {
  count = 0;
  const int n = std::min<int>({scene.light_count, int(scene.lw.lights.size()), int(g_pose.light_world.size())});
  for (int i = 0; i < n && count < kMaxShaderLights; ++i) {
    const LwLight& info = scene.lw.lights[size_t(i)];
    const LwMatrix& m = g_pose.light_world[size_t(i)];
    Light& l = lights[count];
    l.type = info.type == LwLightType::distant ? 0 : info.type == LwLightType::spot ? 2 : 1;
    for (int k = 0; k < 3; ++k) l.position[k] = float(m.m[k * 4 + 3]);
    double dir[3] = {m.m[2], m.m[6], m.m[10]};
    const double len = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
    for (int k = 0; k < 3; ++k) l.direction[k] = len > 0 ? float(dir[k] / len) : (k == 2 ? 1.f : 0.f);
    const float intensity = i < int(g_pose.light_intensity.size()) ? g_pose.light_intensity[size_t(i)] : info.intensity;
    for (int k = 0; k < 3; ++k) l.color[k] = info.color[k] * intensity;
    l.spot[0] = info.cone_angle;
    l.spot[1] = info.edge_angle;
    l.falloff[0] = float(int(info.falloff));
    l.falloff[1] = info.range * scene.scale;
    if (!finite3(l.color) || !finite3(l.position)) continue;
    ++count;
  }
}

bool surface_transparent(const Surface& s, float dissolve) {
  return s.lw.transparency > 0.f || s.lw.additive || dissolve > 0.f;
}

// GL texture of a surface in this look: its colour image layer, or a 2D effect's texture.
GLuint surface_texture(const Scene& scene, const Surface& s, const LwTextureLayer** layer) {
  *layer = nullptr;
  if (!s.effect_pixels.empty() && s.gl_texture) return s.gl_texture;
  const LwTextureLayer* l = s.lw.color_layer();
  if (!l || l->image < 1) return 0;
  *layer = l;
  return GLuint(scene.texture_base + l->image - 1);
}

// Drawing order: the opaque batches nearest object first, then the translucent runs
// farthest triangle first.
size_t drawn_batches() { return g_order.size() + (g_batches.size() - g_first_run); }
const Batch& drawn_batch(size_t n) {
  return n < g_order.size() ? g_batches[size_t(g_order[n])] : g_batches[g_first_run + (n - g_order.size())];
}

// The features of a surface's program under this frame's lights and fog.
ProgramKey surface_key(const Scene& scene, const Surface& s, const ProgramFeatures& frame) {
  ProgramFeatures f = frame;
  const LwTextureLayer* layer = nullptr;
  const GLuint texture = surface_texture(scene, s, &layer);
  f.texture = texture != 0;
  if (layer) {
    f.projection = int(layer->projection);
    f.axis = std::min<int>(layer->axis, 2);
    f.world_coordinates = layer->world_coordinates;
    f.wrap_u = int(layer->wrap_u) & 3;
    f.wrap_v = int(layer->wrap_v) & 3;
  } else if (texture) {
    // A 2D effect: the engine's own texture coordinates, repeating.
    f.projection = int(LwProjection::uv);
    f.wrap_u = f.wrap_v = int(LwWrap::repeat);
  }
  f.double_sided = s.lw.double_sided;
  f.specular = s.lw.specular > 0.f;
  f.faceted = !(s.lw.smoothing_angle > 0.f);
  return pack(f);
}

// The lights and fog every program of the frame shares.
ProgramFeatures frame_features(const Scene& scene, const Light* lights, int light_count) {
  ProgramFeatures f;
  f.lights = light_count;
  for (int i = 0; i < light_count; ++i) {
    f.light_type[i] = lights[i].type;
    const int falloff = int(lights[i].falloff[0] + 0.5f);
    f.light_falloff[i] = lights[i].type != 0 && lights[i].falloff[1] > 0.f && falloff >= 1 && falloff <= 3 ? falloff : 0;
  }
  f.fog = scene.lw.fog.type != 0;
  return f;
}

// Gives every batch its program; false when one does not build (the frame then draws
// fixed-function, as every later one in this context).
bool choose_programs(const Scene& scene, const Light* lights, int light_count, int& backdrop) {
  backdrop = -1;
  const LwBackdrop& b = scene.lw.backdrop;
  const bool squeeze_2 = b.sky_squeeze == 2.f && b.ground_squeeze == 2.f;
  if (!b.solid && (backdrop = program_for(squeeze_2 ? kBackdropSqrtKey : kBackdropKey)) < 0) return false;
  if (g_image_count > 0 && program_for(kImageKey) < 0) return false;
  const ProgramFeatures frame = frame_features(scene, lights, light_count);
  const Surface* last = nullptr;
  int last_program = -1;
  for (Batch& batch : g_batches) {
    if (batch.surface != last) {
      last = batch.surface;
      last_program = program_for(surface_key(scene, *batch.surface, frame));
      if (last_program < 0) return false;
    }
    batch.program = last_program;
  }
  return true;
}

// A static image fades with its object's dissolve; an opaque one is drawn unblended.
void set_image_blend(float opacity) {
  const GlApi& g = gl();
  if (opacity < 1.f) {
    g.Enable(GL_BLEND);
    g.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  } else {
    g.Disable(GL_BLEND);
  }
}

// Blending, depth writes and the bound texture, set only where a batch changes them.
struct DrawState {
  int blend = -1;  // 0 off, 1 alpha, 2 additive
  GLuint texture = 0;
  bool texture_known = false;
  int program = -2;
  // The alpha channel gathers coverage (a + (1 - a) dst) for a picture with a transparent
  // background, where plain blending would leave a^2 over it.
  bool coverage = false;
};

void set_blend(DrawState& state, const Surface& s, bool transparent) {
  const GlApi& g = gl();
  const int want = !transparent ? 0 : s.lw.additive ? 2 : 1;
  if (want == state.blend) return;
  if (want == 0) {
    g.Disable(GL_BLEND);
    g.DepthMask(GL_TRUE);
  } else {
    if (state.blend <= 0) {
      g.Enable(GL_BLEND);
      g.DepthMask(GL_FALSE);
    }
    const GLenum destination = want == 2 ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA;
    if (state.coverage) g.BlendFuncSeparate(GL_SRC_ALPHA, destination, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    else g.BlendFunc(GL_SRC_ALPHA, destination);
  }
  state.blend = want;
}

struct FrameUniforms {
  const float* view_projection;
  const float* inverse_vp;
  float camera[3];
  float viewport[4];
  int light_count;
  float pos[kMaxShaderLights * 3], dir[kMaxShaderLights * 3], col[kMaxShaderLights * 3], spot[kMaxShaderLights * 3], fall[kMaxShaderLights * 3];
  float ambient[3];
  float fog[4], fog_amount[4], fog_color[3];
};

// Makes `index` current, giving it this frame's shared uniforms the first time it is used.
void use_program(DrawState& state, int index, const FrameUniforms& f) {
  if (index == state.program) return;
  const GlApi& g = gl();
  Program& p = g_cache.programs[size_t(index)];
  g.UseProgram(p.program);
  state.program = index;
  if (p.frame == g_frame_serial) return;
  p.frame = g_frame_serial;
  const Uniforms& u = p.u;
  if (p.key == kBackdropKey || p.key == kBackdropSqrtKey) {
    g.UniformMatrix4fv(u.inverse_view_projection, 1, GL_FALSE, f.inverse_vp);
    return;
  }
  if (p.key == kImageKey) {
    g.Uniform1i(u.texture, 0);
    return;
  }
  g.UniformMatrix4fv(u.view_projection, 1, GL_FALSE, f.view_projection);
  g.Uniform3f(u.camera, f.camera[0], f.camera[1], f.camera[2]);
  g.Uniform4f(u.viewport, f.viewport[0], f.viewport[1], f.viewport[2], f.viewport[3]);
  g.Uniform1i(u.texture, 0);
  if (f.light_count > 0) {
    g.Uniform3fv(u.light_position, f.light_count, f.pos);
    g.Uniform3fv(u.light_direction, f.light_count, f.dir);
    g.Uniform3fv(u.light_color, f.light_count, f.col);
    g.Uniform3fv(u.light_spot, f.light_count, f.spot);
    g.Uniform3fv(u.light_falloff, f.light_count, f.fall);
  }
  g.Uniform3f(u.ambient, f.ambient[0], f.ambient[1], f.ambient[2]);
  g.Uniform4f(u.fog, f.fog[0], f.fog[1], f.fog[2], f.fog[3]);
  g.Uniform4f(u.fog_amount, f.fog_amount[0], f.fog_amount[1], f.fog_amount[2], f.fog_amount[3]);
  g.Uniform3f(u.fog_color, f.fog_color[0], f.fog_color[1], f.fog_color[2]);
}

void draw_shaded(Scene& scene, const float view_projection[16], const float inverse_vp[16], const double camera[3],
                 const int viewport[4], const Light* lights, int light_count, int backdrop, bool coverage) {
  const GlApi& g = gl();
  ++g_frame_serial;
  FrameUniforms f{};
  f.view_projection = view_projection;
  f.inverse_vp = inverse_vp;
  for (int k = 0; k < 3; ++k) f.camera[k] = float(camera[k]);
  f.viewport[0] = float(viewport[0]);
  f.viewport[1] = float(viewport[1]);
  f.viewport[2] = float(std::max(1, viewport[2]));
  f.viewport[3] = float(std::max(1, viewport[3]));
  f.light_count = light_count;
  for (int i = 0; i < light_count; ++i) {
    std::copy(lights[i].position, lights[i].position + 3, f.pos + i * 3);
    std::copy(lights[i].direction, lights[i].direction + 3, f.dir + i * 3);
    std::copy(lights[i].color, lights[i].color + 3, f.col + i * 3);
    // The cone's cosines; the full-light part kept strictly inside, as smoothstep needs
    // its edges in order.
    const double cone = std::clamp(double(lights[i].spot[0]), 0.0, 3.14159265358979);
    const double inner = std::clamp(cone - double(lights[i].spot[1]), 0.0, cone);
    const float outer_cos = float(std::cos(cone));
    f.spot[i * 3] = outer_cos;
    f.spot[i * 3 + 1] = std::max(float(std::cos(inner)), outer_cos + 1e-6f);
    f.spot[i * 3 + 2] = 0;
    std::copy(lights[i].falloff, lights[i].falloff + 3, f.fall + i * 3);
  }
  const LwSceneInfo& info = scene.lw;
  const float amb = info.ambient_intensity;
  for (int k = 0; k < 3; ++k) f.ambient[k] = info.ambient_color[k] * amb;
  const LwFog& fog = info.fog;
  f.fog[0] = fog.type != 0 ? 1.f : 0.f;
  f.fog[1] = fog.min_distance * scene.scale;
  f.fog[2] = fog.max_distance * scene.scale;
  f.fog_amount[0] = fog.min_amount;
  f.fog_amount[1] = fog.max_amount;
  for (int k = 0; k < 3; ++k) f.fog_color[k] = fog.color[k];

  DrawState state;
  state.coverage = coverage;
  g.ActiveTexture(GL_TEXTURE0);
  // Only the built-in colour is flat-shaded: the one-colour programs pass their triangle's
  // colour in it, the others use varyings of their own.
  g.ShadeModel(GL_FLAT);
  const LwBackdrop& b = info.backdrop;
  if (backdrop >= 0) {
    static const float quad[6 * kFloatsPerVertex] = {-1, -1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  //
                                                     1,  -1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  //
                                                     1,  1,  0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  //
                                                     -1, -1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  //
                                                     1,  1,  0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  //
                                                     -1, 1,  0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0};
    use_program(state, backdrop, f);
    const Uniforms& u = g_cache.programs[size_t(backdrop)].u;
    g.Uniform3f(u.zenith, b.zenith[0], b.zenith[1], b.zenith[2]);
    g.Uniform3f(u.sky, b.sky[0], b.sky[1], b.sky[2]);
    g.Uniform3f(u.ground, b.ground[0], b.ground[1], b.ground[2]);
    g.Uniform3f(u.nadir, b.nadir[0], b.nadir[1], b.nadir[2]);
    g.Uniform4f(u.squeeze, b.sky_squeeze, b.ground_squeeze, 0, 0);
    g.DepthMask(GL_FALSE);
    g.EnableVertexAttribArray(A_WORLD);
    g.VertexAttribPointer(A_WORLD, 3, GL_FLOAT, GL_FALSE, kFloatsPerVertex * sizeof(float), quad);
    g.DrawArrays(GL_TRIANGLES, 0, 6);
    g.DepthMask(GL_TRUE);
  }
  if (g_image_count > 0) {
    const int image_program = program_for(kImageKey);
    use_program(state, image_program, f);
    const Uniforms& u = g_cache.programs[size_t(image_program)].u;
    g.EnableVertexAttribArray(A_WORLD);
    g.EnableVertexAttribArray(A_UV);
    for (size_t i = 0; i < g_image_count; ++i) {
      const StaticImage& image = g_images[i];
      set_image_blend(image.opacity);
      g.Uniform3f(u.extra, 0, image.opacity, 0);
      g.BindTexture(GL_TEXTURE_2D, image.texture);
      g.VertexAttribPointer(A_WORLD, 3, GL_FLOAT, GL_FALSE, 5 * sizeof(float), &image.v[0][0]);
      g.VertexAttribPointer(A_UV, 2, GL_FLOAT, GL_FALSE, 5 * sizeof(float), &image.v[0][3]);
      g.DrawArrays(GL_TRIANGLES, 0, 6);
    }
    g.Disable(GL_BLEND);
    g.DisableVertexAttribArray(A_UV);
    state.texture_known = false;
  }

  const GLsizei stride = kFloatsPerVertex * sizeof(float);
  const float* base = g_vertices.data();
  const GLuint attrs[5] = {A_WORLD, A_NORMAL, A_OBJECT, A_FACE, A_UV};
  for (GLuint a : attrs) g.EnableVertexAttribArray(a);
  g.VertexAttribPointer(A_WORLD, 3, GL_FLOAT, GL_FALSE, stride, base);
  g.VertexAttribPointer(A_NORMAL, 3, GL_FLOAT, GL_FALSE, stride, base + 3);
  g.VertexAttribPointer(A_OBJECT, 3, GL_FLOAT, GL_FALSE, stride, base + 6);
  g.VertexAttribPointer(A_FACE, 3, GL_FLOAT, GL_FALSE, stride, base + 9);
  g.VertexAttribPointer(A_UV, 2, GL_FLOAT, GL_FALSE, stride, base + 12);

  {
    for (size_t n = 0; n < drawn_batches(); ++n) {
      const Batch& batch = drawn_batch(n);
      const Surface& s = *batch.surface;
      const float dissolve = batch.object < int(g_pose.dissolve.size()) ? g_pose.dissolve[size_t(batch.object)] : 0.f;
      const bool transparent = batch.translucent;
      const LwSurfaceParams& p = s.lw;
      use_program(state, batch.program, f);
      const Uniforms& u = g_cache.programs[size_t(batch.program)].u;
      set_blend(state, s, transparent);
      g.Uniform3f(u.color, p.color[0], p.color[1], p.color[2]);
      g.Uniform4f(u.levels, p.diffuse, p.specular, p.luminosity, p.gloss_exponent);
      g.Uniform3f(u.extra, p.color_highlights, (1.f - p.transparency) * (1.f - dissolve), p.double_sided ? 1.f : 0.f);
      const LwTextureLayer* layer = nullptr;
      const GLuint texture = surface_texture(scene, s, &layer);
      if (texture) {
        if (!state.texture_known || state.texture != texture) g.BindTexture(GL_TEXTURE_2D, texture);
        state.texture = texture;
        state.texture_known = true;
        if (layer) {
          float tm[16];
          to_gl(texture_matrix(*layer), tm);
          g.UniformMatrix4fv(u.texture_matrix, 1, GL_FALSE, tm);
          g.Uniform3f(u.texture_size, layer->size[0], layer->size[1], layer->size[2]);
          g.Uniform4f(u.wrap_count, layer->wrap_width, layer->wrap_height, 0, 0);
          const bool full = layer->coverage[0] > 0 && layer->coverage[1] > 0;
          g.Uniform4f(u.coverage, full ? layer->coverage[0] : 1.f, full ? layer->coverage[1] : 1.f, 0, 0);
        } else {
          g.Uniform4f(u.coverage, 1, 1, 0, 0);
        }
      }
      g.DrawArrays(GL_TRIANGLES, batch.first, batch.count);
    }
  }
  for (GLuint a : attrs) g.DisableVertexAttribArray(a);
  g.ShadeModel(GL_SMOOTH);
  g.UseProgram(0);
  g.Disable(GL_BLEND);
  g.DepthMask(GL_TRUE);
}

// Fixed-function fallback: the same geometry, matrices and lights, per-vertex lighting.
// `coverage`: as DrawState's (only where the separate blend function exists).
void draw_fixed(Scene& scene, const float projection[16], const float view[16], const Light* lights, int light_count,
                bool coverage) {
  const GlApi& g = gl();
  g.MatrixMode(GL_PROJECTION);
  g.PushMatrix();
  g.LoadIdentity();
  g.MatrixMode(GL_MODELVIEW);
  g.PushMatrix();
  g.LoadIdentity();
  g.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  if (g_image_count > 0) {
    // The static images, unlit, in normalised device coordinates.
    g.Enable(GL_TEXTURE_2D);
    for (size_t i = 0; i < g_image_count; ++i) {
      const StaticImage& image = g_images[i];
      set_image_blend(image.opacity);
      g.Color4f(1, 1, 1, image.opacity);
      g.BindTexture(GL_TEXTURE_2D, image.texture);
      g.Begin(GL_TRIANGLES);
      for (const float* v : image.v) {
        g.TexCoord2f(v[3], v[4]);
        g.Vertex3f(v[0], v[1], v[2]);
      }
      g.End();
    }
    g.Disable(GL_BLEND);
    g.Disable(GL_TEXTURE_2D);
  }
  g.LoadMatrixf(view);
  g.MatrixMode(GL_PROJECTION);
  g.LoadMatrixf(projection);
  g.MatrixMode(GL_MODELVIEW);
  DrawState state;
  state.coverage = coverage;
  g.Enable(GL_LIGHTING);
  g.Enable(GL_NORMALIZE);
  g.LightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1);
  const float amb = scene.lw.ambient_intensity;
  const GLfloat ambient[4] = {scene.lw.ambient_color[0] * amb, scene.lw.ambient_color[1] * amb,
                              scene.lw.ambient_color[2] * amb, 1};
  g.LightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
  for (int i = 0; i < kMaxGlLights; ++i) {
    const GLenum id = GL_LIGHT0 + GLenum(i);
    if (i >= light_count) {
      g.Disable(id);
      continue;
    }
    const Light& l = lights[i];
    const GLfloat position[4] = {l.type == 0 ? -l.direction[0] : l.position[0],
                                 l.type == 0 ? -l.direction[1] : l.position[1],
                                 l.type == 0 ? -l.direction[2] : l.position[2], l.type == 0 ? 0.f : 1.f};
    const GLfloat color[4] = {l.color[0], l.color[1], l.color[2], 1};
    const GLfloat none[4] = {0, 0, 0, 1};
    g.Lightfv(id, GL_POSITION, position);
    g.Lightfv(id, GL_DIFFUSE, color);
    g.Lightfv(id, GL_SPECULAR, color);
    g.Lightfv(id, GL_AMBIENT, none);
    if (l.type == 2) {
      g.Lightfv(id, GL_SPOT_DIRECTION, l.direction);
      g.Lightf(id, GL_SPOT_CUTOFF, std::min(90.f, l.spot[0] * 57.29578f));
    } else {
      g.Lightf(id, GL_SPOT_CUTOFF, 180.f);
    }
    g.Enable(id);
  }
  {
    for (size_t n = 0; n < drawn_batches(); ++n) {
      const Batch& batch = drawn_batch(n);
      const Surface& s = *batch.surface;
      const float dissolve = batch.object < int(g_pose.dissolve.size()) ? g_pose.dissolve[size_t(batch.object)] : 0.f;
      const bool transparent = batch.translucent;
      const LwSurfaceParams& p = s.lw;
      set_blend(state, s, transparent);
      const float alpha = (1.f - p.transparency) * (1.f - dissolve);
      // A textured surface: the picture on the engine's texture coordinates (right for
      // planar and UV maps, the engine's approximation for the others), modulating the
      // lighting of a white surface, as the shaders put the picture in place of the colour.
      const LwTextureLayer* layer = nullptr;
      const GLuint texture = surface_texture(scene, s, &layer);
      const float white[3] = {1, 1, 1};
      const float* c = texture ? white : p.color;
      if (texture) {
        g.Enable(GL_TEXTURE_2D);
        if (!state.texture_known || state.texture != texture) g.BindTexture(GL_TEXTURE_2D, texture);
        state.texture = texture;
        state.texture_known = true;
      } else {
        g.Disable(GL_TEXTURE_2D);
      }
      const GLfloat dif[4] = {c[0] * p.diffuse, c[1] * p.diffuse, c[2] * p.diffuse, alpha};
      const GLfloat emi[4] = {c[0] * p.luminosity, c[1] * p.luminosity, c[2] * p.luminosity, 1};
      const GLfloat spe[4] = {p.specular, p.specular, p.specular, 1};
      const GLfloat shine[1] = {std::min(128.f, p.gloss_exponent)};
      g.Materialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, dif);
      g.Materialfv(GL_FRONT_AND_BACK, GL_AMBIENT, dif);
      g.Materialfv(GL_FRONT_AND_BACK, GL_EMISSION, emi);
      g.Materialfv(GL_FRONT_AND_BACK, GL_SPECULAR, spe);
      g.Materialfv(GL_FRONT_AND_BACK, GL_SHININESS, shine);
      g.Begin(GL_TRIANGLES);
      for (int v = batch.first; v < batch.first + batch.count; ++v) {
        const float* f = &g_vertices[size_t(v) * kFloatsPerVertex];
        g.Normal3f(f[3], f[4], f[5]);
        if (texture) g.TexCoord2f(f[12], f[13]);
        g.Vertex3f(f[0], f[1], f[2]);
      }
      g.End();
    }
  }
  g.Disable(GL_BLEND);
  g.Disable(GL_TEXTURE_2D);
  g.DepthMask(GL_TRUE);
  g.Disable(GL_NORMALIZE);
  g.MatrixMode(GL_PROJECTION);
  g.PopMatrix();
  g.MatrixMode(GL_MODELVIEW);
  g.PopMatrix();
}

}  // namespace

bool lw_draw_used_shaders() { return g_used_shaders; }

void lw_draw_frame(Scene& scene, int clear_bits, const RenderSettings& settings) {
  const GlApi& g = gl();
  lw_pose_current(scene, g_pose);
  const LwSceneInfo& info = scene.lw;

  if (clear_bits != 0) {
    GLbitfield mask = 0;
    if ((clear_bits & ClearBits::DEPTH) && (scene.flags & SceneFlags::DEPTH_BUFFER)) mask |= GL_DEPTH_BUFFER_BIT;
    if (clear_bits & ClearBits::COLOR) {
      mask |= GL_COLOR_BUFFER_BIT;
      const float* c = info.backdrop.color;
      if (settings.transparent_background) g.ClearColor(0, 0, 0, 0);
      else g.ClearColor(c[0], c[1], c[2], 1.0f);
    }
    g.Clear(mask);
  }
  if (info.fog.type > 1 && !scene.draw.warned_lw_fog) {
    scene.draw.warned_lw_fog = true;
    log_line(scene.path + ": fog type " + std::to_string(info.fog.type) + " is drawn as linear fog in the lightwave look.");
  }

  const LwMatrix camera_world = settings.camera_world ? *settings.camera_world : g_pose.camera_world;
  double zoom = settings.camera_world ? settings.camera_zoom : g_pose.zoom;
  if (!(zoom > 0.01) || !std::isfinite(zoom)) zoom = 3.2;
  LwMatrix view;
  if (!lw_invert(camera_world, view)) view = LwMatrix{};
  const double camera[3] = {camera_world.m[3], camera_world.m[7], camera_world.m[11]};

  const double farthest = feed(scene, camera);
  {
    int triangles = 0;
    for (const Batch& b : g_batches) triangles += b.count / 3;
    frame_state().triangles = triangles;
    frame_state().batches = int(g_batches.size());
  }

  int viewport[4] = {0, 0, 640, 480};
  display_viewport(viewport);
  const double w = std::max(1, viewport[2]), h = std::max(1, viewport[3]);
  double pixel_aspect = info.camera.pixel_aspect;
  if (!(pixel_aspect > 0.01 && pixel_aspect < 100)) pixel_aspect = 1;
  const double aspect = w / h * pixel_aspect;
  const double far_plane = std::max(1e-3, farthest * 1.01 + 1e-3);
  const double near_plane = std::max(1e-4, far_plane / 4096.0);
  // GL eye space looks down -Z; LightWave's camera down +Z: the view mirrors Z.
  LwMatrix mirror;
  mirror.m[10] = -1;
  const LwMatrix eye = lw_multiply(mirror, view);
  LwMatrix projection;
  projection.m[0] = zoom / aspect;
  projection.m[5] = zoom;
  projection.m[10] = -(far_plane + near_plane) / (far_plane - near_plane);
  projection.m[11] = -2 * far_plane * near_plane / (far_plane - near_plane);
  projection.m[14] = -1;
  projection.m[15] = 0;
  const LwMatrix vp = lw_multiply(projection, eye);
  LwMatrix inverse_vp;
  if (!lw_invert(vp, inverse_vp)) inverse_vp = LwMatrix{};
  // Eye distance 1 (GL eye z = -1, w = 1) in normalised depth, for the static images.
  const double image_depth = std::clamp(projection.m[11] - projection.m[10], -1.0, 0.999999);
  gather_images(scene, viewport, float(image_depth));

  g.Disable(GL_TEXTURE_2D);
  g.Disable(GL_CULL_FACE);
  g.Disable(GL_LIGHTING);
  g.Disable(GL_ALPHA_TEST);
  if (scene.flags & SceneFlags::DEPTH_BUFFER) {
    g.Enable(GL_DEPTH_TEST);
    g.DepthFunc(GL_LEQUAL);
  }
  Light lights[kMaxShaderLights];
  int light_count = 0;
  gather_lights(scene, lights, light_count);
  int backdrop = -1;
  g_used_shaders = shaders_usable() && choose_programs(scene, lights, light_count, backdrop);
  if (g_used_shaders) {
    float vp_gl[16], inv_gl[16];
    to_gl(vp, vp_gl);
    to_gl(inverse_vp, inv_gl);
    // A transparent background has no backdrop gradient behind the picture.
    draw_shaded(scene, vp_gl, inv_gl, camera, viewport, lights, light_count,
                settings.transparent_background ? -1 : backdrop, settings.transparent_background);
  } else {
    float p_gl[16], e_gl[16];
    to_gl(projection, p_gl);
    to_gl(eye, e_gl);
    draw_fixed(scene, p_gl, e_gl, lights, light_count, settings.transparent_background && gl_shaders_available());
  }
  g.Disable(GL_LIGHTING);
}

}  // namespace orvl
