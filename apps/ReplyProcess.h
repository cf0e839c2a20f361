// The reply command of `converse`: a shell command line run with the user's
// text on its standard input, whose standard output is read as it comes.
//
// Control thread only. The command runs in a process group of its own, so
// ending it ends what it started too (a pipeline, a sleeping script). The
// output is read without blocking: the control thread polls it in its
// round, as it polls the devices.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace qs_cli {

class ReplyProcess {
 public:
  ReplyProcess() = default;
  ~ReplyProcess();  // ends a command still running
  ReplyProcess(const ReplyProcess&) = delete;
  ReplyProcess& operator=(const ReplyProcess&) = delete;

  // Runs `sh -c command` with `input` on its standard input (then closed)
  // and `environment` ("NAME=value") added to ours. False with a message.
  bool start(const std::string& command, const std::string& input, const std::string& environment,
             std::string& error);
  // Appends what the command wrote since the last call; false once its
  // output has ended (end of file, or it was ended).
  bool read(std::string& out);
  // Ends the command: SIGTERM to its group, then SIGKILL when it is still
  // there after `grace`. Waits for it (polling, at most `grace` and a bit).
  void end(std::chrono::milliseconds grace);
  // Once the output has ended: waits for the command and gives a line on
  // how it failed, or "" when it exited with status 0.
  std::string finish();

  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  bool ended_ = false;  // end() ended it: its status is ours, not a failure
};

}  // namespace qs_cli
