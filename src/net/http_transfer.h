// Between the shared request rules (http_client.cpp) and the platform transports
// (http_client_winhttp.cpp, http_client_curl.cpp). Internal to net/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/cancel_flag.h"
#include "net/engine_config.h"
#include "net/http_client.h"

namespace hv {

// Where a transport delivers a response with status 200. Each call may fail the request by
// setting result and returning false; the transport then stops reading.
class BodySink {
 public:
  virtual ~BodySink() = default;
  // The headers arrived; announced is the Content-Length, or -1 when there is none.
  virtual bool Begin(int64_t announced, HttpResult& result) = 0;
  // The next piece of the body.
  virtual bool Piece(const char* data, size_t size, HttpResult& result) = 0;
  // Always called once after a successful Begin, however the transfer ended.
  virtual void End(HttpResult& result) = 0;
};

// One GET of url with the rules of http_client.h. Bodies are read in pieces of at most
// piece_size bytes; cancel is tested before each read (and once more before the read that finds
// the end). A body that ends before its Content-Length is delivered as it is: the sink judges
// its size. Statuses other than 200 give a result without any sink call.
HttpResult HttpTransfer(const EngineConfig& config, const std::u16string& url, size_t piece_size,
                        const CancelFlag* cancel, BodySink& sink);

}  // namespace hv
