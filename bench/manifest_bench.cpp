// ParseManifest on a generated manifest of the largest accepted size (16 MiB, about 100,000
// entries in nested folders), against a reference that only splits the same text into lines and
// decodes each file line's path: the least any parser must do.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "bench_report.h"
#include "core/text.h"
#include "update/manifest.h"
#include "update/manifest_copies.h"

namespace {

const std::u16string kClient = u"/games/halvoryn/client";

std::string Hex(std::mt19937_64& random) {
  static const char digits[] = "0123456789abcdef";
  std::string hex(64, '0');
  for (char& c : hex) c = digits[random() % 16];
  return hex;
}

// Realistic client trees: a few top folders, nested folders by category and id, long names.
const std::string& GeneratedManifest() {
  static const std::string text = [] {
    std::mt19937_64 random(42);
    const char* tops[] = {"data/things",    "data/sprites",        "data/sounds/ambient",
                          "mods/community", "data/maps/continent", "modules/game_interface/images"};
    const char* kinds[] = {"sheet", "creature-outfit", "item-animation", "tile-border", "effect"};
    std::string out =
        "HALVORYN-MANIFEST 1\nversion 2.14.0\nmin_version 2.10.0\n"
        "launcher_min 1.0.1\nexe bin\\otclient.exe\n"
        "notes_pt Nova vers\xC3\xA3o\\ncom mapas\nnotes_en New version\\nwith maps\n"
        "privacy_url https://halvoryn.example/privacy\n";
    out += "file " + Hex(random) + " 18874368 bin/otclient.exe\n";
    for (size_t i = 0;; ++i) {
      char line[400];
      const int length = std::snprintf(
          line, sizeof line, "file %s %llu %s/%s-%03zu/variant-%02zu/%s-%06zu-%s.png\n",
          Hex(random).c_str(), static_cast<unsigned long long>(random() % 5000000), tops[i % 6],
          kinds[(i / 7) % 5], (i / 100) % 1000, i % 37, kinds[i % 5], i,
          (i % 3) ? "high-resolution" : "low");
      if (out.size() + static_cast<size_t>(length) > hv::kMaxManifestText) break;
      out.append(line, static_cast<size_t>(length));
    }
    return out;
  }();
  return text;
}

void BM_ParseManifest(benchmark::State& state) {
  const std::string& text = GeneratedManifest();
  size_t entries = 0;
  for (auto _ : state) {
    auto manifest = std::make_unique<hv::Manifest>();
    std::u16string reason;
    if (!hv::ParseManifest(text, kClient, *manifest, reason)) state.SkipWithError("rejected");
    entries = manifest->entries.size();
    benchmark::DoNotOptimize(manifest.get());
    // Freeing the result is the caller's business, not the parse's.
    state.PauseTiming();
    manifest.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["MiB"] = static_cast<double>(text.size()) / (1024.0 * 1024.0);
}

void BM_SplitLinesAndDecodePaths(benchmark::State& state) {
  const std::string_view text = GeneratedManifest();
  for (auto _ : state) {
    size_t units = 0;
    for (size_t begin = 0; begin < text.size();) {
      size_t end = text.find('\n', begin);
      if (end == std::string_view::npos) end = text.size();
      const std::string_view line = text.substr(begin, end - begin);
      if (line.starts_with("file ")) {
        const size_t path = line.find(' ', line.find(' ', 5) + 1);
        units += hv::Utf8ToWide(line.substr(path + 1)).size();
      }
      begin = end + 1;
    }
    benchmark::DoNotOptimize(units);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_ParseManifest)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SplitLinesAndDecodePaths)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  return hv::bench::RunAndReport(
      argc, argv,
      {{"BM_ParseManifest", "BM_SplitLinesAndDecodePaths",
        "parse time over the bare line split; target: 16 MiB in under 80 ms, >= 200 MB/s"}});
}
