// A guard for a step that must return at once but would block for good if the code under test
// regressed (opening a pipe that has no writer, reading one): should the step still be running
// when the alarm rings, the test program says which guard rang and ends with a failure status
// instead of hanging the whole run. The limit is far above any honest running time: it is no
// measurement, only the line between "returned" and "hangs".
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace velmora::test {

class TWatchdog {
 public:
  explicit TWatchdog(const char* What, unsigned Seconds = 60) {
    Ringing() = What;
    struct sigaction ring {};
    ring.sa_handler = &Ring;
    sigemptyset(&ring.sa_mask);
    ::sigaction(SIGALRM, &ring, &FPrevious);
    ::alarm(Seconds);
  }
  ~TWatchdog() {
    ::alarm(0);
    ::sigaction(SIGALRM, &FPrevious, nullptr);
  }
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;

 private:
  static const char*& Ringing() {
    static const char* what = "";
    return what;
  }

  // Only async-signal-safe calls: write and _exit.
  static void Ring(int) {
    const char* what = Ringing();
    const char prefix[] = "\nWatchdog: this step never returned: ";
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, prefix, sizeof prefix - 1);
    written = ::write(STDERR_FILENO, what, std::strlen(what));
    written = ::write(STDERR_FILENO, "\n", 1);
    ::_exit(3);
  }

  struct sigaction FPrevious {};
};

}  // namespace velmora::test
