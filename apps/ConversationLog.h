// The conversation so far, as JSON lines in a file a reply command reads:
// {"role":"user","text":...} and {"role":"agent","text":<what was heard>}
// (with "interrupted":true and "notHeard":... when the user cut in).
// Control thread only. A file of our own making (no path given) is removed
// at the end.
#pragma once

#include <string>

namespace qs_cli {

class ConversationLog {
 public:
  // `path` empty: a new file in $TMPDIR (or /tmp). False with a message.
  bool open(const std::string& path, std::string& error);
  ~ConversationLog();

  void user(const std::string& text);
  void agent(const std::string& heard, bool interrupted, const std::string& notHeard);
  const std::string& path() const { return path_; }

 private:
  void append(const std::string& line);
  std::string path_;
  bool temporary_ = false;
};

}  // namespace qs_cli
