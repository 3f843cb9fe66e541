// Video surfaces: a numbered image sequence loaded before the show and handed out one
// frame per drawn frame.
#include <cstdio>
#include <string>
#include <utility>

#include "effects/effects.h"
#include "platform/log.h"

namespace orvl {
namespace {

VideoState g_video;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

VideoState& video_state() { return g_video; }

bool video_frame_name(const std::string& path, int k, std::string& out) {
  const size_t slash = path.find_last_of("/\\");
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < name_start) return false;
  // The extension runs from the last "." to the end, so ".jpeg" works as well as ".tga".
  size_t base_end = dot;
  while (base_end > name_start && is_digit(path[base_end - 1])) --base_end;
  out.assign(path, 0, base_end);
  out += std::to_string(k);
  out.append(path, dot, std::string::npos);
  return true;
}

EffectStatus video_init(int width, int height, const std::string& frame_path, int count,
                        bool flip) {
  video_free();
  g_video.surface_width = width;
  g_video.surface_height = height;
  std::string name;
  if (!video_frame_name(frame_path, 0, name)) {
    log_line("Video frames " + frame_path + ": the path has no extension; no video.");
    return EffectStatus::bad_frame_path;
  }
  const int shown = count < 1 ? 1 : count > kMaxVideoFrames ? kMaxVideoFrames : count;
  if (count > kMaxVideoFrames) log_format("Video frame count %d cut to %d.", count, kMaxVideoFrames);
  g_video.frame_count = shown;
  g_video.frames.resize(static_cast<size_t>(shown));
  int missing = 0, odd_size = 0, loaded = 0;
  std::string first_missing, first_odd;
  for (int k = 0; k < shown; ++k) {
    (void)video_frame_name(frame_path, k, name);
    VideoFrame& f = g_video.frames[static_cast<size_t>(k)];
    int w = 0, h = 0;
    if (!load_effect_image(name, flip, f.pixels, w, h)) {
      if (missing++ == 0) first_missing = name;
      continue;
    }
    if (loaded == 0) {
      g_video.frame_width = w;
      g_video.frame_height = h;
    } else if (w != g_video.frame_width || h != g_video.frame_height) {
      // One size for the whole sequence: the renderer maps every frame onto the same
      // part of the texture.
      f.pixels = PixelBuffer();
      if (odd_size++ == 0) first_odd = name;
      continue;
    }
    f.width = w;
    f.height = h;
    ++loaded;
  }
  if (missing > 0)
    log_format("Video %s: %d of %d frames could not be loaded (first %s); they are skipped.",
               frame_path.c_str(), missing, shown, first_missing.c_str());
  if (odd_size > 0)
    log_format("Video %s: %d frames differ in size from the first (first %s); they are skipped.",
               frame_path.c_str(), odd_size, first_odd.c_str());
  return loaded > 0 ? EffectStatus::ok : EffectStatus::no_frames;
}

const uint32_t* video_next_frame(int& width, int& height) {
  width = height = 0;
  if (g_video.frames.empty() || g_video.frame_count < 1) return nullptr;
  if (g_video.position < 0 || g_video.position >= g_video.frame_count) g_video.position = 0;
  const VideoFrame& f = g_video.frames[static_cast<size_t>(g_video.position)];
  if (++g_video.position >= g_video.frame_count) g_video.position = 0;
  if (f.pixels.empty()) return nullptr;
  width = f.width;
  height = f.height;
  return f.pixels.data();
}

void video_free() { g_video = VideoState{}; }

// ---- Surface names --------------------------------------------------------------------

int parse_frame_count(const std::string& name, bool* cut) {
  if (cut) *cut = false;
  static const std::string kVideo = "_VIDEO_";
  const size_t at = name.find(kVideo);
  if (at == std::string::npos) return 0;
  const size_t start = at + kVideo.size();
  if (start >= name.size()) return 0;
  // The first character is always taken, even an underscore; then up to the next "_".
  size_t end = name.find('_', start + 1);
  if (end == std::string::npos) end = name.size();
  size_t len = end - start;
  if (len > kMaxFrameCountText) {
    len = kMaxFrameCountText;
    if (cut) *cut = true;
  }
  const std::string text = name.substr(start, len);
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && is_digit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 2147483647LL) value = 2147483647LL;
  }
  return negative ? 0 : static_cast<int>(value);
}

EffectName parse_effect_name(const std::string& name) {
  EffectName r;
  auto has = [&](const char* word) { return name.find(word) != std::string::npos; };
  if (has("_STARFIELD_"))
    r.kind = EffectKind::star_field;
  else if (has("_SINUSDOTS_"))
    r.kind = EffectKind::sinus_dots;
  else if (has("_PLASMA_"))
    r.kind = EffectKind::plasma;
  else if (has("_VIDEO_"))
    r.kind = EffectKind::video;
  if (r.kind == EffectKind::video) {
    r.frame_count = parse_frame_count(name, &r.count_cut);
    r.flip = !has("_STATIC_IMAGE_");
  }
  return r;
}

}  // namespace orvl
