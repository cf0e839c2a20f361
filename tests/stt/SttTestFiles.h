// Files and directories for the recognition-node tests: a temporary
// directory, the smallest valid decoding graph and token table, and a way to
// run a test from a copy of the test program placed where no model files
// lie beside it.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "models/ModelPaths.h"
#include "support/ModelFileBuilder.h"
#include "support/TempDir.h"

namespace stt_test {

namespace fs = std::filesystem;

inline const char* const kModelFile = "ctc-epoch-30-avg-3-chunk-16-left-128.int8.with_runtime_opt.ort";

using TempDir = test_kit::TempDir;

// Makes `dir` the working directory for the object's lifetime.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const fs::path& dir) : previous_(fs::current_path()) { fs::current_path(dir); }
  ~WorkingDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
  }

 private:
  fs::path previous_;
};

using model_files::writeBytes;
using model_files::writeText;

inline std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Little-endian builder for OpenFst binary files.
class FstBytes {
 public:
  template <typename T>
  FstBytes& put(T value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof(T));
    return *this;
  }
  FstBytes& putString(const std::string& s) {
    put<int32_t>(static_cast<int32_t>(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  FstBytes& header(const std::string& fstType, int32_t version, int32_t flags, int64_t start, int64_t states,
                   int64_t arcs, const std::string& arcType = "standard") {
    put<int32_t>(2125659606).putString(fstType).putString(arcType);
    return put<int32_t>(version).put<int32_t>(flags).put<uint64_t>(3).put<int64_t>(start).put<int64_t>(states).put<int64_t>(arcs);
  }
  FstBytes& state(float finalWeight, int64_t arcs) { return put<float>(finalWeight).put<int64_t>(arcs); }
  FstBytes& arc(int32_t ilabel, int32_t olabel, int32_t next) {
    return put<int32_t>(ilabel).put<int32_t>(olabel).put<float>(0.0f).put<int32_t>(next);
  }
  std::vector<uint8_t> bytes;
};

// Two states: the final start state loops on blank and moves to state 1 on
// token 1, which returns on blank.
inline std::vector<uint8_t> tinyVectorGraph() {
  FstBytes f;
  f.header("vector", 2, 0, 0, 2, 3);
  f.state(0.0f, 2).arc(1, 0, 0).arc(2, 1, 1);
  f.state(0.0f, 1).arc(1, 0, 0);
  return f.bytes;
}

inline const char* const kTinyTokens = "<blk> 0\n\xE2\x96\x81HI 1\n";

// An ORT file with the recognizer's metadata and nothing else.
inline void writeTinyModel(const fs::path& path) {
  writeBytes(path, model_files::ortModel(model_files::recognizerMetadata()));
}

struct RecognizerFiles {
  std::string model;
  std::string tokens;
  std::string graph;
};

// Model, token table and graph under `dir`; the double reads none of them,
// the file checks read all three.
inline RecognizerFiles writeRecognizerFiles(const fs::path& dir) {
  RecognizerFiles f{(dir / kModelFile).string(), (dir / "tokens.txt").string(), (dir / "HLG.fst").string()};
  writeTinyModel(f.model);
  writeText(f.tokens, kTinyTokens);
  writeBytes(f.graph, tinyVectorGraph());
  return f;
}

inline bool modelFilesBesideExecutable() {
  return fs::exists(quorvel::extensions::sherpa::defaultSTTModelPath()) ||
         fs::exists(quorvel::extensions::sherpa::defaultSTTTokensPath()) ||
         fs::exists(quorvel::extensions::sherpa::defaultSTTGraphPath());
}

// Runs the current test in a copy of this program (a hard link where it
// can be), named `name`, inside `dir`, where no "files" folder lies beside
// it; `environment` ("NAME='value' ...") is set for it. True when the copy
// ran exactly that one test and it passed; else its output is passed on.
inline bool runCurrentTestFromCopy(const fs::path& dir, const std::string& name = "stt_test_copy",
                                   const std::string& environment = "") {
  const fs::path copy = dir / name;
  std::error_code linkError;
  fs::create_hard_link(fs::read_symlink("/proc/self/exe"), copy, linkError);
  if (linkError) fs::copy_file(fs::read_symlink("/proc/self/exe"), copy, fs::copy_options::overwrite_existing);
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string(info->test_suite_name()) + "." + info->name();
  const std::string command =
      "cd '" + dir.string() + "' && " + environment + "'" + copy.string() + "' --gtest_filter='" + filter + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  std::string output;
  char chunk[4096];
  while (std::fgets(chunk, sizeof(chunk), pipe) != nullptr) output += chunk;
  const int status = ::pclose(pipe);
  const bool passed =
      WIFEXITED(status) && WEXITSTATUS(status) == 0 && output.find("[  PASSED  ] 1 test.") != std::string::npos;
  if (!passed) {
    std::cout << output << "copy ended with "
              << (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                      : "exit " + std::to_string(WEXITSTATUS(status)))
              << "\n";
  }
  return passed;
}

// Where model files lie beside this program, runs the current test in a
// copy inside `dir` instead, its result being this test's, and says so.
inline bool ranInCopyWithoutModelFiles(const fs::path& dir) {
  if (!modelFilesBesideExecutable()) return false;
  EXPECT_TRUE(runCurrentTestFromCopy(dir));
  return true;
}

}  // namespace stt_test
