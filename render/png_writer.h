// PNG files of rendered frames: the frame sink for headless runs, and the reader that
// picture tests use to look at what was written.
//
// Pixels are 8-bit RGBA, rows top first. Written files are RGBA PNGs. Sizes up to
// 65535 on a side; anything else is refused with a message. Called by whoever renders to
// pictures; keeps no state beyond a sink's own directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/png_encode.h"
#include "render/display.h"

namespace orvl {

// Writes `rgba` (rows `stride` bytes apart) to `path`. False with `error` set on failure.
bool png_write_rgba(const std::string& path, const uint8_t* rgba, int width, int height,
                    size_t stride, std::string* error = nullptr);

// Writes a rendered frame (RGBA as read back, rows `stride` bytes apart) as an opaque RGB
// PNG: the alpha left in the framebuffer by blending is not part of the picture.
bool png_write_frame(const std::string& path, const uint8_t* rgba, int width, int height, size_t stride,
                     std::string* error = nullptr);

// Reads any PNG as RGBA, rows top first. False with `error` set on failure.
bool png_read_rgba(const std::string& path, std::vector<uint8_t>& rgba, int& width, int& height,
                   std::string* error = nullptr);

// A sink that writes every frame to `directory`/`prefix`NNNNNN.png (six-digit frame index).
// A write failure is logged once and the sink keeps trying with later frames.
FrameSink png_frame_sink(const std::string& directory, const std::string& prefix = "frame_");

}  // namespace orvl
