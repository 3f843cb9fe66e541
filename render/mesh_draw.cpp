#include "render/mesh_draw.h"

#include <algorithm>
#include <limits>

#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"

namespace orvl {
namespace {

enum class Primitive { none, triangles, lines };

// What is currently set in OpenGL. Changes go through the setters, which skip calls that
// change nothing and close an open primitive first (state changes are illegal inside
// glBegin/glEnd).
class DrawState {
 public:
  DrawState(const GlApi& g, bool depth_buffer, bool coverage_alpha)
      : g_(g), depth_buffer_(depth_buffer), coverage_alpha_(coverage_alpha) {}

  // The known starting point of every frame.
  void start() {
    g_.Disable(GL_LIGHTING);
    lighting_ = false;
    g_.ShadeModel(GL_FLAT);
    flat_ = true;
    g_.Disable(GL_TEXTURE_2D);
    texturing_ = false;
    bound_ = -1;
    g_.BlendFunc(GL_ONE, GL_ONE);
    blend_ = BlendState::additive;
    g_.Disable(GL_BLEND);
    blending_ = false;
    g_.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    replace_ = false;
    if (depth_buffer_) g_.Enable(GL_DEPTH_TEST);
    depth_ = depth_buffer_;
    g_.Begin(GL_TRIANGLES);
    ++frame_state().batches;
    open_ = Primitive::triangles;
  }

  void end() {
    if (open_ != Primitive::none) {
      g_.End();
      open_ = Primitive::none;
    }
  }

  void open_triangles() {
    if (open_ == Primitive::triangles) return;
    end();
    g_.Begin(GL_TRIANGLES);
    ++frame_state().batches;
    open_ = Primitive::triangles;
  }

  void open_lines(float width) {
    if (open_ == Primitive::lines) return;
    end();
    if (line_width_ != width) {
      g_.LineWidth(width);
      line_width_ = width;
    }
    g_.Begin(GL_LINES);
    ++frame_state().batches;
    open_ = Primitive::lines;
  }

  void lighting(bool on) { toggle(GL_LIGHTING, lighting_, on); }
  void texturing(bool on) { toggle(GL_TEXTURE_2D, texturing_, on); }
  void blending(bool on) { toggle(GL_BLEND, blending_, on); }
  // The depth test is only ever touched when the scene draws with a depth buffer.
  void depth_test(bool on) {
    if (depth_buffer_) toggle(GL_DEPTH_TEST, depth_, on);
  }

  void flat_shading(bool flat) {
    if (flat_ == flat) return;
    end();
    g_.ShadeModel(flat ? GL_FLAT : GL_SMOOTH);
    flat_ = flat;
  }

  void replace_mode(bool replace) {
    if (replace_ == replace) return;
    end();
    g_.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, replace ? GL_REPLACE : GL_DECAL);
    replace_ = replace;
  }

  void bind(int16_t texture) {
    if (bound_ == texture) return;
    end();
    g_.BindTexture(GL_TEXTURE_2D, static_cast<GLuint>(static_cast<uint16_t>(texture)));
    bound_ = texture;
  }

  void blend(BlendState state) {
    if (blend_ == state) return;
    end();
    if (coverage_alpha_ && (state == BlendState::translucent || state == BlendState::translucent_add)) {
      g_.BlendFuncSeparate(GL_SRC_ALPHA, state == BlendState::translucent ? GL_ONE_MINUS_DST_ALPHA : GL_ONE_MINUS_SRC_ALPHA,
                           GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
      blend_ = state;
      return;
    }
    switch (state) {
      case BlendState::additive: g_.BlendFunc(GL_ONE, GL_ONE); break;
      case BlendState::translucent: g_.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_DST_ALPHA); break;
      case BlendState::translucent_add: g_.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA); break;
      case BlendState::particle: g_.BlendFunc(GL_SRC_COLOR, GL_DST_ALPHA); break;
      case BlendState::invert: g_.BlendFunc(GL_ONE_MINUS_DST_COLOR, GL_ZERO); break;
    }
    blend_ = state;
  }

  bool depth_buffer() const { return depth_buffer_; }

 private:
  void toggle(GLenum cap, bool& tracked, bool on) {
    if (tracked == on) return;
    end();
    if (on)
      g_.Enable(cap);
    else
      g_.Disable(cap);
    tracked = on;
  }

  const GlApi& g_;
  const bool depth_buffer_;
  const bool coverage_alpha_;
  bool lighting_ = false, flat_ = true, texturing_ = false, blending_ = false;
  bool replace_ = false, depth_ = false;
  int16_t bound_ = -1;
  BlendState blend_ = BlendState::additive;
  Primitive open_ = Primitive::none;
  // Unknown at the start of a frame (GL keeps the last frame's width), so the first
  // outline always sets it.
  float line_width_ = -1.0f;
};


}  // namespace

void radix_sort_keys(SortKey* keys, SortKey* scratch, int32_t* histogram, int count) {
  if (count <= 0) return;
  SortKey* from = keys;
  SortKey* to = scratch;
  for (int shift = 0; shift < 32; shift += 8) {
    for (int d = 0; d < 257; ++d) histogram[d] = 0;
    for (int i = 0; i < count; ++i) ++histogram[((static_cast<uint32_t>(from[i].key) >> shift) & 0xFF) + 1];
    // A digit that every key shares orders nothing (depth keys of one scene mostly share
    // their top byte): the pass is skipped.
    if (histogram[((static_cast<uint32_t>(from[0].key) >> shift) & 0xFF) + 1] == count) continue;
    for (int d = 1; d < 256; ++d) histogram[d] += histogram[d - 1];
    for (int i = 0; i < count; ++i) to[histogram[(static_cast<uint32_t>(from[i].key) >> shift) & 0xFF]++] = from[i];
    SortKey* t = from;
    from = to;
    to = t;
  }
  if (from != keys) std::copy(from, from + count, keys);
}

namespace {

// One queued triangle as the drawing steps read it.
struct EntryView {
  const Triangle& t;
  const Vertex* v[3];
  uint32_t f;        // TriangleFlags
  int16_t texture;   // colour image, -1 none
  int16_t reflection;
  uint8_t alpha;     // the owning object's dissolve level
  float xo;          // the scene's horizontal offset
};

// Blending and depth test by alpha and the additive flag.
void choose_blending(DrawState& st, const EntryView& e) {
  if (e.alpha != 255) {
    st.blending(true);
    st.blend((e.f & TriangleFlags::PARTICLE)   ? BlendState::particle
             : (e.f & TriangleFlags::ADDITIVE) ? BlendState::translucent_add
                                               : BlendState::translucent);
    st.depth_test(false);
  } else if (e.f & TriangleFlags::ADDITIVE) {
    st.blending(true);
    st.blend(BlendState::additive);
    st.depth_test(false);
  } else {
    st.blending(false);
    st.depth_test(true);
  }
}

void color(const GlApi& g, const EntryView& e) { g.Color4ub(e.t.color[0], e.t.color[1], e.t.color[2], e.alpha); }

void vertex(const GlApi& g, const EntryView& e, int k) { g.Vertex3f(e.v[k]->x + e.xo, e.v[k]->y, e.v[k]->z); }

void outline(const GlApi& g, DrawState& st, const EntryView& e) {
  color(g, e);
  st.open_lines(static_cast<float>(e.t.surface ? e.t.surface->line_width : 1));
  const int order[6] = {0, 1, 1, 2, 0, 2};
  for (int k : order) vertex(g, e, k);
}

void draw_textured(const GlApi& g, DrawState& st, const EntryView& e) {
  const Triangle& t = e.t;
  if (e.f & TriangleFlags::INVERT) {
    st.blending(true);
    st.blend(BlendState::invert);
  }
  st.replace_mode((e.f & TriangleFlags::EFFECT_TEXTURE) != 0);
  const bool reflection_only = (e.f & TriangleFlags::REFLECTION) && e.texture == -1;
  const int16_t used = reflection_only ? e.reflection : e.texture;
  float uv[6];
  if (reflection_only) {
    for (int k = 0; k < 3; ++k) {
      uv[2 * k] = (e.v[k]->nx + 1.0f) * 0.5f;
      uv[2 * k + 1] = (e.v[k]->ny + 1.0f) * 0.5f;
    }
  } else {
    const float su = t.surface ? t.surface->scroll_u : 0.f;
    const float sv = t.surface ? t.surface->scroll_v : 0.f;
    for (int k = 0; k < 3; ++k) {
      uv[2 * k] = t.uv[2 * k] + su;
      uv[2 * k + 1] = t.uv[2 * k + 1] + sv;
    }
  }
  st.texturing(true);
  st.bind(used);
  if (e.f & (TriangleFlags::FLAT_LIT | TriangleFlags::SMOOTH_LIT)) {
    st.lighting(true);
    st.flat_shading((e.f & TriangleFlags::FLAT_LIT) != 0);
    color(g, e);
    st.open_triangles();
    for (int k = 0; k < 3; ++k) {
      g.TexCoord2f(uv[2 * k], uv[2 * k + 1]);
      g.Normal3f(e.v[k]->nx, e.v[k]->ny, e.v[k]->nz);
      vertex(g, e, k);
    }
  } else {
    st.lighting(false);
    st.open_triangles();
    color(g, e);
    for (int k = 0; k < 3; ++k) {
      g.TexCoord2f(uv[2 * k], uv[2 * k + 1]);
      vertex(g, e, k);
    }
  }
  if (e.f & TriangleFlags::WIREFRAME) {
    st.lighting(false);
    outline(g, st, e);
  }
}

void draw_untextured(const GlApi& g, DrawState& st, const EntryView& e) {
  st.texturing(false);
  if (e.f & TriangleFlags::WIREFRAME) {
    st.lighting(false);
    outline(g, st, e);
  } else if (e.f & (TriangleFlags::FLAT_LIT | TriangleFlags::SMOOTH_LIT)) {
    st.lighting(true);
    st.flat_shading((e.f & TriangleFlags::FLAT_LIT) != 0);
    color(g, e);
    st.open_triangles();
    for (int k = 0; k < 3; ++k) {
      g.Normal3f(e.v[k]->nx, e.v[k]->ny, e.v[k]->nz);
      vertex(g, e, k);
    }
  } else {
    st.lighting(false);
    color(g, e);
    st.open_triangles();
    for (int k = 0; k < 3; ++k) vertex(g, e, k);
  }
}

// A base texture with a reflection map gets a second, additive pass.
void draw_reflection_pass(const GlApi& g, DrawState& st, const EntryView& e) {
  st.end();
  st.bind(e.reflection);
  st.depth_test(false);
  st.blending(true);
  st.blend(BlendState::additive);
  st.open_triangles();
  for (int k = 0; k < 3; ++k) {
    g.TexCoord2f((e.v[k]->nx + 1.0f) * 0.5f, (e.v[k]->ny + 1.0f) * 0.5f);
    vertex(g, e, k);
  }
}



// Dissolve level of the triangle's owner (255 when it has none).
uint8_t alpha_of(const Triangle& t) { return t.dissolve_ref ? static_cast<uint8_t>(*t.dissolve_ref) : uint8_t(255); }

}  // namespace

uint32_t draw_state_code(const Triangle& t) {
  const uint32_t f = t.flags;
  if (alpha_of(t) != 255) return kFixedPlace;
  if (f & (TriangleFlags::ADDITIVE | TriangleFlags::INVERT | TriangleFlags::WIREFRAME)) return kFixedPlace;
  if (t.texture != -1 && t.reflection_texture != -1) return kFixedPlace;
  uint32_t code = 0;
  const bool lit = (f & (TriangleFlags::FLAT_LIT | TriangleFlags::SMOOTH_LIT)) != 0;
  if (lit) code |= 2u | ((f & TriangleFlags::FLAT_LIT) ? 4u : 0u);
  if (f & TriangleFlags::TEXTURED) {
    const bool reflection_only = (f & TriangleFlags::REFLECTION) && t.texture == -1;
    const int16_t used = reflection_only ? t.reflection_texture : t.texture;
    code |= 1u | ((f & TriangleFlags::EFFECT_TEXTURE) ? 8u : 0u);
    code |= static_cast<uint32_t>(static_cast<uint16_t>(used)) << 4;
  }
  return code;
}

namespace {

// Stable sort of a short run by state code.
void insertion_sort(SortKey* a, int n) {
  for (int i = 1; i < n; ++i) {
    const SortKey x = a[i];
    int j = i;
    for (; j > 0 && static_cast<uint32_t>(a[j - 1].key) > static_cast<uint32_t>(x.key); --j) a[j] = a[j - 1];
    a[j] = x;
  }
}

// Where a triangle can put fragments: the bounding box of its corners projected onto the
// plane at distance 1 in front of the eye (x / -z, y / -z; the frustum maps that plane
// linearly onto the viewport), widened by a margin. A corner on or behind the eye plane
// has no such bound, and neither has a corner that is not a number: the box is then
// everything. Two triangles whose boxes do not meet share no pixel, so their drawing
// order cannot matter.
struct ScreenBox {
  float x0, y0, x1, y1;

  static ScreenBox none() { return {kInf, kInf, -kInf, -kInf}; }
  static ScreenBox all() { return {-kInf, -kInf, kInf, kInf}; }
  bool meets(const ScreenBox& o) const { return x0 <= o.x1 && o.x0 <= x1 && y0 <= o.y1 && o.y0 <= y1; }
  void add(const ScreenBox& o) {
    x0 = std::min(x0, o.x0);
    y0 = std::min(y0, o.y0);
    x1 = std::max(x1, o.x1);
    y1 = std::max(y1, o.y1);
  }

  static constexpr float kInf = std::numeric_limits<float>::infinity();
};

ScreenBox screen_box(const DrawEntry& d, float x_offset, float margin) {
  const Vertex* v[3] = {d.vertex0, d.vertex1, d.vertex2};
  ScreenBox b = ScreenBox::none();
  for (const Vertex* p : v) {
    if (!(p->z < -1e-3f)) return ScreenBox::all();
    const float w = -1.0f / p->z;
    const float x = (p->x + x_offset) * w, y = p->y * w;
    b.add(ScreenBox{x, y, x, y});
  }
  if (!(b.x0 <= b.x1 && b.y0 <= b.y1)) return ScreenBox::all();
  return ScreenBox{b.x0 - margin, b.y0 - margin, b.x1 + margin, b.y1 + margin};
}

// Size of one pixel on the plane at distance 1: the frustum spans 1 unit across the
// shorter side of the viewport (the picture's configured size when no viewport is set),
// 0 when neither is known.
float pixel_size(const Scene& scene) {
  int v[4];
  display_viewport(v);
  int side = std::min(v[2], v[3]);
  if (side <= 0) side = std::min(scene.width, scene.height);
  return side > 0 ? 1.0f / float(side) : 0.0f;
}

// How many runs of fixed-place triangles a movable triangle may be drawn ahead of.
constexpr int kHopLimit = 32;
constexpr int kRing = kHopLimit + 2;

// Builds in `order` (key: state code, index: draw-list index) the drawing order from the
// depth order `keys`. Triangles that must keep their place (kFixedPlace) stay in depth
// order; they split the list into stretches of movable triangles ("pools"). A movable
// triangle joins the earliest pool it can reach: it may pass a run of fixed triangles
// (and up to kHopLimit of them) when its screen box meets none of theirs, because
// triangles that share no pixel draw the same picture in either order. Among movable
// triangles only the depth test decides what shows, except where two fragments have
// exactly equal depth. Each pool is then drawn grouped by state, in depth order inside each
// group, so most state changes and glBegin/glEnd pairs go away. `links` (as many as keys)
// holds each entry's state code and the next member of its pool.
class StateGrouper {
 public:
  StateGrouper(const Scene& scene, const SortKey* keys, SortKey* order, SortKey* links, SortKey* scratch,
               int32_t* histogram)
      : list_(scene.draw.draw_list.data()), keys_(keys), order_(order), links_(links), scratch_(scratch),
        histogram_(histogram), x_offset_(scene.x_offset) {
    const float pixel = pixel_size(scene);
    margin_ = 2.0f * pixel;
    hops_ = pixel > 0 ? kHopLimit : 0;
  }

  void run(int count) {
    constexpr int kAhead = 16;
    open_pool(0);
    bool in_fixed = false;
    for (int n = 0; n < count; ++n) {
      if (n + kAhead < count) __builtin_prefetch(&list_[keys_[n + kAhead].index].state);
      const DrawEntry& d = list_[keys_[n].index];
      const uint32_t code = d.state;
      links_[n] = SortKey{static_cast<int32_t>(code), -1};
      if (code == kFixedPlace) {
        if (!in_fixed) start_fixed_run(n);
        in_fixed = true;
        Run& r = runs_[(runs_started_ - 1) % kRing];
        r.last = n;
        if (hops_ > 0) r.box.add(fixed_box(d));
      } else {
        in_fixed = false;
        join(n, code, d);
      }
    }
    while (emitted_ < runs_started_) emit(emitted_);
    emit_pool(runs_started_);
  }

 private:
  struct Pool {
    int head, tail;
    uint32_t first_code;
    bool mixed;
  };
  struct Run {
    int first, last;
    ScreenBox box;
  };

  ScreenBox fixed_box(const DrawEntry& d) const {
    float margin = margin_;
    // Outlines are lines of the surface's width around the triangle.
    if ((d.triangle->flags & TriangleFlags::WIREFRAME) && d.triangle->surface)
      margin += margin_ * float(std::max(1, int(d.triangle->surface->line_width)));
    return screen_box(d, x_offset_, margin);
  }

  void open_pool(int p) { pools_[p % kRing] = Pool{-1, -1, 0, false}; }

  // A new run of fixed triangles. A pool that no later triangle can reach any more, and
  // whose following run is complete, is final and goes out with that run.
  void start_fixed_run(int n) {
    const int r = runs_started_++;
    runs_[r % kRing] = Run{n, n, ScreenBox::none()};
    open_pool(r + 1);
    while (emitted_ < runs_started_ - std::max(hops_, 1)) emit(emitted_);
  }

  void join(int n, uint32_t code, const DrawEntry& d) {
    int p = runs_started_;
    if (hops_ > 0 && p > emitted_) {
      const ScreenBox box = screen_box(d, x_offset_, margin_);
      while (p > emitted_ && !box.meets(runs_[(p - 1) % kRing].box)) --p;
    }
    Pool& pool = pools_[p % kRing];
    if (pool.head < 0) {
      pool.head = n;
      pool.first_code = code;
    } else {
      links_[pool.tail].index = n;
      pool.mixed |= code != pool.first_code;
    }
    pool.tail = n;
  }

  // Pool p, then the fixed run that follows it.
  void emit(int p) {
    emit_pool(p);
    const Run& r = runs_[p % kRing];
    for (int n = r.first; n <= r.last; ++n) order_[out_++] = SortKey{static_cast<int32_t>(kFixedPlace), keys_[n].index};
    ++emitted_;
  }

  void emit_pool(int p) {
    const Pool& pool = pools_[p % kRing];
    const int start = out_;
    for (int n = pool.head; n >= 0; n = links_[n].index) order_[out_++] = SortKey{links_[n].key, keys_[n].index};
    if (!pool.mixed) return;
    const int len = out_ - start;
    if (len <= 32)
      insertion_sort(order_ + start, len);
    else
      radix_sort_keys(order_ + start, scratch_, histogram_, len);
  }

  const DrawEntry* list_;
  const SortKey* keys_;
  SortKey* order_;
  SortKey* links_;
  SortKey* scratch_;
  int32_t* histogram_;
  float x_offset_;
  float margin_ = 0;
  int hops_ = 0;
  Pool pools_[kRing];
  Run runs_[kRing];
  int runs_started_ = 0;  // runs of fixed triangles seen so far
  int emitted_ = 0;       // pools (each with the run after it) already in `order`
  int out_ = 0;
};

}  // namespace


void draw_frame(Scene& scene, bool exact_order, bool coverage_alpha) {
  const int count = frame_state().draw_count;
  frame_state().triangles = count;
  frame_state().batches = 0;
  if (count <= 0) return;
  DrawBuffers& buffers = scene.draw;
  radix_sort_keys(buffers.sort_keys.data(), buffers.sort_scratch.data(), buffers.sort_histogram.data(), count);

  const GlApi& g = gl();
  const bool depth_buffer = (scene.flags & SceneFlags::DEPTH_BUFFER) != 0;
  DrawState st(g, depth_buffer, coverage_alpha && gl_shaders_available());
  st.start();
  const SortKey* keys = buffers.sort_keys.data();
  const DrawEntry* list = buffers.draw_list.data();
  // Without a depth buffer the painter's order is the picture; buffers smaller than the
  // list (never from a loaded scene) also fall back to it. A frame of one drawing state is
  // grouped already.
  if (depth_buffer && !exact_order && frame_state().mixed_states &&
      buffers.group_order.size() >= static_cast<size_t>(count) &&
      buffers.group_scratch.size() >= static_cast<size_t>(count)) {
    StateGrouper(scene, keys, buffers.group_order.data(), buffers.sort_scratch.data(), buffers.group_scratch.data(),
                 buffers.sort_histogram.data())
        .run(count);
    keys = buffers.group_order.data();
  }
  // Depth order visits the draw list, the triangles and the vertices out of memory order,
  // so on large scenes nearly every entry missed the cache. Two steps of prefetching hide
  // that: the entry 2 x kAhead ahead, then the triangle and vertices of the entry kAhead
  // ahead (whose pointers have arrived by then).
  constexpr int kAhead = 64;
  for (int n = 0; n < count; ++n) {
    if (n + 2 * kAhead < count) {
      const DrawEntry* a = &list[keys[n + 2 * kAhead].index];
      __builtin_prefetch(a);
      __builtin_prefetch(reinterpret_cast<const char*>(a + 1) - 1);
    }
    if (n + kAhead < count) {
      const DrawEntry& a = list[keys[n + kAhead].index];
      __builtin_prefetch(a.triangle);
      __builtin_prefetch(reinterpret_cast<const char*>(a.triangle) + sizeof(Triangle) - 1);
      __builtin_prefetch(a.vertex0);
      __builtin_prefetch(a.vertex1);
      __builtin_prefetch(a.vertex2);
    }
    const DrawEntry& d = list[keys[n].index];
    const Triangle& t = *d.triangle;
    const EntryView e{t,
                      {d.vertex0, d.vertex1, d.vertex2},
                      t.flags,
                      t.texture,
                      t.reflection_texture,
                      alpha_of(t),
                      scene.x_offset};
    choose_blending(st, e);
    if (e.f & TriangleFlags::TEXTURED)
      draw_textured(g, st, e);
    else
      draw_untextured(g, st, e);
    if (e.texture != -1 && e.reflection != -1) draw_reflection_pass(g, st, e);
  }
  st.end();
}

}  // namespace orvl
