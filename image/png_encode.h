// PNG encoding into memory: the one RGBA encoder of the program. The frame files of
// render/png_writer and the textures the glTF exporter embeds are both made here.
//
// Pixels are 8-bit RGBA, rows top first, `stride` bytes apart; sides up to kMaxPngSide.
// Uses libpng's simplified writer with its default settings (or its fast one). Keeps no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvl {

constexpr int kMaxPngSide = 65535;

// Encodes the picture as an RGBA PNG into `out` (replaced). False with `error` set when the
// size is off or libpng refuses. `fast` trades size for speed (libpng's PNG_IMAGE_FLAG_FAST:
// larger files, written several times faster): the glTF export's textures use it; frame
// files keep the default, so their bytes do not change.
bool png_encode_rgba(const uint8_t* rgba, int width, int height, size_t stride, std::vector<uint8_t>& out,
                     std::string* error = nullptr, bool fast = false);

}  // namespace orvl
