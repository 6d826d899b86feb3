#include "publish/keygen_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "publish/console.h"
#include "publish/signing_key.h"
#include "publish/site_layout.h"

namespace hv::publish {

const CommandInfo kKeygenCommand = {
    .name = "keygen",
    .summary = "make a new manifest signing key pair",
    .help = R"(usage: halvoryn-publish keygen --out DIR

Makes a new ECDSA P-256 key pair for signing manifests and writes, in DIR (created when missing):
  private.pem   the private key (mode 0600): keep it secret and off the web server
  public.pem    the public key
  public.hex    the 128 hex characters of the public key, the value of the launcher's build
                option HALVORYN_PUBLIC_KEY
Refuses to run when any of the three files exists already.
)",
    .required = {"out"},
};

namespace {

struct KeyFile {
  const char* name;
  mode_t mode;
  std::string bytes;
};

bool WriteNewFile(const std::string& path, const std::string& bytes, mode_t mode,
                  std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  bool written = ::fchmod(fd, mode) == 0;
  for (size_t done = 0; written && done < bytes.size();) {
    const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (count < 0 && errno == EINTR) continue;
    written = count > 0;
    if (written) done += static_cast<size_t>(count);
  }
  written = written && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (!written) {
    error = "cannot write " + path;
    ::unlink(path.c_str());
  }
  return written;
}

bool MakeKeyFiles(std::vector<KeyFile>& files, std::string& hex) {
  SigningKey key;
  PublicPoint point;
  std::string private_pem, public_pem;
  if (!SigningKey::Generate(key) || !key.PrivatePem(private_pem) || !key.PublicPem(public_pem) ||
      !key.Public(point)) {
    return false;
  }
  hex = PointHex(point);
  files = {{"private.pem", 0600, private_pem},
           {"public.pem", 0644, public_pem},
           {"public.hex", 0644, hex + "\n"}};
  return true;
}

}  // namespace

int RunKeygen(const Arguments& args) {
  const std::string& out = args.Get("out");
  if (const std::string problem = PathArgumentProblem("out", out); !problem.empty()) {
    PrintError(problem);
    return kExitUsage;
  }
  std::vector<KeyFile> files;
  std::string hex;
  if (!MakeKeyFiles(files, hex)) {
    PrintError("OpenSSL could not make a P-256 key pair");
    return kExitFailed;
  }
  for (const KeyFile& file : files) {
    const std::string path = out + "/" + file.name;
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0) {
      PrintError(path + " exists already; keys are never overwritten (choose another --out)");
      return kExitFailed;
    }
  }
  if (!EnsurePrivateFolder(out)) {
    PrintError("cannot create the folder " + out);
    return kExitFailed;
  }
  std::vector<std::string> written;
  for (const KeyFile& file : files) {
    std::string error;
    const std::string path = out + "/" + file.name;
    if (!WriteNewFile(path, file.bytes, file.mode, error)) {
      // A pair is usable only whole: take back the files of this run.
      for (const std::string& done : written) ::unlink(done.c_str());
      PrintError(error);
      return kExitFailed;
    }
    written.push_back(path);
  }
  std::printf("wrote %s/private.pem (keep it secret), public.pem and public.hex\n", out.c_str());
  std::printf("public key: %s\n", hex.c_str());
  return kExitOk;
}

}  // namespace hv::publish
