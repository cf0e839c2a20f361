#include "WavFile.h"

#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace qs_cli {

bool readAudioFile(const std::string& path, Audio& audio, std::string& error) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    error = "cannot read audio file '" + path + "': " + sf_strerror(nullptr);
    return false;
  }
  audio.sampleRate = info.samplerate;
  audio.channels = static_cast<unsigned>(info.channels);
  audio.interleaved.assign(static_cast<std::size_t>(info.frames) * audio.channels, 0.0f);
  sf_count_t got = sf_readf_float(file, audio.interleaved.data(), info.frames);
  audio.interleaved.resize(static_cast<std::size_t>(got) * audio.channels);
  sf_close(file);
  return true;
}

namespace {

// libsndfile needs seeking to finish a WAV header, so standard output gets
// the file assembled in memory first.
struct MemoryFile {
  std::vector<unsigned char> bytes;
  sf_count_t position = 0;
};

sf_count_t memLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size()); }
sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->position : static_cast<sf_count_t>(m->bytes.size());
  m->position = base + offset;
  return m->position;
}
sf_count_t memRead(void* ptr, sf_count_t count, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  sf_count_t available = static_cast<sf_count_t>(m->bytes.size()) - m->position;
  sf_count_t n = count < available ? count : available;
  if (n <= 0) return 0;
  std::memcpy(ptr, m->bytes.data() + m->position, static_cast<std::size_t>(n));
  m->position += n;
  return n;
}
sf_count_t memWrite(const void* ptr, sf_count_t count, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  if (m->position + count > static_cast<sf_count_t>(m->bytes.size())) m->bytes.resize(static_cast<std::size_t>(m->position + count));
  std::memcpy(m->bytes.data() + m->position, ptr, static_cast<std::size_t>(count));
  m->position += count;
  return count;
}
sf_count_t memTell(void* user) { return static_cast<MemoryFile*>(user)->position; }

}  // namespace

bool writeWav(const std::string& path, const Audio& audio, std::string& error) {
  SF_INFO info{};
  info.samplerate = audio.sampleRate;
  info.channels = static_cast<int>(audio.channels);
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  MemoryFile memory;
  SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
  SNDFILE* file = path == "-" ? sf_open_virtual(&io, SFM_RDWR, &info, &memory) : sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    error = "cannot write '" + path + "': " + sf_strerror(nullptr);
    return false;
  }
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  sf_writef_float(file, audio.interleaved.data(), static_cast<sf_count_t>(audio.frames()));
  sf_close(file);
  if (path == "-") {
    std::size_t written = std::fwrite(memory.bytes.data(), 1, memory.bytes.size(), stdout);
    std::fflush(stdout);
    if (written != memory.bytes.size()) {
      error = "cannot write WAV to standard output";
      return false;
    }
  }
  return true;
}

bool canWrite(const std::string& path, std::string& error) {
  if (path == "-") return true;
  std::error_code ignored;
  const bool existed = std::filesystem::exists(path, ignored);
  // Appending creates a missing file and leaves an existing one untouched.
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::fclose(file);
  if (!existed) std::filesystem::remove(path, ignored);
  return true;
}

}  // namespace qs_cli
