// Test tool: makes this Wine prefix trust a CA certificate by adding it to the machine's Root
// store, so WinHTTP accepts the local test servers without touching the host's certificates.
//
//   trust_ca_win CA.der
//
// Adding is idempotent (an existing copy is replaced). Exits non-zero with a message on failure.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};

int Fail(const char* what) {
  std::fprintf(stderr, "trust_ca_win: %s failed, error %lu\n", what, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust_ca_win CA.der\n");
    return 2;
  }
  std::ifstream in(std::filesystem::path(argv[1]), std::ios::binary);
  const std::vector<BYTE> der{std::istreambuf_iterator<char>(in), {}};
  if (!in || der.empty()) {
    std::fprintf(stderr, "trust_ca_win: cannot read the certificate file\n");
    return 1;
  }

  const std::unique_ptr<void, StoreCloser> store(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
  if (!store) return Fail("CertOpenStore(LocalMachine Root)");
  if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                        static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    return Fail("CertAddEncodedCertificateToStore");
  }
  std::printf("trust_ca_win: the CA is in the LocalMachine Root store\n");
  return 0;
}
