// The local HTTPS servers that the ctest fixture "servers" starts (tests/servers/servers.py):
// nginx serving site folders, and the scripted fault server. Their facts come from
// $HV_TEST_SERVERS/servers.env.
#pragma once

#include <string>
#include <vector>

#include "net/engine_config.h"

namespace hv::test {

struct TestServers {
  std::u16string sites_dir;  // nginx serves sites_dir/<site>/... at nginx_origin/<site>/...
  std::u16string nginx_origin;
  std::u16string fault_origin;
  std::u16string fault_old_tls_origin;
  std::u16string fault_untrusted_origin;
  std::u16string fault_wrong_host_origin;
  std::u16string silent_origin;
  std::u16string fault_bodies_dir;  // fault_origin/body/<name> serves fault_bodies_dir/<name>
  std::u16string ca_file;
  std::u16string nginx_access_log;  // one line per request: "... GET /path HTTP/1.1 status ..."
};

// Fails the current test (and returns false) when the fixture's facts cannot be read.
bool LoadTestServers(TestServers& servers);

// An engine configuration for origin that trusts the development CA (the Wine prefix trusts it
// already; on POSIX through ca_file) and carries the development public key.
EngineConfig TestEngineConfig(const TestServers& servers, const std::u16string& origin);

// A site folder of its own under the nginx sites, and the origin that serves it.
struct TestSite {
  std::u16string dir;     // <sites_dir>/<name>: put downloads/launcher/... and launcher_news.php
  std::u16string origin;  // <nginx_origin>/<name>
};
TestSite MakeTestSite(const TestServers& servers, const std::string& name);

// The paths nginx was asked for that start with prefix, in the order they were served. nginx
// logs a request when its response ends, so this waits briefly for at least expected of them.
std::vector<std::string> RequestedPaths(const TestServers& servers, const std::string& prefix,
                                        size_t expected);

}  // namespace hv::test
