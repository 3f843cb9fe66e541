// Program resources: data built into the executable and found by name at run time.
//
// The only raw-data resource is "IDR_BASS", the sound library (see app/sound_output.h),
// embedded when the program is built. Lookups never fail loudly: an unknown name gives an
// empty result and the caller decides what that means.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvl {

struct ResourceBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// The built-in resource called `name`, or {nullptr, 0}.
ResourceBytes find_resource(std::string_view name);

// Anything that can stand in for find_resource (tests substitute their own).
using ResourceProvider = ResourceBytes (*)(std::string_view name);

}  // namespace orvl
