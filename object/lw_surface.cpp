#include "object/lw_surface.h"

namespace orvl {

const char* lw_projection_name(LwProjection p) {
  switch (p) {
    case LwProjection::planar: return "planar";
    case LwProjection::cylindrical: return "cylindrical";
    case LwProjection::spherical: return "spherical";
    case LwProjection::cubic: return "cubic";
    case LwProjection::front: return "front";
    case LwProjection::uv: return "uv";
  }
  return "unknown";
}

const char* lw_wrap_name(LwWrap w) {
  switch (w) {
    case LwWrap::reset: return "reset";
    case LwWrap::repeat: return "repeat";
    case LwWrap::mirror: return "mirror";
    case LwWrap::edge: return "edge";
  }
  return "unknown";
}

const char* lw_channel_name(LwChannel c) {
  switch (c) {
    case LwChannel::color: return "color";
    case LwChannel::diffuse: return "diffuse";
    case LwChannel::specular: return "specular";
    case LwChannel::luminosity: return "luminosity";
    case LwChannel::reflection: return "reflection";
    case LwChannel::transparency: return "transparency";
    case LwChannel::bump: return "bump";
    case LwChannel::glossiness: return "glossiness";
    case LwChannel::other: return "other";
  }
  return "unknown";
}

}  // namespace orvl
