// Which of the two looks a scene is drawn (or exported, or thumbnailed) in.
//
//   engine     the player's own look: the rules the fixed show and the content made for it
//              were authored against (camera-space drawing, the frustum on the model-view
//              matrix, surfaces lit only when their flags say so). Never changes.
//   lightwave  the look LightWave itself defines for ordinary content: left-handed world
//              transforms, a real projection from the zoom factor, per-pixel Lambert and
//              Phong shading from the surface record, distant/point/spot lights, ambient
//              light, exact texture projections, backdrop gradient and fog.
//
// The look is a parameter handed to whoever draws or writes, never a process-wide switch.
// Who picks the default: the fixed show, `orvl` with no arguments and LightWave 5 scenes
// (LWSC 1) keep `engine`; LightWave 6 and later scenes (LWSC 2 to 5) and lone objects take
// `lightwave`. `--look`, `Look=` in Orvl.ini and the panel's check item override it.
#pragma once

#include <cstring>
#include <string>

namespace orvl {

enum class Look : int { engine = 0, lightwave = 1 };

inline const char* look_name(Look look) { return look == Look::lightwave ? "lightwave" : "engine"; }

// "engine" or "lightwave" (any letter case); false for anything else.
inline bool parse_look(const std::string& text, Look& out) {
  std::string lower = text;
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  if (lower == "engine") return out = Look::engine, true;
  if (lower == "lightwave") return out = Look::lightwave, true;
  return false;
}

// The default for a scene of LWSC format `format_version` (1 for LightWave 5 scenes);
// 0 stands for a lone object, which has no scene file of its own.
inline Look default_look_for_format(int format_version) {
  return format_version == 1 ? Look::engine : Look::lightwave;
}

}  // namespace orvl
