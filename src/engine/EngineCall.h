// The one guard around calls into the engine. The engine reports some
// faults (a token id beyond the model's table, an unknown espeak voice,
// a file it cannot parse) by throwing; an exception must never leave the
// library, so every call that may throw goes through engineCall, which
// logs the exception and reports failure like any other failure: an empty
// result (null, false, an empty string).
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <quorvel/Logger.h>

namespace quorvel::extensions::sherpa {

// Logs `logTag` + " Engine error while " + `activity` + ": " + the
// exception's message ("unknown" for one that is no std::exception).
void logEngineError(std::string_view logTag, std::string_view activity, const char* message);

// Runs `call` and returns its result, or an empty one (a value-initialised
// result; false for a call that returns nothing) when it throws.
template <typename Call>
auto engineCall(std::string_view logTag, std::string_view activity, Call&& call) {
  using Result = std::invoke_result_t<Call>;
  using Reported = std::conditional_t<std::is_void_v<Result>, bool, Result>;
  try {
    if constexpr (std::is_void_v<Result>) {
      std::forward<Call>(call)();
      return true;
    } else {
      return Reported(std::forward<Call>(call)());
    }
  } catch (const std::exception& e) {
    logEngineError(logTag, activity, e.what());
  } catch (...) {
    logEngineError(logTag, activity, "unknown");
  }
  return Reported{};
}

}  // namespace quorvel::extensions::sherpa
