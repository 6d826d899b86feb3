// Local verification against references measured in the same run:
//   cold: no cache, 1 GiB in 2,000 files, against `openssl dgst -sha256` over the same files
//         (both from the page cache): throughput ratio, target >= 0.9;
//   warm: the cache vouches for 20,000 files, against a bare loop that stats the same files:
//         time ratio, target <= 2;
//   memory: peak resident size while verifying the 1 GiB, above the idle size: target <= 16 MiB.
// The Windows build (run under Wine) prints the cold figure alone, for information.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "core/file.h"
#include "core/file_util.h"
#include "core/text.h"
#include "net/sha256.h"
#include "update/local_verification.h"

#ifndef _WIN32
#include <sys/stat.h>

#include "core/path_posix.h"
#endif

namespace {

using namespace hv;

constexpr double kMiB = 1024.0 * 1024.0;

struct Client {
  bench::ScratchDir dir{"hv-verify-bench"};
  StorageLayout layout;
  Manifest manifest;
};

// count files of size bytes each, in nested folders, with their digests in the manifest.
void MakeClient(Client& client, size_t count, size_t size) {
  client.layout.client_dir = JoinPath(client.dir.path(), u"client");
  client.layout.state_dir = JoinPath(client.dir.path(), u"state");
  EnsureDirectory(client.layout.state_dir);
  std::string content(size, '\0');
  for (size_t i = 0; i < count; ++i) {
    for (size_t b = 0; b < size; b += 64) content[b] = static_cast<char>(i * 31 + b);
    const std::string name = "data/folder-" + std::to_string(i % 40) + "/sub-" +
                             std::to_string(i % 7) + "/file-" + std::to_string(i) + ".bin";
    ManifestEntry entry{Utf8ToWide(name), size, {}};
    for (char16_t& c : entry.path) c = c == u'/' ? u'\\' : c;
    Sha256Digest digest;
    Sha256Buffer(content.data(), content.size(), digest);
    entry.sha256 = HexLower(digest.data(), digest.size());
    bench::WriteBenchFile(JoinPath(client.layout.client_dir, entry.path), content);
    client.manifest.entries.push_back(std::move(entry));
  }
  // In path order, as the publishing tool writes them.
  std::sort(client.manifest.entries.begin(), client.manifest.entries.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
}

#ifndef _WIN32
std::string ManifestText(const Manifest& manifest) {
  std::string text =
      "HALVORYN-MANIFEST 1\nversion 1\nexe " + WideToUtf8(manifest.entries[0].path) + "\n";
  for (const ManifestEntry& entry : manifest.entries) {
    text += "file " + WideToUtf8(entry.sha256) + " " + std::to_string(entry.size) + " " +
            WideToUtf8(entry.path) + "\n";
  }
  return text;
}
#endif

bool Verify(const Client& client) {
  EngineConfig config;
  StatusBoard board;
  CancelFlag cancel{0};
  const Clock clock = SystemClock();
  const LauncherSettings settings(client.layout.state_dir);
  EngineContext context{config, client.layout, settings, board, cancel, clock, nullptr};
  std::vector<const ManifestEntry*> download;
  return VerifyInstalledFiles(context, client.manifest, download) && download.empty();
}

void DropCache(const Client& client) {
  DeleteFilePath(JoinPath(client.layout.state_dir, u"filecache.txt"));
}

#ifndef _WIN32
std::string NativeClientPath(const Client& client, const ManifestEntry& entry) {
  return NativePath(JoinPath(client.layout.client_dir, entry.path));
}

double OpensslSeconds(const Client& client) {
  const std::string list = NativePath(JoinPath(client.dir.path(), u"files.txt"));
  std::string names;
  for (const ManifestEntry& entry : client.manifest.entries) {
    names += NativeClientPath(client, entry) + "\n";
  }
  bench::WriteBenchFile(Utf8ToWide(list), names);
  const std::string command = "xargs -a '" + list + "' openssl dgst -sha256 > /dev/null";
  return bench::BestSeconds(3, [&] {
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "openssl dgst failed\n");
  });
}
#endif

void Cold() {
  constexpr size_t kFiles = 2000, kSize = 512 * 1024;  // 1 GiB
  Client client;
  MakeClient(client, kFiles, kSize);
  const double bytes = static_cast<double>(kFiles * kSize);
  bool ok = true;
  const double ours = bench::BestSeconds(3, [&] {
    DropCache(client);
    ok = ok && Verify(client);
  });
  std::printf("cold verify, 1 GiB in %zu files, no cache: %.3f s, %.0f MiB/s%s\n", kFiles, ours,
              bytes / kMiB / ours, ok ? "" : " (VERIFICATION FAILED)");
#ifndef _WIN32
  const double reference = OpensslSeconds(client);
  std::printf("  reference openssl dgst -sha256, same files: %.3f s, %.0f MiB/s\n", reference,
              bytes / kMiB / reference);
  std::printf("ratio cold throughput / openssl = %.2f (target >= 0.90)\n", reference / ours);

  // Memory in a fresh process: here the heap already holds what building the client left.
  DropCache(client);
  const std::u16string manifest_file = JoinPath(client.dir.path(), u"manifest.txt");
  bench::WriteBenchFile(manifest_file, ManifestText(client.manifest));
  const std::string command = "'" + bench::SelfPath() + "' memory '" + NativePath(client.dir.path()) + "'";
  std::fflush(stdout);
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "memory run failed\n");
#endif
}

#ifndef _WIN32
// The child of Cold(): verifies the client in dir with a manifest read from dir/manifest.txt.
int Memory(const std::string& dir) {
  Client client;
  client.layout.client_dir = JoinPath(Utf8ToWide(dir), u"client");
  client.layout.state_dir = JoinPath(Utf8ToWide(dir), u"state");
  std::string text;
  std::u16string reason;
  if (!ReadWholeFile(JoinPath(Utf8ToWide(dir), u"manifest.txt"), text, 1 << 24) ||
      !ParseManifest(text, client.layout.client_dir, client.manifest, reason)) {
    return 1;
  }
  text = std::string();
  bench::ResetPeakResident();
  const uint64_t idle = bench::ResidentBytes();
  const bool ok = Verify(client);
  const double above = static_cast<double>(bench::PeakResidentBytes() - idle) / kMiB;
  std::printf(
      "peak resident while verifying 1 GiB: %.1f MiB above idle %.1f MiB (target <= 16)%s\n", above,
      static_cast<double>(idle) / kMiB, ok ? "" : " (VERIFICATION FAILED)");
  return ok ? 0 : 1;
}
#endif

#ifndef _WIN32
void Warm() {
  constexpr size_t kFiles = 20000, kSize = 1024;
  Client client;
  MakeClient(client, kFiles, kSize);
  Verify(client);  // writes the cache that vouches for every file
  bool ok = true;
  const double ours = bench::BestSeconds(5, [&] { ok = ok && Verify(client); });
  std::vector<std::string> paths;
  for (const ManifestEntry& entry : client.manifest.entries) {
    paths.push_back(NativeClientPath(client, entry));
  }
  uint64_t sizes = 0;
  const double reference = bench::BestSeconds(5, [&] {
    for (const std::string& path : paths) {
      struct stat info;
      if (::stat(path.c_str(), &info) == 0) sizes += static_cast<uint64_t>(info.st_size);
    }
  });
  std::printf("warm verify, %zu files vouched for by the cache: %.1f ms%s\n", kFiles, ours * 1e3,
              ok ? "" : " (VERIFICATION FAILED)");
  std::printf("  reference stat loop over the same files: %.1f ms\n", reference * 1e3);
  std::printf("ratio warm time / stat loop = %.2f (target <= 2.00)\n", ours / reference);
}
#endif

}  // namespace

// With "cold" or "warm" as the argument, runs that scenario alone (for profiling).
int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
#ifndef _WIN32
  if (only == "memory" && argc > 2) return Memory(argv[2]);
#endif
  if (only.empty() || only == "cold") Cold();
#ifndef _WIN32
  if (only.empty() || only == "warm") Warm();
#endif
  return 0;
}
