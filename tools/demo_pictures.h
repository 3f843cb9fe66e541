// The demo's pictures and the texture references to them. Every picture is computed from
// its coordinates (and a fixed hash), so every run writes the same bytes. Internal to the
// generator (tools/demo_show.h is its manual).
#pragma once

#include <cstdint>
#include <string>

#include "tools/lwob_writer.h"

namespace orvl::demo {

// Projection axes as "TFLG" bits: the image is laid flat across the surface seen along it.
constexpr uint16_t kAxisX = 0x1;
constexpr uint16_t kAxisY = 0x2;
constexpr uint16_t kAxisZ = 0x4;

// Frames of the demo's video (clip0.tga .. clip7.tga).
constexpr int kVideoFrames = 8;

// Image paths inside the objects carry the same 13-character author prefix as the objects.
std::string image_path(const std::string& file);

// A colour texture of `file` (below images/) projected along `axis`.
void colour_image(LwobSurface& s, uint16_t axis, const std::string& file);
// Last in its surface chunk: the reflection block runs to the next texture header.
void reflection_image(LwobSurface& s, const std::string& file);

// Number of pictures write_pictures() writes.
int picture_count();

// Writes every picture the scenes name into `dir`, in all four formats the player reads.
// False with `error` naming the file when one cannot be written.
bool write_pictures(const std::string& dir, std::string& error);

}  // namespace orvl::demo
