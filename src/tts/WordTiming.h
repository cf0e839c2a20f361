// Where the words of a text end, in the text and in its audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::extensions::sherpa {

std::vector<size_t> wordEnds(const std::string& text);
std::vector<size_t> sentenceEnds(const std::string& text);
std::vector<int32_t> estimateWordEnds(const std::string& text, const float* samples, int32_t n);

}  // namespace quorvel::extensions::sherpa
