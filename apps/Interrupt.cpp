#include "Interrupt.h"

#include <csignal>

namespace qs_cli {

namespace {
volatile std::sig_atomic_t requested = 0;

void onSignal(int) { requested = 1; }
}  // namespace

void watchForInterrupt() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() { return requested != 0; }

}  // namespace qs_cli
