#include "app/message_box.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvl {
namespace {

std::function<void(const MessageBoxRequest&)>& handler() {
  static std::function<void(const MessageBoxRequest&)> h;
  return h;
}

bool display_available() {
  const char* forced = std::getenv("ORVL_MESSAGE_BOX");
  if (forced && std::strcmp(forced, "stderr") == 0) return false;
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

Uint32 sdl_flags(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::warning: return SDL_MESSAGEBOX_WARNING;
    case MessageIcon::information: return SDL_MESSAGEBOX_INFORMATION;
    case MessageIcon::error: break;
  }
  return SDL_MESSAGEBOX_ERROR;
}

}  // namespace

void message_box_show(const std::string& text, const std::string& title, MessageIcon icon) {
  if (handler()) {
    handler()({text, title, icon});
    return;
  }
  if (display_available() &&
      SDL_ShowSimpleMessageBox(sdl_flags(icon), title.c_str(), text.c_str(), nullptr) == 0)
    return;
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  std::fflush(stderr);
}

void message_box_set_handler(std::function<void(const MessageBoxRequest&)> h) {
  handler() = std::move(h);
}

}  // namespace orvl
