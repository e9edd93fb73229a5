// Test support: environment overrides, a temporary-directory fixture and loopback stand-ins for the app.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "files.h"
#include "platform/descriptors.h"

namespace korvane::testing_support {

// Sets or unsets environment variables for one test and restores them afterwards.
class ScopedEnv {
 public:
  ~ScopedEnv();

  // nullopt unsets the variable.
  ScopedEnv& set(const char* name, const std::optional<std::string>& value);

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// A fixture with a fresh temporary directory in dir_, removed with everything in it afterwards.
class TempDirTest : public testing::Test {
 private:
  TempDir temp_;

 protected:
  const std::string dir_ = temp_.path();
};

// A TCP socket bound to 127.0.0.1 on a free port without listening: connections are refused.
class RefusingPort {
 public:
  RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  std::uint16_t port() const { return port_; }

 private:
  UniqueFd socket_;
  std::uint16_t port_ = 0;
};

// A stand-in app on 127.0.0.1 that serves one connection: it reads the request head and
// Content-Length bytes of body, sends the canned reply and closes.
class OneShotApp {
 public:
  // hang_up_at_once closes with RST before reading anything; a non-zero pause sends the reply
  // in 64-byte pieces, pausing between them.
  explicit OneShotApp(std::string reply, bool hang_up_at_once = false,
                      std::chrono::microseconds pause = std::chrono::microseconds(0));
  OneShotApp(const OneShotApp&) = delete;
  OneShotApp& operator=(const OneShotApp&) = delete;
  ~OneShotApp();

  std::uint16_t port() const { return port_; }

  // Ends the serving thread and returns the request bytes it received.
  const std::string& finish();
  // Ends the serving thread and returns the request body (after the head) it received.
  std::string finish_body();

 private:
  void serve(const std::string& reply, bool hang_up_at_once);
  void read_request(int client);
  void send_reply(int client, std::string_view reply) const;

  std::chrono::microseconds pause_;
  UniqueFd listener_;
  std::optional<platform::Pipe> wake_;  // written to by finish(): stops waiting for a client
  std::uint16_t port_ = 0;
  std::string request_;
  std::thread server_;
};

}  // namespace korvane::testing_support
