#include "SpokenWords.h"

#include <new>

#include "WordTiming.h"

namespace quorvel::extensions::sherpa {

bool SpokenWords::prepare(const std::string& text, uint64_t sequence) {
  try {
    text_ = text;
    byteEnds_ = wordEnds(text_);
    sampleEnds_.assign(byteEnds_.size(), 0);
    payloads_.clear();
    payloads_.reserve(byteEnds_.size());
    std::size_t start = 0;
    for (std::size_t end : byteEnds_) {
      payloads_.emplace_back(QVAnyMap{{"text", QVAny(text_.substr(start, end - start))},
                                      {"sequence", QVAny(static_cast<int64_t>(sequence))}});
      start = end;
    }
    return true;
  } catch (const std::bad_alloc&) {
    byteEnds_.clear();
    sampleEnds_.clear();
    payloads_.clear();
    return false;
  }
}

void SpokenWords::publish(std::size_t index, int32_t endSample) {
  if (index >= sampleEnds_.size() || index < published_.load()) return;
  sampleEnds_[index] = endSample;
  published_.store(index + 1);
}

std::string SpokenWords::heardText(std::size_t words) const {
  return words == 0 ? std::string() : text_.substr(0, byteEnds_[words - 1]);
}

std::string SpokenWords::unheardText(std::size_t words) const {
  return words == 0 ? text_ : text_.substr(byteEnds_[words - 1]);
}

}  // namespace quorvel::extensions::sherpa
