#include "scene/lwsc.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace orvl {

namespace {

constexpr double kDegreesToRadians = 3.14159265358979323846 / 180.0;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// Splits off the first blank-separated word of `s` (which keeps the rest, trimmed).
std::string_view take_word(std::string_view& s) {
  s = trim(s);
  size_t n = 0;
  while (n < s.size() && !is_blank(s[n])) ++n;
  std::string_view w = s.substr(0, n);
  s = trim(s.substr(n));
  return w;
}

bool parse_double(std::string_view w, double& v) {
  if (!w.empty() && w.front() == '+') w.remove_prefix(1);
  const auto r = std::from_chars(w.data(), w.data() + w.size(), v);
  return r.ec == std::errc() && r.ptr == w.data() + w.size() && std::isfinite(v);
}

bool parse_float(std::string_view w, float& v) {
  double d = 0;
  if (!parse_double(w, d) || std::fabs(d) > 3.0e38) return false;
  v = static_cast<float>(d);
  return true;
}

bool parse_int(std::string_view w, int& v) {
  const auto r = std::from_chars(w.data(), w.data() + w.size(), v);
  return r.ec == std::errc() && r.ptr == w.data() + w.size();
}

bool parse_hex_id(std::string_view w, uint32_t& v) {
  if (w.empty() || w.size() > 8) return false;
  const auto r = std::from_chars(w.data(), w.data() + w.size(), v, 16);
  return r.ec == std::errc() && r.ptr == w.data() + w.size();
}

// Reads `n` numbers from `s` into `out`; false when fewer are there or one is not a number.
bool parse_floats(std::string_view s, float* out, int n) {
  for (int i = 0; i < n; ++i)
    if (!parse_float(take_word(s), out[i])) return false;
  return true;
}

class Reader {
 public:
  Reader(const uint8_t* text, size_t size, LwscScene& out, const LwscLimits& limits)
      : out_(out), limits_(limits) {
    const char* p = reinterpret_cast<const char*>(text);
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
      if (i == size || p[i] == '\n') {
        if (i > start || i < size) lines_.emplace_back(p + start, i - start);
        start = i + 1;
      }
    }
  }

  LwscStatus run() {
    if (lines_.empty() || trim(lines_[0]) != "LWSC") return LwscStatus::not_lwsc;
    int version = 0;
    if (lines_.size() < 2 || !parse_int(trim(lines_[1]), version)) return fail(LwscStatus::not_lwsc, 1);
    if (version < 2 || version > 5) return fail(LwscStatus::unsupported_version, 1);
    out_.version = version;
    line_ = 2;
    while (line_ < lines_.size()) {
      if (LwscStatus s = statement(); s != LwscStatus::ok) return s;
    }
    resolve_parents();
    return LwscStatus::ok;
  }

 private:
  LwscStatus fail(LwscStatus s, size_t line) {
    out_.error_line = static_cast<uint32_t>(line + 1);
    return s;
  }
  LwscStatus fail(LwscStatus s) { return fail(s, line_ < lines_.size() ? line_ : lines_.size() - 1); }

  std::string_view current() const { return trim(lines_[line_]); }

  // Steps over a block whose opening line is the current one, through its closing brace.
  LwscStatus skip_block() {
    const size_t open = line_;
    int depth = 0;
    while (line_ < lines_.size()) {
      const std::string_view l = current();
      if (!l.empty() && l.front() == '{') ++depth;
      else if (!l.empty() && l.front() == '}') --depth;
      ++line_;
      if (depth == 0) return LwscStatus::ok;
    }
    return fail(LwscStatus::bad_syntax, open);
  }

  LwscItem* item() { return out_.items.empty() ? nullptr : &out_.items.back(); }

  LwscStatus add_item(LwscItemKind kind, std::string_view rest) {
    if (out_.items.size() >= limits_.max_items) return fail(LwscStatus::too_many);
    LwscItem it;
    it.kind = kind;
    if (kind == LwscItemKind::object) {
      std::string_view layer = take_word(rest);
      if (!parse_int(layer, it.layer)) return fail(LwscStatus::bad_syntax);
    }
    // An optional eight-digit hex id, when more text follows it (the path or name).
    std::string_view probe = rest;
    const std::string_view first = take_word(probe);
    uint32_t id = 0;
    const bool needs_text = kind == LwscItemKind::object || kind == LwscItemKind::null_object;
    if (first.size() == 8 && parse_hex_id(first, id) && (!needs_text || !probe.empty())) {
      it.id = id;
      rest = probe;
    } else {
      const uint32_t group = kind == LwscItemKind::light ? 2u : kind == LwscItemKind::camera ? 3u : 1u;
      it.id = group << 28 | next_index_[group]++;
    }
    it.path = std::string(rest);
    out_.items.push_back(std::move(it));
    return LwscStatus::ok;
  }

  LwscStatus behaviour(std::string_view w, EnvBehavior& b) {
    int v = 0;
    if (!parse_int(w, v) || v < 0 || v >= kEnvBehaviorCount) return fail(LwscStatus::bad_syntax);
    b = static_cast<EnvBehavior>(v);
    return LwscStatus::ok;
  }

  // Counts promised by the text are checked against what is left of it before anything
  // is reserved for them.
  LwscStatus count_line(size_t per_entry, int& n) {
    if (line_ >= lines_.size() || !parse_int(current(), n) || n < 0) return fail(LwscStatus::bad_syntax);
    ++line_;
    if (static_cast<uint64_t>(n) * per_entry > lines_.size() - line_) return fail(LwscStatus::bad_syntax);
    if (out_.keys.size() + static_cast<uint64_t>(n) > limits_.max_keys) return fail(LwscStatus::too_many);
    return LwscStatus::ok;
  }

  void sort_keys(const LwscEnvelope& e) {
    std::stable_sort(out_.keys.begin() + e.first_key, out_.keys.begin() + e.first_key + e.key_count,
                     [](const EnvKey& a, const EnvKey& b) { return a.time < b.time; });
  }

  // "{ Envelope", key count, Key lines, Behaviors, "}"; the current line is the opening.
  LwscStatus envelope(int32_t& index) {
    const size_t open = line_;
    std::string_view head = current();
    head.remove_prefix(1);
    if (trim(head) != "Envelope") return fail(LwscStatus::bad_syntax);
    ++line_;
    int n = 0;
    if (LwscStatus s = count_line(1, n); s != LwscStatus::ok) return s;
    LwscEnvelope e;
    e.first_key = static_cast<uint32_t>(out_.keys.size());
    for (int i = 0; i < n; ++i, ++line_) {
      std::string_view l = current();
      if (take_word(l) != "Key") return fail(LwscStatus::bad_syntax);
      EnvKey k;
      int shape = 0;
      if (!parse_float(take_word(l), k.value) || !parse_float(take_word(l), k.time) ||
          !parse_int(take_word(l), shape) || shape < 0 || shape >= kSpanShapeCount)
        return fail(LwscStatus::bad_syntax);
      k.shape = static_cast<SpanShape>(shape);
      for (float& p : k.p) {
        const std::string_view w = take_word(l);
        if (w.empty()) break;
        if (!parse_float(w, p)) return fail(LwscStatus::bad_syntax);
      }
      out_.keys.push_back(k);
    }
    e.key_count = static_cast<uint32_t>(n);
    // Behaviors, then anything a later LightWave adds, up to the closing brace.
    int depth = 1;
    while (line_ < lines_.size()) {
      std::string_view l = current();
      if (!l.empty() && l.front() == '{') ++depth;
      else if (!l.empty() && l.front() == '}') --depth;
      else if (depth == 1 && take_word(l) == "Behaviors") {
        if (LwscStatus s = behaviour(take_word(l), e.pre); s != LwscStatus::ok) return s;
        if (LwscStatus s = behaviour(take_word(l), e.post); s != LwscStatus::ok) return s;
      }
      ++line_;
      if (depth == 0) break;
    }
    if (depth != 0) return fail(LwscStatus::bad_syntax, open);
    sort_keys(e);
    index = static_cast<int32_t>(out_.envelopes.size());
    out_.envelopes.push_back(e);
    return LwscStatus::ok;
  }

  // A value that is either a number on its line or "(envelope)" and a block after it.
  LwscStatus animated(std::string_view rest, float& value, int32_t& env) {
    if (trim(rest) == "(envelope)") {
      ++line_;
      if (line_ >= lines_.size() || current().empty() || current().front() != '{')
        return fail(LwscStatus::bad_syntax);
      return envelope(env);
    }
    if (!parse_float(take_word(rest), value)) return fail(LwscStatus::bad_syntax);
    env = -1;
    ++line_;
    return LwscStatus::ok;
  }

  // Version 3+: "NumChannels n" then n "Channel c" + envelope pairs (read one at a time by
  // the statement loop, so other lines may sit between them).
  LwscStatus channel(std::string_view rest) {
    LwscItem* it = item();
    int c = 0;
    if (!it || !parse_int(take_word(rest), c) || c < 0 || c >= it->channel_count)
      return fail(LwscStatus::bad_syntax);
    ++line_;
    if (line_ >= lines_.size() || current().empty() || current().front() != '{')
      return fail(LwscStatus::bad_syntax);
    int32_t env = -1;
    if (LwscStatus s = envelope(env); s != LwscStatus::ok) return s;
    it->channels[c] = env;
    return LwscStatus::ok;
  }

  // Version 2: the channel count, then per channel a key count and keys of six numbers
  // (value, time, shape code, tension, continuity, bias), then one line of pre/post pairs.
  LwscStatus compact_motion() {
    LwscItem* it = item();
    if (!it) return fail(LwscStatus::bad_syntax);
    ++line_;
    int channels = 0;
    if (LwscStatus s = count_line(1, channels); s != LwscStatus::ok) return s;
    if (channels > kLwscChannels) return fail(LwscStatus::bad_syntax);
    it->channel_count = channels;
    const size_t first_env = out_.envelopes.size();
    for (int c = 0; c < channels; ++c) {
      int n = 0;
      if (LwscStatus s = count_line(1, n); s != LwscStatus::ok) return s;
      LwscEnvelope e;
      e.first_key = static_cast<uint32_t>(out_.keys.size());
      e.key_count = static_cast<uint32_t>(n);
      const bool degrees = c >= 3 && c <= 5;
      for (int i = 0; i < n; ++i, ++line_) {
        float f[6];
        if (!parse_floats(current(), f, 6)) return fail(LwscStatus::bad_syntax);
        if (f[2] != 2.0f) return fail(LwscStatus::unsupported_shape);
        EnvKey k;
        k.value = degrees ? static_cast<float>(f[0] * kDegreesToRadians) : f[0];
        k.time = f[1];
        k.shape = SpanShape::tcb;
        k.p[0] = f[3];
        k.p[1] = f[4];
        k.p[2] = f[5];
        out_.keys.push_back(k);
      }
      sort_keys(e);
      it->channels[c] = static_cast<int32_t>(out_.envelopes.size());
      out_.envelopes.push_back(e);
    }
    if (line_ < lines_.size()) {
      std::string_view l = current();
      if (take_word(l) == "Pre/PostBehavior") {
        for (int c = 0; c < channels; ++c) {
          LwscEnvelope& e = out_.envelopes[first_env + c];
          if (behaviour(take_word(l), e.pre) != LwscStatus::ok ||
              behaviour(take_word(l), e.post) != LwscStatus::ok)
            return LwscStatus::bad_syntax;
        }
        ++line_;
      }
    }
    return LwscStatus::ok;
  }

  LwscStatus colour(std::string_view rest, float rgb[3]) {
    if (!parse_floats(rest, rgb, 3)) return fail(LwscStatus::bad_syntax);
    if (out_.version == 2)
      for (int i = 0; i < 3; ++i) rgb[i] /= 255.0f;
    ++line_;
    return LwscStatus::ok;
  }

  LwscStatus number(std::string_view rest, double& v) {
    if (!parse_double(take_word(rest), v)) return fail(LwscStatus::bad_syntax);
    ++line_;
    return LwscStatus::ok;
  }
  LwscStatus number(std::string_view rest, float& v) {
    if (!parse_float(take_word(rest), v)) return fail(LwscStatus::bad_syntax);
    ++line_;
    return LwscStatus::ok;
  }

  LwscStatus statement() {
    std::string_view rest = current();
    if (rest.empty()) {
      ++line_;
      return LwscStatus::ok;
    }
    if (rest.front() == '{' || rest.front() == '}') {
      // A stray closing brace has no block to end.
      if (rest.front() == '}') return fail(LwscStatus::bad_syntax);
      return skip_block();
    }
    const std::string_view kw = take_word(rest);
    LwscItem* it = item();
    if (kw == "Plugin") {
      const size_t open = line_;
      for (++line_; line_ < lines_.size(); ++line_) {
        std::string_view l = current();
        if (take_word(l) == "EndPlugin") {
          ++line_;
          return LwscStatus::ok;
        }
      }
      return fail(LwscStatus::bad_syntax, open);
    }
    if (kw == "LoadObjectLayer") {
      const LwscStatus s = add_item(LwscItemKind::object, rest);
      ++line_;
      return s;
    }
    if (kw == "LoadObject") {
      std::string with_layer = "1 " + std::string(rest);
      const LwscStatus s = add_item(LwscItemKind::object, with_layer);
      ++line_;
      return s;
    }
    if (kw == "AddNullObject" || kw == "AddLight" || kw == "AddCamera") {
      const LwscItemKind k = kw == "AddNullObject" ? LwscItemKind::null_object
                             : kw == "AddLight"    ? LwscItemKind::light
                                                   : LwscItemKind::camera;
      const LwscStatus s = add_item(k, rest);
      ++line_;
      return s;
    }
    if (kw == "FirstFrame") return number(rest, out_.first_frame);
    if (kw == "LastFrame") return number(rest, out_.last_frame);
    if (kw == "FrameStep") return number(rest, out_.frame_step);
    if (kw == "FramesPerSecond") return number(rest, out_.frames_per_second);
    if (kw == "AmbientColor") return colour(rest, out_.ambient_color);
    if (kw == "AmbientIntensity" || kw == "AmbIntensity") return number(rest, out_.ambient_intensity);
    if (kw == "BackdropColor") return colour(rest, out_.backdrop_color);
    if (!it) {
      ++line_;
      return LwscStatus::ok;  // scene settings this player does not use
    }
    if (kw == "ObjectMotion" || kw == "LightMotion" || kw == "CameraMotion") {
      if (out_.version == 2) return compact_motion();
      ++line_;
      return LwscStatus::ok;
    }
    if (kw == "NumChannels") {
      int n = 0;
      if (!parse_int(take_word(rest), n) || n < 0 || n > kLwscChannels) return fail(LwscStatus::bad_syntax);
      it->channel_count = n;
      ++line_;
      return LwscStatus::ok;
    }
    if (kw == "Channel") return channel(rest);
    if (kw == "ParentItem") {
      if (!parse_hex_id(take_word(rest), it->parent_id)) return fail(LwscStatus::bad_syntax);
      it->has_parent = true;
      ++line_;
      return LwscStatus::ok;
    }
    if (kw == "ParentObject") {
      // The LightWave 5 form, a 1-based object number.
      int n = 0;
      if (!parse_int(take_word(rest), n) || n < 1) return fail(LwscStatus::bad_syntax);
      it->has_parent = true;
      it->parent_id = 0x10000000u | static_cast<uint32_t>(n - 1);
      ++line_;
      return LwscStatus::ok;
    }
    if (kw == "PivotPosition" || kw == "PivotPoint") {
      if (!parse_floats(rest, it->pivot, 3)) return fail(LwscStatus::bad_syntax);
      ++line_;
      return LwscStatus::ok;
    }
    if (kw == "ObjectDissolve") return animated(rest, it->dissolve, it->dissolve_envelope);
    if (kw == "LightIntensity" || kw == "LgtIntensity") return animated(rest, it->intensity, it->intensity_envelope);
    if (kw == "ZoomFactor") return animated(rest, it->zoom, it->zoom_envelope);
    if (kw == "LightColor") return colour(rest, it->color);
    if (kw == "LightType") {
      if (!parse_int(take_word(rest), it->light_type)) return fail(LwscStatus::bad_syntax);
      ++line_;
      return LwscStatus::ok;
    }
    if (kw == "LightName" || kw == "CameraName") {
      it->name = std::string(rest);
      ++line_;
      return LwscStatus::ok;
    }
    ++line_;
    return LwscStatus::ok;
  }

  void resolve_parents() {
    for (size_t i = 0; i < out_.items.size(); ++i) {
      LwscItem& it = out_.items[i];
      if (!it.has_parent) continue;
      for (size_t j = 0; j < out_.items.size(); ++j)
        if (j != i && out_.items[j].id == it.parent_id) {
          it.parent = static_cast<int>(j);
          break;
        }
    }
  }

  LwscScene& out_;
  const LwscLimits& limits_;
  std::vector<std::string_view> lines_;
  size_t line_ = 0;
  uint32_t next_index_[4] = {0, 0, 0, 0};
};

}  // namespace

const char* lwsc_status_text(LwscStatus s) {
  switch (s) {
    case LwscStatus::ok: return "ok";
    case LwscStatus::not_lwsc: return "not a LightWave scene";
    case LwscStatus::unsupported_version: return "unsupported LWSC version";
    case LwscStatus::bad_syntax: return "damaged LWSC scene";
    case LwscStatus::too_many: return "LWSC scene exceeds a capacity";
    case LwscStatus::unsupported_shape: return "LWSC 2 key of unknown span shape";
  }
  return "unknown";
}

const char* lwsc_item_kind_name(LwscItemKind k) {
  switch (k) {
    case LwscItemKind::object: return "object";
    case LwscItemKind::null_object: return "null";
    case LwscItemKind::light: return "light";
    case LwscItemKind::camera: return "camera";
  }
  return "unknown";
}

double LwscScene::evaluate(int32_t e, double seconds) const {
  if (e < 0 || static_cast<size_t>(e) >= envelopes.size()) return 0;
  const LwscEnvelope& env = envelopes[e];
  if (size_t(env.first_key) + env.key_count > keys.size()) return 0;
  return envelope_evaluate(keys.data() + env.first_key, static_cast<int>(env.key_count), env.pre,
                           env.post, seconds);
}

int lwsc_version(const uint8_t* text, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(text), text ? size : 0);
  size_t nl = all.find('\n');
  if (nl == std::string_view::npos || trim(all.substr(0, nl)) != "LWSC") return 0;
  std::string_view rest = all.substr(nl + 1);
  const size_t nl2 = rest.find('\n');
  int v = 0;
  if (!parse_int(trim(rest.substr(0, nl2)), v) || v <= 0) return 0;
  return v;
}

LwscStatus lwsc_read(const uint8_t* text, size_t size, LwscScene& out, const LwscLimits& limits) {
  out = LwscScene();
  if (!text) return LwscStatus::not_lwsc;
  Reader reader(text, size, out, limits);
  const LwscStatus s = reader.run();
  if (s != LwscStatus::ok) {
    const uint32_t line = out.error_line;
    out = LwscScene();
    out.error_line = line;
  }
  return s;
}

}  // namespace orvl
