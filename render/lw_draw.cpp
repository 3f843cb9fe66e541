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

constexpr int kMaxLights = 8;
constexpr int kFloatsPerVertex = 14;  // world xyz, world normal, object xyz, face normal, uv

// Attribute slots, bound before linking.
enum Attr : GLuint { A_WORLD = 0, A_NORMAL = 1, A_OBJECT = 2, A_FACE = 3, A_UV = 4 };

const char* const kVertexShader = R"(#version 120
attribute vec3 a_world;
attribute vec3 a_normal;
attribute vec3 a_object;
attribute vec3 a_face;
attribute vec2 a_uv;
uniform mat4 u_view_projection;
uniform int u_backdrop;
varying vec3 v_world;
varying vec3 v_normal;
varying vec3 v_object;
varying vec3 v_face;
varying vec2 v_uv;
void main() {
  v_world = a_world;
  v_normal = a_normal;
  v_object = a_object;
  v_face = a_face;
  v_uv = a_uv;
  if (u_backdrop == 1) gl_Position = vec4(a_world.xy, 0.999999, 1.0);
  else gl_Position = u_view_projection * vec4(a_world, 1.0);
}
)";

const char* const kFragmentShader = R"(#version 120
uniform int u_backdrop;
uniform mat4 u_inverse_view_projection;
uniform vec3 u_zenith, u_sky, u_ground, u_nadir;
uniform vec4 u_squeeze;
uniform vec3 u_camera;
uniform int u_light_count;
uniform int u_light_type[8];
uniform vec3 u_light_position[8];
uniform vec3 u_light_direction[8];
uniform vec3 u_light_color[8];
uniform vec3 u_light_spot[8];     // cone, edge, unused (radians)
uniform vec3 u_light_falloff[8];  // type, range
uniform vec3 u_ambient;
uniform vec3 u_color;
uniform vec4 u_levels;  // diffuse, specular, luminosity, gloss exponent
uniform vec3 u_extra;   // colour highlights, opacity, double sided
uniform vec4 u_fog;     // on, min distance, max distance, unused
uniform vec4 u_fog_amount;
uniform vec3 u_fog_color;
uniform int u_texture_on;
uniform int u_projection;  // 0 planar 1 cylindrical 2 spherical 3 cubic 4 front 5 uv
uniform int u_axis;
uniform int u_world_coordinates;
uniform mat4 u_texture_matrix;  // object (or world) position -> texture space (centred, rotated)
uniform vec3 u_texture_size;
uniform vec4 u_wrap_count;
uniform int u_wrap_u;  // 0 reset 1 repeat 2 mirror 3 edge
uniform int u_wrap_v;
uniform vec4 u_coverage;
uniform vec4 u_viewport;
uniform sampler2D u_texture;
varying vec3 v_world;
varying vec3 v_normal;
varying vec3 v_object;
varying vec3 v_face;
varying vec2 v_uv;

const float PI = 3.14159265358979;

vec3 backdrop(vec3 dir) {
  float e = clamp(dir.y / max(length(dir), 1e-20), -1.0, 1.0);
  if (e >= 0.0) return mix(u_sky, u_zenith, pow(e, 1.0 / max(u_squeeze.x, 0.01)));
  return mix(u_ground, u_nadir, pow(-e, 1.0 / max(u_squeeze.y, 0.01)));
}

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
  vec3 position = u_world_coordinates == 1 ? v_world : v_object;
  vec3 q = (u_texture_matrix * vec4(position, 1.0)).xyz;  // centred and rotated
  vec3 p = q / u_texture_size;
  if (u_projection == 5) {
    st = v_uv;
  } else if (u_projection == 4) {
    st = (gl_FragCoord.xy - u_viewport.xy) / u_viewport.zw;
    st.y = 1.0 - st.y;
  } else if (u_projection == 0) {
    st = planar(p, u_axis);
  } else if (u_projection == 3) {
    vec3 n = abs(v_face);
    int axis = (n.x >= n.y && n.x >= n.z) ? 0 : (n.y >= n.z ? 1 : 2);
    st = planar(p, axis);
  } else {
    // Axis-aligned to the Y case: (x, y, z) with y along the axis.
    vec3 a = u_axis == 0 ? vec3(q.z, q.x, -q.y) : (u_axis == 1 ? vec3(-q.x, q.y, q.z) : vec3(-q.x, q.z, -q.y));
    float s = longitude(a.x, a.z) * u_wrap_count.x;
    s = unseam(s, u_wrap_count.x);
    if (u_projection == 1) {
      float h = u_axis == 0 ? p.x : (u_axis == 1 ? p.y : p.z);
      st = vec2(s, 0.5 - h);
    } else {
      float lat = atan(a.y, length(a.xz));
      st = vec2(s, (0.5 - lat / PI) * u_wrap_count.y);
    }
  }
  bool outside = false;
  st.x = wrap(st.x, u_wrap_u, outside);
  st.y = wrap(st.y, u_wrap_v, outside);
  st *= u_coverage.xy;
  return !outside;
}

void main() {
  if (u_backdrop == 1) {
    vec4 far = u_inverse_view_projection * vec4(v_world.xy, 1.0, 1.0);
    vec4 near = u_inverse_view_projection * vec4(v_world.xy, -1.0, 1.0);
    gl_FragColor = vec4(backdrop(far.xyz / far.w - near.xyz / near.w), 1.0);
    return;
  }
  vec3 color = u_color;
  if (u_texture_on == 1) {
    vec2 st;
    if (texture_coordinate(st)) color = texture2D(u_texture, st).rgb;
  }
  vec3 to_eye = u_camera - v_world;
  float eye_distance = length(to_eye);
  vec3 V = eye_distance > 0.0 ? to_eye / eye_distance : vec3(0.0, 0.0, -1.0);
  vec3 N = normalize(v_normal);
  if (u_extra.z > 0.5 && dot(N, V) < 0.0) N = -N;
  vec3 diffuse = u_ambient;
  vec3 specular = vec3(0.0);
  vec3 tint = mix(vec3(1.0), color, u_extra.x);
  for (int i = 0; i < 8; ++i) {
    if (i >= u_light_count) break;
    vec3 L;
    float k = 1.0;
    if (u_light_type[i] == 0) {
      L = -u_light_direction[i];
    } else {
      vec3 d = u_light_position[i] - v_world;
      float dist = length(d);
      L = dist > 0.0 ? d / dist : vec3(0.0, 0.0, -1.0);
      if (u_light_type[i] == 2) {
        float theta = acos(clamp(dot(-L, u_light_direction[i]), -1.0, 1.0));
        float cone = u_light_spot[i].x;
        float inner = cone - u_light_spot[i].y;
        k *= theta <= inner ? 1.0 : 1.0 - smoothstep(inner, cone, theta);
      }
      float range = u_light_falloff[i].y;
      if (u_light_falloff[i].x > 0.5 && range > 0.0) {
        if (u_light_falloff[i].x < 1.5) k *= max(0.0, 1.0 - dist / range);
        else if (u_light_falloff[i].x < 2.5) k *= min(1.0, range / max(dist, 1e-20));
        else k *= min(1.0, (range * range) / max(dist * dist, 1e-20));
      }
    }
    float lambert = max(0.0, dot(N, L));
    diffuse += u_light_color[i] * (k * lambert);
    if (u_levels.y > 0.0 && lambert > 0.0) {
      vec3 R = reflect(-L, N);
      specular += u_light_color[i] * tint * (k * pow(max(0.0, dot(R, V)), u_levels.w));
    }
  }
  vec3 out_color = color * u_levels.z + color * u_levels.x * diffuse + u_levels.y * specular;
  out_color = clamp(out_color, 0.0, 1.0);
  if (u_fog.x > 0.5) {
    float f = clamp((eye_distance - u_fog.y) / max(u_fog.z - u_fog.y, 1e-20), 0.0, 1.0);
    out_color = mix(out_color, u_fog_color, clamp(mix(u_fog_amount.x, u_fog_amount.y, f), 0.0, 1.0));
  }
  gl_FragColor = vec4(out_color, u_extra.y);
}
)";

// Uniform locations, looked up once per program.
struct Uniforms {
  GLint view_projection, backdrop, inverse_view_projection, zenith, sky, ground, nadir, squeeze, camera;
  GLint light_count, light_type, light_position, light_direction, light_color, light_spot, light_falloff;
  GLint ambient, color, levels, extra, fog, fog_amount, fog_color;
  GLint texture_on, projection, axis, world_coordinates, texture_matrix, texture_size, wrap_count, wrap_u, wrap_v,
      coverage, viewport, texture;
};

struct ProgramState {
  uint32_t serial = UINT32_MAX;  // display_open_serial the program belongs to
  bool tried = false;
  bool ok = false;
  GLuint program = 0;
  Uniforms u{};
};

ProgramState g_program;
bool g_used_shaders = false;

// One group of consecutive vertices of one object and surface.
struct Batch {
  int object = 0;
  const Surface* surface = nullptr;
  int first = 0;
  int count = 0;
};

std::vector<float> g_vertices;
std::vector<Batch> g_batches;
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

GLuint compile(GLenum type, const char* source, std::string& log) {
  const GlApi& g = gl();
  const GLuint shader = g.CreateShader(type);
  if (!shader) return log = "glCreateShader gave no shader", 0;
  g.ShaderSource(shader, 1, &source, nullptr);
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

// Builds the program for the current context once; false when shaders cannot be had.
bool ensure_program() {
  const uint32_t serial = display_open_serial();
  if (g_program.tried && g_program.serial == serial) return g_program.ok;
  g_program = ProgramState{};
  g_program.serial = serial;
  g_program.tried = true;
  if (!gl_shaders_available()) {
    {
      log_line("This OpenGL has no shaders (GL 2.0): the lightwave look is drawn with fixed-function lighting.");
    }
    return false;
  }
  const GlApi& g = gl();
  std::string log;
  const GLuint vs = compile(GL_VERTEX_SHADER, kVertexShader, log);
  const GLuint fs = vs ? compile(GL_FRAGMENT_SHADER, kFragmentShader, log) : 0;
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
  if (!program) {
    {
      log_line("The lightwave look's shaders do not build (" + log + "): drawn with fixed-function lighting.");
    }
    return false;
  }
  g_program.program = program;
  g_program.ok = true;
  Uniforms& u = g_program.u;
  auto at = [&](const char* name) { return g.GetUniformLocation(program, name); };
  u.view_projection = at("u_view_projection");
  u.backdrop = at("u_backdrop");
  u.inverse_view_projection = at("u_inverse_view_projection");
  u.zenith = at("u_zenith");
  u.sky = at("u_sky");
  u.ground = at("u_ground");
  u.nadir = at("u_nadir");
  u.squeeze = at("u_squeeze");
  u.camera = at("u_camera");
  u.light_count = at("u_light_count");
  u.light_type = at("u_light_type");
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
  u.texture_on = at("u_texture_on");
  u.projection = at("u_projection");
  u.axis = at("u_axis");
  u.world_coordinates = at("u_world_coordinates");
  u.texture_matrix = at("u_texture_matrix");
  u.texture_size = at("u_texture_size");
  u.wrap_count = at("u_wrap_count");
  u.wrap_u = at("u_wrap_u");
  u.wrap_v = at("u_wrap_v");
  u.coverage = at("u_coverage");
  u.viewport = at("u_viewport");
  u.texture = at("u_texture");
  return true;
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

// Fills the vertex array with every triangle that shows; returns the farthest distance of
// a fed vertex from the camera.
double feed(Scene& scene, const double camera[3]) {
  g_batches.clear();
  size_t needed = 0;
  for (int i = 0; i < scene.object_count; ++i) needed += size_t(std::max(0, scene.objects[i].polygon_count)) * 3;
  if (g_vertices.size() < needed * kFloatsPerVertex) g_vertices.resize(needed * kFloatsPerVertex);
  size_t surfaces = 0;
  for (int i = 0; i < scene.object_count; ++i) surfaces += scene.objects[i].surfaces.size();
  if (g_batches.capacity() < surfaces) g_batches.reserve(surfaces);

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
    const size_t polygons = std::min(size_t(o.polygon_count), o.polygons.size());
    for (const Surface& surface : o.surfaces) {
      const int first = vertex;
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
        for (int k = 0; k < 3; ++k) {
          float* out = &g_vertices[size_t(vertex) * kFloatsPerVertex];
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
          if (std::isfinite(d)) farthest = std::max(farthest, d);
          ++vertex;
        }
      }
      if (vertex > first) g_batches.push_back(Batch{i, &surface, first, vertex - first});
    }
  }
  return farthest;
}

void gather_lights(const Scene& scene, Light* lights, int& count) {
  count = 0;
  const int n = std::min<int>({scene.light_count, int(scene.lw.lights.size()), int(g_pose.light_world.size())});
  for (int i = 0; i < n && count < kMaxLights; ++i) {
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

// `coverage`: the alpha channel gathers coverage (a + (1 - a) dst) for a picture with a
// transparent background, where plain blending would leave a^2 over it.
void set_blend(const Surface& s, bool transparent, bool coverage) {
  const GlApi& g = gl();
  if (!transparent) {
    g.Disable(GL_BLEND);
    g.DepthMask(GL_TRUE);
    return;
  }
  g.Enable(GL_BLEND);
  g.DepthMask(GL_FALSE);
  const GLenum destination = s.lw.additive ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA;
  if (coverage) g.BlendFuncSeparate(GL_SRC_ALPHA, destination, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  else g.BlendFunc(GL_SRC_ALPHA, destination);
}

void draw_shaded(Scene& scene, const float view_projection[16], const float inverse_vp[16], const double camera[3],
                 const int viewport[4], bool transparent_background) {
  const GlApi& g = gl();
  const Uniforms& u = g_program.u;
  g.UseProgram(g_program.program);
  g.UniformMatrix4fv(u.view_projection, 1, GL_FALSE, view_projection);
  g.UniformMatrix4fv(u.inverse_view_projection, 1, GL_FALSE, inverse_vp);
  g.Uniform3f(u.camera, float(camera[0]), float(camera[1]), float(camera[2]));
  g.Uniform4f(u.viewport, float(viewport[0]), float(viewport[1]), float(std::max(1, viewport[2])),
              float(std::max(1, viewport[3])));
  g.Uniform1i(u.texture, 0);
  g.ActiveTexture(GL_TEXTURE0);

  const LwSceneInfo& info = scene.lw;
  const LwBackdrop& b = info.backdrop;
  if (!b.solid && !transparent_background) {
    static const float quad[6 * kFloatsPerVertex] = {-1, -1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  //
                                                     1,  -1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  //
                                                     1,  1,  0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  //
                                                     -1, -1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  //
                                                     1,  1,  0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0,  //
                                                     -1, 1,  0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0};
    g.Uniform1i(u.backdrop, 1);
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
  g.Uniform1i(u.backdrop, 0);

  Light lights[kMaxLights];
  int light_count = 0;
  gather_lights(scene, lights, light_count);
  g.Uniform1i(u.light_count, light_count);
  if (light_count > 0) {
    GLint types[kMaxLights];
    float pos[kMaxLights * 3], dir[kMaxLights * 3], col[kMaxLights * 3], spot[kMaxLights * 3], fall[kMaxLights * 3];
    for (int i = 0; i < light_count; ++i) {
      types[i] = lights[i].type;
      std::copy(lights[i].position, lights[i].position + 3, pos + i * 3);
      std::copy(lights[i].direction, lights[i].direction + 3, dir + i * 3);
      std::copy(lights[i].color, lights[i].color + 3, col + i * 3);
      std::copy(lights[i].spot, lights[i].spot + 3, spot + i * 3);
      std::copy(lights[i].falloff, lights[i].falloff + 3, fall + i * 3);
    }
    g.Uniform1iv(u.light_type, light_count, types);
    g.Uniform3fv(u.light_position, light_count, pos);
    g.Uniform3fv(u.light_direction, light_count, dir);
    g.Uniform3fv(u.light_color, light_count, col);
    g.Uniform3fv(u.light_spot, light_count, spot);
    g.Uniform3fv(u.light_falloff, light_count, fall);
  }
  const float amb = info.ambient_intensity;
  g.Uniform3f(u.ambient, info.ambient_color[0] * amb, info.ambient_color[1] * amb, info.ambient_color[2] * amb);
  const LwFog& fog = info.fog;
  g.Uniform4f(u.fog, fog.type != 0 ? 1.f : 0.f, fog.min_distance * scene.scale, fog.max_distance * scene.scale, 0);
  g.Uniform4f(u.fog_amount, fog.min_amount, fog.max_amount, 0, 0);
  g.Uniform3f(u.fog_color, fog.color[0], fog.color[1], fog.color[2]);

  const GLsizei stride = kFloatsPerVertex * sizeof(float);
  const float* base = g_vertices.data();
  const GLuint attrs[5] = {A_WORLD, A_NORMAL, A_OBJECT, A_FACE, A_UV};
  for (GLuint a : attrs) g.EnableVertexAttribArray(a);
  g.VertexAttribPointer(A_WORLD, 3, GL_FLOAT, GL_FALSE, stride, base);
  g.VertexAttribPointer(A_NORMAL, 3, GL_FLOAT, GL_FALSE, stride, base + 3);
  g.VertexAttribPointer(A_OBJECT, 3, GL_FLOAT, GL_FALSE, stride, base + 6);
  g.VertexAttribPointer(A_FACE, 3, GL_FLOAT, GL_FALSE, stride, base + 9);
  g.VertexAttribPointer(A_UV, 2, GL_FLOAT, GL_FALSE, stride, base + 12);

  for (int pass = 0; pass < 2; ++pass) {
    for (const Batch& batch : g_batches) {
      const Surface& s = *batch.surface;
      const float dissolve = batch.object < int(g_pose.dissolve.size()) ? g_pose.dissolve[size_t(batch.object)] : 0.f;
      const bool transparent = surface_transparent(s, dissolve);
      if (transparent != (pass == 1)) continue;
      const LwSurfaceParams& p = s.lw;
      set_blend(s, transparent, transparent_background);
      g.Uniform3f(u.color, p.color[0], p.color[1], p.color[2]);
      g.Uniform4f(u.levels, p.diffuse, p.specular, p.luminosity, p.gloss_exponent);
      g.Uniform3f(u.extra, p.color_highlights, (1.f - p.transparency) * (1.f - dissolve), p.double_sided ? 1.f : 0.f);
      const LwTextureLayer* layer = nullptr;
      const GLuint texture = surface_texture(scene, s, &layer);
      g.Uniform1i(u.texture_on, texture ? 1 : 0);
      if (texture) {
        g.BindTexture(GL_TEXTURE_2D, texture);
        if (layer) {
          float tm[16];
          to_gl(texture_matrix(*layer), tm);
          g.Uniform1i(u.projection, int(layer->projection));
          g.Uniform1i(u.axis, layer->axis);
          g.Uniform1i(u.world_coordinates, layer->world_coordinates ? 1 : 0);
          g.UniformMatrix4fv(u.texture_matrix, 1, GL_FALSE, tm);
          g.Uniform3f(u.texture_size, layer->size[0], layer->size[1], layer->size[2]);
          g.Uniform4f(u.wrap_count, layer->wrap_width, layer->wrap_height, 0, 0);
          g.Uniform1i(u.wrap_u, GLint(layer->wrap_u));
          g.Uniform1i(u.wrap_v, GLint(layer->wrap_v));
          const bool full = layer->coverage[0] > 0 && layer->coverage[1] > 0;
          g.Uniform4f(u.coverage, full ? layer->coverage[0] : 1.f, full ? layer->coverage[1] : 1.f, 0, 0);
        } else {
          // A 2D effect: the engine's own texture coordinates.
          static const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
          g.Uniform1i(u.projection, int(LwProjection::uv));
          g.UniformMatrix4fv(u.texture_matrix, 1, GL_FALSE, identity);
          g.Uniform3f(u.texture_size, 1, 1, 1);
          g.Uniform4f(u.wrap_count, 1, 1, 0, 0);
          g.Uniform1i(u.wrap_u, 1);
          g.Uniform1i(u.wrap_v, 1);
          g.Uniform4f(u.coverage, 1, 1, 0, 0);
        }
      }
      g.DrawArrays(GL_TRIANGLES, batch.first, batch.count);
    }
  }
  for (GLuint a : attrs) g.DisableVertexAttribArray(a);
  g.UseProgram(0);
  g.Disable(GL_BLEND);
  g.DepthMask(GL_TRUE);
}

// Fixed-function fallback: the same geometry, matrices and lights, per-vertex lighting.
// `coverage`: as set_blend's (only where the separate blend function exists).
void draw_fixed(Scene& scene, const float projection[16], const float view[16], bool coverage) {
  const GlApi& g = gl();
  g.MatrixMode(GL_PROJECTION);
  g.PushMatrix();
  g.LoadMatrixf(projection);
  g.MatrixMode(GL_MODELVIEW);
  g.PushMatrix();
  g.LoadMatrixf(view);
  Light lights[kMaxLights];
  int light_count = 0;
  gather_lights(scene, lights, light_count);
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
  for (int pass = 0; pass < 2; ++pass) {
    for (const Batch& batch : g_batches) {
      const Surface& s = *batch.surface;
      const float dissolve = batch.object < int(g_pose.dissolve.size()) ? g_pose.dissolve[size_t(batch.object)] : 0.f;
      const bool transparent = surface_transparent(s, dissolve);
      if (transparent != (pass == 1)) continue;
      const LwSurfaceParams& p = s.lw;
      set_blend(s, transparent, coverage);
      const float alpha = (1.f - p.transparency) * (1.f - dissolve);
      const GLfloat dif[4] = {p.color[0] * p.diffuse, p.color[1] * p.diffuse, p.color[2] * p.diffuse, alpha};
      const GLfloat emi[4] = {p.color[0] * p.luminosity, p.color[1] * p.luminosity, p.color[2] * p.luminosity, 1};
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
        g.Vertex3f(f[0], f[1], f[2]);
      }
      g.End();
    }
  }
  g.Disable(GL_BLEND);
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

  g.Disable(GL_TEXTURE_2D);
  g.Disable(GL_CULL_FACE);
  g.Disable(GL_LIGHTING);
  g.Disable(GL_ALPHA_TEST);
  if (scene.flags & SceneFlags::DEPTH_BUFFER) {
    g.Enable(GL_DEPTH_TEST);
    g.DepthFunc(GL_LEQUAL);
  }
  g_used_shaders = ensure_program();
  if (g_used_shaders) {
    float vp_gl[16], inv_gl[16];
    to_gl(vp, vp_gl);
    to_gl(inverse_vp, inv_gl);
    draw_shaded(scene, vp_gl, inv_gl, camera, viewport, settings.transparent_background);
  } else {
    float p_gl[16], e_gl[16];
    to_gl(projection, p_gl);
    to_gl(eye, e_gl);
    draw_fixed(scene, p_gl, e_gl, settings.transparent_background && gl_shaders_available());
  }
  g.Disable(GL_LIGHTING);
}

}  // namespace orvl
