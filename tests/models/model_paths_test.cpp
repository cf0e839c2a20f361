// Where model files are looked for: the executable's directory cut from its
// path, the voice folders of the two language codes, the recognizer's
// primary place and its working-directory fallback. Tests that need the
// program elsewhere (no "files" folder beside it, or an odd file name) run
// in a copy of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <quorvel/Logger.h>

#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"
#include "stt/SttTestFiles.h"
#include "support/LogCapture.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
using testing_support::LogCapture;
namespace fs = std::filesystem;

namespace {

const char* const kRecognizerModel = "ctc-epoch-30-avg-3-chunk-16-left-128.int8.with_runtime_opt.ort";
const char* const kEnglishVoice = "files/en_GB/vits-piper-en_GB-southern_english_female-low/";
const char* const kGermanVoice = "files/de_DE/vits-piper-de_DE-oakvale-low/";

fs::path runningProgram() { return fs::read_symlink("/proc/self/exe"); }

struct Paths {
  std::string model, tokens, data;
  bool operator==(const Paths&) const = default;
};

Paths voicePaths(const std::string& language) {
  return {defaultTTSModelPath(language), defaultTTSTokensPath(language), defaultTTSDataDirPath(language)};
}

void PrintTo(const Paths& p, std::ostream* os) { *os << "{" << p.model << ", " << p.tokens << ", " << p.data << "}"; }

}  // namespace

TEST(ModelPaths, TheExecutableDirectoryEndsBeforeTheLastSlashOrBackslash) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\App\\host.exe", "C:\\App"},
      {"/opt/app/host", "/opt/app"},
      {"C:/App/host.exe", "C:/App"},
      {"C:\\App/bin\\host.exe", "C:\\App/bin"},  // whichever separator comes last
      {"/opt/app\\host", "/opt/app"},
      {"C:\\App\\", "C:\\App"},  // a trailing separator
      {"/host", ""},
      {"host.exe", ""},  // no separator
      {"", ""},          // the query gave nothing
  };
  for (const auto& [exePath, directory] : cases) {
    EXPECT_EQ(directoryOfExecutablePath(exePath), fs::path(directory)) << exePath;
  }
}

// The whole chain, from the program's real path to the voice and recognizer
// paths, for a program whose file name holds backslashes.
TEST(ModelPaths, DefaultPathsHangBelowTheDirectoryCutFromTheProgramsOwnPath) {
  stt_test::TempDir dir;
  const std::string name = "C:\\App\\host.exe";
  if (runningProgram().filename() != name) {
    EXPECT_TRUE(stt_test::runCurrentTestFromCopy(dir.path(), name));
    return;
  }
  const std::string app = runningProgram().parent_path().string() + "/C:\\App";
  EXPECT_EQ(executableDirectory(), fs::path(app));
  EXPECT_EQ(voicePaths("en"), (Paths{app + "/" + kEnglishVoice + "en_GB-southern_english_female-low.with_runtime_opt.ort",
                                     app + "/" + kEnglishVoice + "tokens.txt",
                                     app + "/" + kEnglishVoice + "espeak-ng-data"}));
  EXPECT_EQ(defaultSTTModelPath(), app + "/files/" + kRecognizerModel);
  EXPECT_EQ(defaultSTTTokensPath(), app + "/files/tokens.txt");
  EXPECT_EQ(defaultSTTGraphPath(), app + "/files/HLG.fst");
}

TEST(ModelPaths, OnlyEnAndDeNameAVoiceAndEachHasItsOwnFolders) {
  const std::string here = runningProgram().parent_path().string() + "/";
  EXPECT_EQ(executableDirectory(), runningProgram().parent_path());
  EXPECT_EQ(voicePaths("en"), (Paths{here + kEnglishVoice + "en_GB-southern_english_female-low.with_runtime_opt.ort",
                                     here + kEnglishVoice + "tokens.txt", here + kEnglishVoice + "espeak-ng-data"}));
  EXPECT_EQ(voicePaths("de"), (Paths{here + kGermanVoice + "de_DE-oakvale-low.with_runtime_opt.ort",
                                     here + kGermanVoice + "tokens.txt", here + kGermanVoice + "espeak-ng-data"}));
  for (const char* unknown : {"en_GB", "de_DE", "EN", "De", "", "fr", "en "}) {
    EXPECT_EQ(voicePaths(unknown), Paths{}) << "'" << unknown << "'";
  }
}

TEST(ModelPaths, TheRecognizerFallbackFollowsTheWorkingDirectoryCallByCall) {
  stt_test::TempDir dir;
  if (stt_test::ranInCopyWithoutModelFiles(dir.path())) return;
  fs::create_directories(dir.path() / "first");
  fs::create_directories(dir.path() / "second");
  const auto fallbacks = [](const fs::path& cwd) {
    return Paths{(cwd / "Models" / kRecognizerModel).string(), (cwd / "files" / "tokens.txt").string(),
                 (cwd / "files" / "HLG.fst").string()};
  };
  const auto resolved = [] { return Paths{resolveSTTModelPath(), resolveSTTTokensPath(), resolveSTTGraphPath()}; };
  {
    stt_test::WorkingDirectory cwd(dir.path() / "first");
    EXPECT_EQ(resolved(), fallbacks(fs::current_path()));  // nothing exists there: not tested
  }
  {
    stt_test::WorkingDirectory cwd(dir.path() / "second");
    EXPECT_EQ(resolved(), fallbacks(fs::current_path()));
    // Any entry at the primary place counts, a directory too; each file is
    // resolved on its own.
    fs::create_directories(fs::path(defaultSTTModelPath()));
    EXPECT_EQ(resolved(), (Paths{defaultSTTModelPath(), fallbacks(fs::current_path()).tokens,
                                 fallbacks(fs::current_path()).data}));
  }
}

// The working directory cannot be read once it has been removed. Nothing
// throws: the fallback is relative, and a warning names the error.
TEST(ModelPaths, AnUnreadableWorkingDirectoryGivesRelativeFallbacksAndAWarning) {
  stt_test::TempDir dir;
  if (stt_test::ranInCopyWithoutModelFiles(dir.path())) return;
  const fs::path gone = dir.path() / "gone";
  fs::create_directories(gone);
  stt_test::WorkingDirectory cwd(gone);
  fs::remove(gone);
  std::error_code error;
  (void)fs::current_path(error);
  ASSERT_TRUE(error) << "the removed working directory can still be read here";
  const std::string why = error.message();

  LogCapture log;
  EXPECT_EQ(resolveSTTModelPath(), std::string("Models/") + kRecognizerModel);
  EXPECT_EQ(resolveSTTTokensPath(), "files/tokens.txt");
  EXPECT_EQ(resolveSTTGraphPath(), "files/HLG.fst");
  const std::string prefix = "[SherpaSTTNode] Cannot read the working directory (" + why + "); looking for ";
  EXPECT_EQ(log.entries(), (std::vector<std::pair<LogLevel, std::string>>{
                               {LogLevel::Warning, prefix + kRecognizerModel + " at Models/" + kRecognizerModel},
                               {LogLevel::Warning, prefix + "tokens.txt at files/tokens.txt"},
                               {LogLevel::Warning, prefix + "HLG.fst at files/HLG.fst"}}));

  // The node built there says so as well, and loads nothing.
  log.clear();
  SherpaSTTNode node;
  EXPECT_EQ(log.linesStartingWith(prefix).size(), 3u);
  EXPECT_TRUE(log.contains("[SherpaSTTNode] Model file has not been loaded."));
}
