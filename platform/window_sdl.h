// SDL2 pieces of the window layer that tests reach directly: the event translation.
#pragma once

#include <SDL2/SDL.h>

#include "platform/window.h"

namespace orvl {

// Virtual-key code of an SDL key (letters as capitals, digits as themselves); 0 when the
// key has none.
uint32_t sdl_virtual_key(SDL_Keycode key);

// Translates one SDL event into window messages, as many as fit in `out` (a key that
// produces a control character gives a key-down and a character; text input gives one
// character per code point). Every event gives at least one message. Returns the count.
int sdl_translate_event(const SDL_Event& e, WindowMessage* out, int capacity);

}  // namespace orvl
