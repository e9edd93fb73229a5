#include "platform/termination.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace korvane::platform {
namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t holds = 0;           // holds alive
volatile sig_atomic_t pending_signal = 0;  // the first signal to end noted during a hold
bool catching = false;

// Takes the signal's default action: ends the process.
void end_by(int signal) {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
}

void on_ending_signal(int signal) {
  if (holds == 0) {
    end_by(signal);
  } else if (pending_signal == 0) {
    pending_signal = signal;
    ::alarm(kLineGraceSeconds);
  }
}

void on_grace_over(int) {
  if (pending_signal != 0) end_by(pending_signal);
}

bool has_default_action(int signal) {
  struct sigaction current = {};
  return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL;
}

void catch_signal(int signal, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int ending : kEndingSignals) sigaddset(&action.sa_mask, ending);
  sigaddset(&action.sa_mask, SIGALRM);
  ::sigaction(signal, &action, nullptr);
}

void catch_ending_signals() {
  catching = true;
  bool any = false;
  for (const int signal : kEndingSignals) {
    if (!has_default_action(signal)) continue;
    catch_signal(signal, on_ending_signal);
    any = true;
  }
  if (any && has_default_action(SIGALRM)) catch_signal(SIGALRM, on_grace_over);
}

}  // namespace

TerminationHeldBack::TerminationHeldBack() noexcept {
  const int error = errno;
  if (!catching) catch_ending_signals();
  holds = holds + 1;
  errno = error;
}

TerminationHeldBack::~TerminationHeldBack() {
  const int error = errno;
  holds = holds - 1;
  if (holds == 0 && pending_signal != 0) {
    ::alarm(0);
    end_by(pending_signal);
  }
  errno = error;
}

}  // namespace korvane::platform
