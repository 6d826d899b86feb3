#include "support/test_servers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "core/file_util.h"
#include "core/text.h"
#include "support/test_files.h"
#include "support/test_keys.h"

namespace hv::test {

bool LoadTestServers(TestServers& servers) {
  const char* dir = std::getenv("HV_TEST_SERVERS");
  if (!dir) {
    ADD_FAILURE() << "HV_TEST_SERVERS is not set: run this test through ctest, whose fixture "
                     "\"servers\" starts the local HTTPS servers";
    return false;
  }
  std::string text;
  if (!ReadWholeFile(JoinPath(Utf8ToWide(dir), u"servers.env"), text, 1 << 20)) {
    ADD_FAILURE() << "cannot read " << dir << "/servers.env";
    return false;
  }
  std::map<std::string, std::u16string> facts;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(begin, end - begin);
    const size_t equals = line.find('=');
    if (equals != std::string::npos)
      facts[line.substr(0, equals)] = Utf8ToWide(line.substr(equals + 1));
    begin = end + 1;
  }
  servers.sites_dir = facts["HV_SITES_DIR"];
  servers.nginx_origin = facts["HV_NGINX_ORIGIN"];
  servers.fault_origin = facts["HV_FAULT_ORIGIN"];
  servers.fault_old_tls_origin = facts["HV_FAULT_OLD_TLS_ORIGIN"];
  servers.fault_untrusted_origin = facts["HV_FAULT_UNTRUSTED_ORIGIN"];
  servers.fault_wrong_host_origin = facts["HV_FAULT_WRONG_HOST_ORIGIN"];
  servers.silent_origin = facts["HV_SILENT_ORIGIN"];
  servers.fault_bodies_dir = facts["HV_FAULT_BODIES_DIR"];
  servers.ca_file = facts["HV_CA_FILE"];
  servers.nginx_access_log = facts["HV_NGINX_ACCESS_LOG"];
  const bool complete = !servers.sites_dir.empty() && !servers.nginx_origin.empty() &&
                        !servers.fault_origin.empty() && !servers.ca_file.empty();
  if (!complete) ADD_FAILURE() << "servers.env lacks facts";
  return complete;
}

EngineConfig TestEngineConfig(const TestServers& servers, const std::u16string& origin) {
  EngineConfig config;
  config.origin = origin;
  config.launcher_version = "1.0.1";
  config.ca_file = servers.ca_file;
  config.public_key = DevelopmentPublicKey();
  return config;
}

TestSite MakeTestSite(const TestServers& servers, const std::string& name) {
  // Unique across the test programs and runs that share one fixture.
  static std::atomic<unsigned> counter{0};
  const std::string unique =
      name + "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
      "-" + std::to_string(counter++);
  TestSite site{JoinPath(servers.sites_dir, Utf8ToWide(unique)),
                servers.nginx_origin + u"/" + Utf8ToWide(unique)};
  EnsureDirectory(JoinPath(site.dir, u"downloads\\launcher\\files"));
  return site;
}

std::vector<std::string> RequestedPaths(const TestServers& servers, const std::string& prefix,
                                        size_t expected) {
  std::vector<std::string> paths;
  for (int attempt = 0; attempt < 50; ++attempt) {
    paths.clear();
    const std::string log = ReadFileRaw(servers.nginx_access_log);
    const std::string marker = "GET " + prefix;
    for (size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
      const size_t end = log.find(' ', at + 4);
      paths.push_back(log.substr(at + 4, end - at - 4));
    }
    if (paths.size() >= expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return paths;
}

}  // namespace hv::test
