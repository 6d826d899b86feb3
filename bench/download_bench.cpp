// HttpGetToFile of a 1 GiB file from the local nginx, hashing on the fly, against
// `curl -s -o FILE` of the same URL (which does not hash), in the same run: throughput ratio,
// target >= 0.85; and the peak resident size above idle while downloading, target <= 8 MiB.
// Needs the servers of tests/servers/servers.py ($HV_TEST_SERVERS); `scripts/dev bench` starts
// them. Both write into a memory file system when there is one (/dev/shm), so that the disk's
// write-back, which varies from run to run by seconds, does not decide the figure; runs of the
// two alternate, and the best of each counts. On a machine whose cores are all busy with the
// server and the transfer, the hashing cannot hide behind the network, so the program also
// prints what hashing alone costs there. The Windows build (under Wine) prints its own figure
// alone, for information.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench_util.h"
#include "core/file.h"
#include "core/file_util.h"
#include "core/text.h"
#include "net/http_client.h"
#include "net/sha256.h"

#ifndef _WIN32
#include "core/path_posix.h"
#endif

namespace {

using namespace hv;

constexpr uint64_t kSize = 1024ull * 1024 * 1024;
constexpr double kMiB = 1024.0 * 1024.0;
const std::u16string kName = u"00000000000000000000000000000000000000000000000000000000000b1e55";

struct Setup {
  EngineConfig config;
  std::u16string url;
  std::u16string destination;
};

// Puts the 1 GiB file on the site "bench" once; it stays in the page cache between runs.
bool Prepare(Setup& setup, const std::u16string& scratch) {
  const std::string sites = bench::ServerFact("HV_SITES_DIR");
  const std::string origin = bench::ServerFact("HV_NGINX_ORIGIN");
  if (sites.empty() || origin.empty()) {
    std::fprintf(stderr, "no servers: set HV_TEST_SERVERS (scripts/dev bench does)\n");
    return false;
  }
  const std::u16string file =
      JoinPath(Utf8ToWide(sites), u"bench\\downloads\\launcher\\files\\" + kName);
  uint64_t size = 0, time = 0;
  if (!GetFileSizeAndTime(file, size, time) || size != kSize) {
    EnsureParentDirectory(file);
    File out;
    if (!out.Open(file, File::Access::kCreateAlways)) return false;
    std::string chunk(1 << 20, '\0');
    for (uint64_t done = 0; done < kSize; done += chunk.size()) {
      for (size_t i = 0; i < chunk.size(); i += 4096) chunk[i] = static_cast<char>(done >> 20);
      if (!out.Write(chunk.data(), chunk.size())) return false;
    }
  }
  setup.config.origin = Utf8ToWide(origin) + u"/bench";
  setup.config.launcher_version = "1.0.1";
  setup.config.ca_file = Utf8ToWide(bench::ServerFact("HV_CA_FILE"));
  setup.url = setup.config.origin + u"/downloads/launcher/files/" + kName;
  setup.destination = JoinPath(scratch, u"download.part");
  return true;
}

constexpr int kRounds = 5;

bool Download(const Setup& setup) {
  std::u16string digest;
  return HttpGetToFile(setup.config, setup.url, setup.destination, kSize, digest, nullptr, nullptr,
                       nullptr)
      .ok;
}

#ifndef _WIN32
// The best time of SHA-256 over 1 GiB held in memory (64 KiB pieces, as they arrive).
double HashingSeconds() {
  const std::string piece(64 * 1024, 'h');
  return bench::BestSeconds(3, [&] {
    Sha256Hasher hasher;
    for (uint64_t done = 0; done < kSize; done += piece.size()) hasher.Update(piece.data(), piece.size());
    Sha256Digest digest;
    hasher.Finish(digest);
  });
}


// A fresh process, so that the heap holds nothing but what the download needs.
int Memory() {
  bench::ScratchDir scratch("hv-download-memory", true);
  Setup setup;
  if (!Prepare(setup, scratch.path())) return 1;
  bench::ResetPeakResident();
  const uint64_t idle = bench::ResidentBytes();
  const bool ok = Download(setup);
  std::printf(
      "peak resident while downloading 1 GiB: %.1f MiB above idle %.1f MiB (target <= 8)%s\n",
      static_cast<double>(bench::PeakResidentBytes() - idle) / kMiB,
      static_cast<double>(idle) / kMiB, ok ? "" : " (DOWNLOAD FAILED)");
  return ok ? 0 : 1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
  if (argc > 1 && std::string(argv[1]) == "memory") return Memory();
#endif
  (void)argc;
  (void)argv;
  bench::ScratchDir scratch("hv-download-bench", true);
  Setup setup;
  if (!Prepare(setup, scratch.path())) return 1;
  bool ok = true;
#ifdef _WIN32
  const double ours = bench::BestSeconds(3, [&] { ok = Download(setup) && ok; });
  std::printf("HttpGetToFile of 1 GiB, hashed on the way: %.3f s, %.0f MiB/s%s\n", ours,
              static_cast<double>(kSize) / kMiB / ours, ok ? "" : " (DOWNLOAD FAILED)");
#else
  const std::string command = "curl -s -o '" + NativePath(setup.destination) + "' --cacert '" +
                              WideToUtf8(setup.config.ca_file) + "' '" + WideToUtf8(setup.url) +
                              "'";
  double ours = 1e300, reference = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    ours = std::min(ours, bench::BestSeconds(1, [&] { ok = Download(setup) && ok; }));
    reference = std::min(reference, bench::BestSeconds(1, [&] {
                           if (std::system(command.c_str()) != 0)
                             std::fprintf(stderr, "curl failed\n");
                         }));
  }
  const double hashing = HashingSeconds();
  std::printf("HttpGetToFile of 1 GiB, hashed on the way: %.3f s, %.0f MiB/s%s\n", ours,
              static_cast<double>(kSize) / kMiB / ours, ok ? "" : " (DOWNLOAD FAILED)");
  std::printf("  reference curl -s -o FILE, same URL, no hashing: %.3f s, %.0f MiB/s\n", reference,
              static_cast<double>(kSize) / kMiB / reference);
  std::printf("ratio download throughput / curl = %.2f (target >= 0.85)%s\n", reference / ours,
              reference / ours >= 0.85 ? "" : "  MISSED");
  std::printf(
      "  for information: SHA-256 of 1 GiB in memory alone takes %.3f s here; the local server,\n"
      "  the transfer and the hashing share %u cores; ratio to curl's time plus hashing = %.2f\n",
      hashing, std::thread::hardware_concurrency(), (reference + hashing) / ours);
  std::fflush(stdout);
  if (std::system(("'" + bench::SelfPath() + "' memory").c_str()) != 0)
    std::fprintf(stderr, "memory run failed\n");
#endif
  return ok ? 0 : 1;
}
