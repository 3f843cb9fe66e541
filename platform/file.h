// Platform file layer: whole-file reads and writes, and the lookup of paths that come from
// data files.
//
// Every input is opened through `open_regular_file`: without blocking (a FIFO with no
// writer or a device would otherwise hang the program) and refused as `not_regular`
// unless the descriptor names a regular file. Every output goes through the atomic
// writer of platform/atomic_file.h; `write_whole_file` is its short form.
//
// LightWave content was made on Windows, so paths inside scene and object files use '\'
// and whatever letter case the author typed. `resolve_data_path` maps '\' to '/' and,
// when the path does not exist as written, matches each component case-insensitively
// against the directory entries. Used by the scene parser, the object loader and the
// image library; nothing here keeps state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvl {

enum class [[nodiscard]] FileStatus : int {
  ok = 0,
  not_found = 1,   // the path does not name a readable regular file
  read_error = 2,  // opened, but reading failed or memory ran out
  too_large = 3,   // larger than the caller's limit
  not_regular = 4, // a directory, FIFO, device or socket
  no_access = 5,   // exists, but permission is denied
};

const char* file_status_text(FileStatus s);

// Largest file any loader reads whole: far above real LightWave content, small enough
// that a hostile size cannot exhaust memory.
constexpr size_t kMaxWholeFileBytes = size_t(1) << 30;

// Opens `path` (as given) read-only for a whole-file read: O_NONBLOCK while opening, then
// fstat on the descriptor. Returns the descriptor (blocking again, close-on-exec) or -1
// with the reason in `status`; `size` receives the file's size.
int open_regular_file(const std::string& path, FileStatus& status, uint64_t* size = nullptr);

// Reads the file at `path` (resolved with resolve_data_path) into `out`.
FileStatus read_whole_file(const std::string& path, std::vector<uint8_t>& out,
                           size_t max_bytes = kMaxWholeFileBytes);

// Writes `size` bytes to `path` atomically (write_file_atomic): on any failure the old
// file is left as it was and `error` receives the reason.
bool write_whole_file(const std::string& path, const void* data, size_t size, std::string* error = nullptr);

// '\' -> '/', then the path as written if it exists, else a case-insensitive match per
// component. Returns the mapped path unchanged when nothing matches.
std::string resolve_data_path(const std::string& path);

// True when resolve_data_path(path) names an existing regular file.
bool data_file_exists(const std::string& path);

// The directory part of a path ("a/b/c.lws" -> "a/b/", "c.lws" -> "").
std::string path_directory(const std::string& path);

// Joins a directory and a relative path; an empty directory leaves the path alone and
// a missing separator is added ("root" + "x" -> "root/x", "root/" + "x" -> "root/x").
std::string path_join(const std::string& dir, const std::string& rel);

}  // namespace orvl
