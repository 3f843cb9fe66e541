// `orvl pack create PACK FILE...`, `orvl pack list PACK [--json]` and
// `orvl pack extract PACK DIR [NAME...]`: the FXLK pack archive from the command line.
//
// A pack keeps its names as the writer gave them and the reader only lower-cases them,
// so a pack from elsewhere may name "..\..\x" or "/etc/x". Extraction turns '\' into '/'
// and refuses every name that is empty, absolute or has a ".." component: nothing is
// ever written outside DIR. `create` refuses such names up front for the same reason.
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "app/command.h"
#include "image/file_source.h"
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

int pack_error(const std::string& file, PackStatus s) {
  std::fprintf(stderr, "orvl pack: %s: %s (%d)\n", file.c_str(), orvl::pack_status_text(s), static_cast<int>(s));
  return 1;
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
    if (!orvl::data_file_exists(f)) {
      std::fprintf(stderr, "orvl pack: %s: %s\n", f.c_str(), orvl::file_status_text(orvl::FileStatus::not_found));
      return 1;
    }
  }
  FileSource src;
  if (PackStatus s = src.pack_create(pack); s != PackStatus::ok) return pack_error(pack, s);
  for (const std::string& f : files) {
    if (PackStatus s = src.pack_add_file(f); s != PackStatus::ok) {
      (void)src.pack_close();
      std::error_code ec;
      fs::remove(pack, ec);  // no half-made pack is left behind
      return pack_error(f, s);
    }
  }
  uint64_t size = 0, stored = 0;
  for (const PackEntry& e : src.pack_entries()) {
    size += e.size;
    stored += e.stored_size;
  }
  const size_t count = src.pack_entries().size();
  if (PackStatus s = src.pack_close(); s != PackStatus::ok) return pack_error(pack, s);
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
    std::printf("%s\n", j.dump(2).c_str());
    return 0;
  }
  std::printf("%10s %10s %-10s %s\n", "size", "stored", "method", "name");
  for (const PackEntry& e : src.pack_entries())
    std::printf("%10u %10u %-10s %s\n", e.size, e.stored_size, method(e), e.name.c_str());
  std::printf("%zu entries\n", src.pack_entries().size());
  return 0;
}

int run_extract(const std::vector<std::string>& args) {
  if (args.size() < 2) return usage();
  const std::string& pack = args[0];
  const fs::path dir = args[1];
  FileSource src;
  if (PackStatus s = src.pack_open(pack); s != PackStatus::ok) return pack_error(pack, s);

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
                   e.name.c_str());
      ++failures;
      continue;
    }
    const fs::path target = dir / rel;
    std::vector<uint8_t> bytes;
    if (!src.pack_read(e.name, bytes)) {
      std::fprintf(stderr, "orvl pack: %s: %s: cannot be read\n", pack.c_str(), e.name.c_str());
      ++failures;
      continue;
    }
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec || !orvl::write_whole_file(target.string(), bytes.data(), bytes.size())) {
      std::fprintf(stderr, "orvl pack: %s: cannot be written\n", target.string().c_str());
      ++failures;
      continue;
    }
    std::printf("%s\n", target.string().c_str());
  }
  for (const std::string& w : wanted) {
    if (!found.count(w)) {
      std::fprintf(stderr, "orvl pack: %s: %s: not in the pack\n", pack.c_str(), w.c_str());
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
