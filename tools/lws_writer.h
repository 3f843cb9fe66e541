// LightWave 5 scene writer: builds ".lws" text in the layout LightWave 5 saves ("LWSC" 1),
// for test fixtures, benchmarks and demo content.
//
// Fill an LwsScene and call write_lws. Objects are mesh objects ("LoadObject") or null
// objects ("AddNullObject"), each with a motion and optional pivot, parent, metamorph and
// dissolve envelopes; lights, the camera (static zoom or a zoom envelope), backdrop and view
// zoom follow. Numbers are written in the shortest form that reads back to the same float,
// never with an exponent. Line ends are CR LF (as LightWave on Windows writes) or LF.
// Nothing is validated: a writer for tests must be able to write odd scenes too.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace orvl {

struct LwsKey {
  std::array<float, 9> value{0, 0, 0, 0, 0, 0, 1, 1, 1};  // X Y Z heading pitch bank, scale
  int frame = 0;
  int linear = 0;
  float tension = 0, continuity = 0, bias = 0;
};

struct LwsEnvelopeKey {
  float value = 0;
  int frame = 0;
  int linear = 0;
  float tension = 0, continuity = 0, bias = 0;
};

struct LwsEnvelope {
  std::vector<LwsEnvelopeKey> keys;
  int end_behavior = 1;
};

struct LwsObject {
  std::string load_path;  // "LoadObject" file name; empty: a null object
  std::string null_name = "Null";
  std::vector<LwsKey> motion{LwsKey{}};
  int end_behavior = 1;
  std::optional<std::array<float, 3>> pivot;
  int parent = 0;  // 1-based object number, 0 none
  std::optional<LwsEnvelope> metamorph;
  int morph_target = 0;  // 1-based, written after the metamorph envelope
  std::optional<LwsEnvelope> dissolve;
};

struct LwsLight {
  std::string name = "Light";
  std::vector<LwsKey> motion{LwsKey{}};
  int end_behavior = 1;
  int parent = 0;
  std::array<int, 3> color{255, 255, 255};
  float intensity = 1.0f;
  int type = 0;  // 0 distant, 1 point, 2 spot
};

struct LwsCamera {
  std::vector<LwsKey> motion{LwsKey{}};
  int end_behavior = 1;
  int parent = 0;
  float zoom_factor = 3.2f;
  std::optional<LwsEnvelope> zoom_envelope;
};

struct LwsScene {
  bool crlf = true;
  bool preview_range = false;  // also write PreviewFirstFrame/PreviewLastFrame/PreviewFrameStep
  float first_frame = 0, last_frame = 60, frame_step = 1, frames_per_second = 30;
  float preview_first = 0, preview_last = 60, preview_step = 1;
  std::vector<LwsObject> objects;
  std::array<int, 3> ambient_color{255, 255, 255};
  float ambient_intensity = 0.25f;
  std::vector<LwsLight> lights;
  LwsCamera camera;
  std::string camera_settings;  // extra lines after the zoom (render settings), "\n" ends
  std::array<int, 3> backdrop_color{0, 0, 0};
  bool write_view_zoom = true;
  float view_zoom_factor = 1.0f;
};

// Shortest decimal text of a float that reads back exactly, without an exponent.
std::string lws_number(float v);

std::string write_lws(const LwsScene& scene);
bool write_lws_file(const std::string& path, const LwsScene& scene);

}  // namespace orvl
