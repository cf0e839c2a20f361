// The one export macro of the module's public headers. The module hides
// every symbol except the classes marked with it; the module's own build
// defines QUORVEL_SHERPA_BUILDING.
#pragma once

#if defined(_WIN32)
#if defined(QUORVEL_SHERPA_BUILDING)
#define QUORVEL_SHERPA_EXPORT __declspec(dllexport)
#else
#define QUORVEL_SHERPA_EXPORT __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QUORVEL_SHERPA_EXPORT __attribute__((visibility("default")))
#else
#define QUORVEL_SHERPA_EXPORT
#endif
