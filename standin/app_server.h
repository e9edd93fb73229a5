// Serves one request per connection, one connection at a time, in the configured mode.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"
#include "desktop_model.h"
#include "http_request.h"
#include "options.h"
#include "peer.h"

namespace korvane::standin {

// A request as it arrived; a non-zero reject_status means it cannot be served as is.
struct ReceivedRequest {
  std::string head;
  std::string body;
  RequestHead parsed;
  int reject_status = 0;
  std::string reject_reason;
};

// What the server needs besides the options: all loaded before the ready line.
struct ServerSetup {
  std::string token;
  UniqueFd record_file;                    // invalid when not recording
  std::vector<std::string> replay_bodies;  // from --replies
  std::string body_file_reply;             // whole prebuilt reply for --mode body-file
};

class AppServer {
 public:
  AppServer(Options options, ServerSetup setup, int stop_fd);

  // Serves the accepted connection until its reply is out or it fails.
  void serve(UniqueFd connection);

 private:
  std::optional<ReceivedRequest> receive(Peer& peer) const;
  void record(const ReceivedRequest& request) const;
  void reply(Peer& peer, const ReceivedRequest& request);
  std::optional<std::string_view> reply_bytes(Peer& peer, const ReceivedRequest& request, std::string& built);
  std::optional<std::string> answer_body(Peer& peer, const ReceivedRequest& request, int& status);

  Options options_;
  ServerSetup setup_;
  int stop_fd_;
  std::size_t next_replay_ = 0;
  DesktopModel model_;
};

}  // namespace korvane::standin
