// The text recognised so far. The recognition node returns the stream's whole
// text on every processAudio call, but "" when no audio was buffered since
// the last call; such an empty answer means "nothing new", never "the text
// is gone", so it must not replace what was recognised before.
#pragma once

#include <string>

namespace qs_cli {

class Transcript {
 public:
  // Takes one processAudio result; true when the text changed.
  bool update(const std::string& latest) {
    if (latest.empty() || latest == text_) return false;
    text_ = latest;
    return true;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace qs_cli
