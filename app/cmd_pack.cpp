// `orvl pack create PACK FILE...`, `orvl pack list PACK [--json]` and
// `orvl pack extract PACK DIR [NAME...]`: the FXLK pack archive from the command line.
//
// A pack keeps its names as the writer gave them and the reader only lower-cases them,
// so a pack from elsewhere may name "..\..\x" or "/etc/x". Extraction turns '\' into '/'
// and refuses every name that is empty, absolute or has a ".." component. DIR may already
// hold symbolic links (planted, or from an earlier pack): every directory below DIR is
// opened with O_NOFOLLOW relative to its parent's descriptor and every file is written
// through a temporary created with O_EXCL and renamed into place, so a link is never
// followed and nothing outside DIR is created or changed. `create` refuses unsafe names
// up front for the same reason. Names from the pack are printed with control characters
// escaped, so a name cannot add lines to the output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "app/command.h"
#include "export/json_text.h"
#include "image/file_source.h"
#include "platform/atomic_file.h"
#include "platform/file.h"

namespace {

namespace fs = std::filesystem;
using orvl::FileSource;
using orvl::PackEntry;
using orvl::PackStatus;

constexpr const char* kUsage =
    "pack create PACK FILE... | list PACK [--json] | extract PACK DIR [NAME...]  FXLK pack archives";

int usage() {
  std::fprintf(stderr, "usage: orvl %s\n", kUsage);
  return 2;
}

int pack_error(const std::string& file, PackStatus s, std::string why = {}) {
  if (s == PackStatus::cannot_open && why.empty()) {  // missing, a directory, a FIFO...?
    orvl::FileStatus st = orvl::FileStatus::ok;
    const int fd = orvl::open_regular_file(orvl::resolve_data_path(file), st);
    if (fd >= 0) ::close(fd);
    else why = orvl::file_status_text(st);
  }
  std::fprintf(stderr, "orvl pack: %s: %s (%d)%s%s\n", file.c_str(), orvl::pack_status_text(s), static_cast<int>(s),
               why.empty() ? "" : ": ", why.c_str());
  return 1;
}

// A descriptor closed when it goes out of scope.
struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd, o.fd);
    return *this;
  }
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Writes `bytes` to `rel` (components separated by '/', already checked to be safe) below
// the open directory `root`. Directories are made as needed and entered without following
// links; the file goes through a temporary and a rename. False with the reason in `why`.
bool write_below(int root, const std::string& rel, const std::vector<uint8_t>& bytes, std::string& why) {
  Fd dir(::dup(root));
  if (dir.fd < 0) return why = std::string("cannot be written: ") + std::strerror(errno), false;
  size_t start = 0;
  for (;;) {
    const size_t slash = rel.find('/', start);
    if (slash == std::string::npos) break;
    const std::string comp = rel.substr(start, slash - start);
    start = slash + 1;
    if (comp.empty() || comp == ".") continue;
    if (::mkdirat(dir.fd, comp.c_str(), 0777) != 0 && errno != EEXIST)
      return why = "cannot be written: " + comp + ": " + std::strerror(errno), false;
    Fd next(::openat(dir.fd, comp.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.fd < 0) {
      const int err = errno;
      why = "cannot be written: " + comp +
            (err == ELOOP || err == ENOTDIR ? ": not a directory (a link or a file is in the way)"
                                                   : std::string(": ") + std::strerror(err));
      return false;
    }
    dir = std::move(next);
  }
  orvl::AtomicFile out;
  if (!out.open_at(dir.fd, rel.substr(start), &why)) return false;
  if (!out.write(bytes.data(), bytes.size())) return why = out.error(), false;
  return out.commit(&why);
}

// The entry name as a relative path below the extraction directory, '\' turned into '/';
// empty when the name is unsafe (empty, absolute, a ".." component, or no file name).
std::string safe_relative_path(const std::string& name) {
  std::string path = name;
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.empty() || path.front() == '/' || path.back() == '/') return {};
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return {};
    start = end + 1;
  }
  return path;
}

int run_create(const std::vector<std::string>& args) {
  if (args.size() < 2) return usage();
  const std::string& pack = args[0];
  const std::vector<std::string> files(args.begin() + 1, args.end());
  for (const std::string& f : files) {
    if (safe_relative_path(f).empty()) {
      std::fprintf(stderr, "orvl pack: %s: entry names must be relative paths without \"..\"\n", f.c_str());
      return 1;
    }
    orvl::FileStatus st = orvl::FileStatus::ok;
    const int fd = orvl::open_regular_file(orvl::resolve_data_path(f), st);
    if (fd < 0) {
      std::fprintf(stderr, "orvl pack: %s: %s\n", f.c_str(), orvl::file_status_text(st));
      return 1;
    }
    ::close(fd);
  }
  // The pack is only put in place once it is complete: a failure below leaves an
  // existing PACK as it was and no half-made one.
  FileSource src;
  if (PackStatus s = src.pack_create(pack); s != PackStatus::ok) return pack_error(pack, s, src.pack_write_error());
  for (const std::string& f : files) {
    if (PackStatus s = src.pack_add_file(f); s != PackStatus::ok) return pack_error(f, s);
  }
  uint64_t size = 0, stored = 0;
  for (const PackEntry& e : src.pack_entries()) {
    size += e.size;
    stored += e.stored_size;
  }
  const size_t count = src.pack_entries().size();
  if (PackStatus s = src.pack_close(); s != PackStatus::ok) return pack_error(pack, s, src.pack_write_error());
  std::printf("packed %zu file%s: %llu bytes -> %llu bytes of data\n", count, count == 1 ? "" : "s",
              static_cast<unsigned long long>(size), static_cast<unsigned long long>(stored));
  return 0;
}

const char* method(const PackEntry& e) { return e.compressed() ? "compressed" : "stored"; }

int run_list(std::vector<std::string> args) {
  const bool json = orvl::take_flag(args, "--json");
  if (args.size() != 1) return usage();
  FileSource src;
  if (PackStatus s = src.pack_open(args[0]); s != PackStatus::ok) return pack_error(args[0], s);
  if (json) {
    nlohmann::json entries = nlohmann::json::array();
    for (const PackEntry& e : src.pack_entries())
      entries.push_back({{"name", e.name}, {"size", e.size}, {"stored_size", e.stored_size}, {"method", method(e)}});
    nlohmann::json j = {{"pack", args[0]}, {"entries", entries}};
    std::printf("%s\n", orvl::json_dump(j, 2).c_str());
    return 0;
  }
  std::printf("%10s %10s %-10s %s\n", "size", "stored", "method", "name");
  for (const PackEntry& e : src.pack_entries())
    std::printf("%10u %10u %-10s %s\n", e.size, e.stored_size, method(e), orvl::printable_name(e.name).c_str());
  std::printf("%zu entries\n", src.pack_entries().size());
  return 0;
}

int run_extract(const std::vector<std::string>& args) {
  if (args.size() < 2) return usage();
  const std::string& pack = args[0];
  const fs::path dir = args[1];
  FileSource src;
  if (PackStatus s = src.pack_open(pack); s != PackStatus::ok) return pack_error(pack, s);
  // DIR itself is the user's choice and may be a link; only what lies below it is guarded.
  std::error_code ec;
  fs::create_directories(dir, ec);
  Fd root(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root.fd < 0) {
    std::fprintf(stderr, "orvl pack: %s: %s\n", dir.c_str(), std::strerror(errno));
    return 1;
  }

  // Names asked for are looked up the way the pack looks them up.
  std::set<std::string> wanted;
  for (size_t i = 2; i < args.size(); ++i) wanted.insert(orvl::normalise_pack_name(args[i]));
  std::set<std::string> found;
  int failures = 0;
  std::set<std::string> done;
  for (const PackEntry& e : src.pack_entries()) {
    if (!wanted.empty() && !wanted.count(e.name)) continue;
    found.insert(e.name);
    if (!done.insert(e.name).second) continue;  // a later duplicate is never read either
    const std::string rel = safe_relative_path(e.name);
    if (rel.empty()) {
      std::fprintf(stderr, "orvl pack: %s: %s: refused, the name leads outside the directory\n", pack.c_str(),
                   orvl::printable_name(e.name).c_str());
      ++failures;
      continue;
    }
    const fs::path target = dir / rel;
    std::vector<uint8_t> bytes;
    if (!src.pack_read(e.name, bytes)) {
      std::fprintf(stderr, "orvl pack: %s: %s: cannot be read\n", pack.c_str(), orvl::printable_name(e.name).c_str());
      ++failures;
      continue;
    }
    std::string why;
    if (!write_below(root.fd, rel, bytes, why)) {
      std::fprintf(stderr, "orvl pack: %s: %s\n", orvl::printable_name(target.string()).c_str(),
                   orvl::printable_name(why).c_str());
      ++failures;
      continue;
    }
    std::printf("%s\n", orvl::printable_name(target.string()).c_str());
  }
  for (const std::string& w : wanted) {
    if (!found.count(w)) {
      std::fprintf(stderr, "orvl pack: %s: %s: not in the pack\n", pack.c_str(), orvl::printable_name(w).c_str());
      ++failures;
    }
  }
  return failures ? 1 : 0;
}

int run_pack(const std::vector<std::string>& argv) {
  if (argv.empty()) return usage();
  const std::string mode = argv[0];
  const std::vector<std::string> args(argv.begin() + 1, argv.end());
  if (mode == "create") return run_create(args);
  if (mode == "list") return run_list(args);
  if (mode == "extract") return run_extract(args);
  return usage();
}

const orvl::CommandRegistrar r({"pack", kUsage, run_pack});

}  // namespace
