#include "net/http_client.h"

#include "core/file.h"
#include "core/file_util.h"
#include "core/text.h"
#include "net/background_hasher.h"
#include "net/http_transfer.h"

namespace hv {
namespace {

constexpr size_t kMemoryPiece = 16 * 1024;
constexpr size_t kFilePiece = 64 * 1024;

class MemorySink : public BodySink {
 public:
  MemorySink(std::string& body, uint64_t max_size) : body_(body), max_size_(max_size) {}

  bool Begin(int64_t announced, HttpResult&) override {
    announced_ = announced;
    return true;
  }

  bool Piece(const char* data, size_t size, HttpResult& result) override {
    if (body_.size() + size > max_size_) {
      result.ok = false;
      result.reason = u"too large";
      return false;
    }
    body_.append(data, size);
    return true;
  }

  // A body cut short of its Content-Length is not a body: a manifest or a feed must never be
  // taken from part of one.
  void End(HttpResult& result) override {
    if (result.ok && announced_ >= 0 && body_.size() != static_cast<uint64_t>(announced_)) {
      result.ok = false;
      result.reason = u"size";
    }
  }

 private:
  std::string& body_;
  uint64_t max_size_;
  int64_t announced_ = -1;
};

class FileSink : public BodySink {
 public:
  FileSink(const std::u16string& destination, uint64_t expected, std::u16string& digest_hex,
           ProgressCallback progress, void* user)
      : destination_(destination),
        expected_(expected),
        digest_hex_(digest_hex),
        progress_(progress),
        user_(user) {}

  bool Begin(int64_t, HttpResult& result) override {
    EnsureParentDirectory(destination_);
    if (!file_.Open(destination_, File::Access::kCreateAlways)) {
      result.ok = false;
      result.error = file_.last_error();
      result.reason = u"write";
      return false;
    }
    return true;
  }

  bool Piece(const char* data, size_t size, HttpResult& result) override {
    total_ += size;
    if (total_ > expected_) {
      result.ok = false;
      result.reason = u"size";
      return false;
    }
    if (!file_.Write(data, size)) {
      result.ok = false;
      result.error = file_.last_error();
      result.reason = file_.last_error_is_disk_full() ? u"disk" : u"write";
      return false;
    }
    hasher_.Add(data, size);
    if (progress_) progress_(size, user_);
    return true;
  }

  void End(HttpResult& result) override {
    file_.Close();
    if (result.ok && total_ != expected_) {
      result.ok = false;
      result.reason = u"size";
    }
    if (!result.ok) {
      DeleteFilePath(destination_);  // no partial file survives a failed call
      return;
    }
    Sha256Digest digest;
    digest_hex_ = hasher_.Finish(digest) ? HexLower(digest.data(), digest.size()) : u"";
  }

 private:
  const std::u16string& destination_;
  uint64_t expected_;
  std::u16string& digest_hex_;
  ProgressCallback progress_;
  void* user_;
  File file_;
  BackgroundHasher hasher_;
  uint64_t total_ = 0;
};

}  // namespace

std::u16string UserAgent(const EngineConfig& config) {
  return u"HalvorynLauncher/" + Utf8ToWide(config.launcher_version);
}

HttpResult HttpGetToMemory(const EngineConfig& config, const std::u16string& url, std::string& body,
                           uint64_t max_size, const CancelFlag* cancel) {
  body.clear();
  MemorySink sink(body, max_size);
  return HttpTransfer(config, url, kMemoryPiece, cancel, sink);
}

HttpResult HttpGetToFile(const EngineConfig& config, const std::u16string& url,
                         const std::u16string& destination, uint64_t expected_size,
                         std::u16string& digest_hex, const CancelFlag* cancel,
                         ProgressCallback progress, void* user) {
  FileSink sink(destination, expected_size, digest_hex, progress, user);
  return HttpTransfer(config, url, kFilePiece, cancel, sink);
}

}  // namespace hv
