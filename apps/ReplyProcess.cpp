#include "ReplyProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace qs_cli {

namespace {
constexpr std::chrono::milliseconds kReapInterval{10};

void closeIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}
}  // namespace

ReplyProcess::~ReplyProcess() {
  if (running()) end(std::chrono::milliseconds(500));
  closeIfOpen(output_);
}

bool ReplyProcess::start(const std::string& command, const std::string& input, const std::string& environment,
                         std::string& error) {
  int in[2], out[2];
  // Close-on-exec: a later reply command inherits neither end (dup2 clears
  // the flag on the child's own standard input and output).
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    error = std::string("cannot run the reply command: ") + std::strerror(errno);
    return false;
  }
  // Everything the child needs, made before fork: other threads (the
  // devices') may hold the allocator's lock, so the child only calls
  // async-signal-safe functions.
  std::string variable = environment;
  std::vector<char*> envp;
  for (char** entry = environ; *entry != nullptr; ++entry) envp.push_back(*entry);
  envp.push_back(variable.data());
  envp.push_back(nullptr);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  const pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("cannot run the reply command: ") + std::strerror(errno);
    for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
    return false;
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
    // SIGPIPE back to its default: we ignore it, the command should not.
    ::signal(SIGPIPE, SIG_DFL);
    ::execve("/bin/sh", const_cast<char* const*>(argv), envp.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // also here: the group exists before we may signal it
  pid_ = pid;
  ended_ = false;
  ::close(in[0]);
  ::close(out[1]);
  output_ = out[0];
  ::fcntl(output_, F_SETFL, ::fcntl(output_, F_GETFL) | O_NONBLOCK);
  // A command that does not read its input must not stop us: no SIGPIPE,
  // and a failed write is its business.
  ::signal(SIGPIPE, SIG_IGN);
  for (std::size_t written = 0; written < input.size();) {
    const ssize_t n = ::write(in[1], input.data() + written, input.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::close(in[1]);
  return true;
}

bool ReplyProcess::read(std::string& out) {
  if (output_ < 0) return false;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(output_, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n < 0 && errno == EINTR) continue;
    closeIfOpen(output_);  // end of file, or an error: no more output
    return false;
  }
}

void ReplyProcess::end(std::chrono::milliseconds grace) {
  closeIfOpen(output_);
  if (!running()) return;
  ended_ = true;
  ::kill(-pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(-pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kReapInterval);
  }
  // What the shell left behind in its group goes with it.
  ::kill(-pid_, SIGKILL);
  pid_ = -1;
}

std::string ReplyProcess::finish() {
  closeIfOpen(output_);
  if (!running()) return {};
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  if (ended_) return {};
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    return "the reply command failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
  }
  if (WIFSIGNALED(status)) return "the reply command was ended by signal " + std::to_string(WTERMSIG(status));
  return {};
}

}  // namespace qs_cli
