// Where the image library gets whole files from.
//
// `Img::load` makes a fresh FileSource for every file. With no pack archive in use (the
// only state this file provides) names are read from disk through the platform file
// layer, so Windows-style paths and letter case from data files resolve as everywhere
// else. A pack archive plugs in behind the same two calls: once a source has a pack in
// use, size_of and read_all answer from the archive instead of the disk (and a name
// missing from the archive is missing, even if a file of that name exists on disk).
// Callers only ever go through these two calls, so that switch stays inside this class.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvl {

class FileSource {
 public:
  // Size of the named file in bytes; 0 when it is missing or unreadable.
  uint32_t size_of(const std::string& name) const;
  // The whole file into `out`; false (and `out` empty) when it is missing, unreadable
  // or empty.
  bool read_all(const std::string& name, std::vector<uint8_t>& out) const;
};

}  // namespace orvl
