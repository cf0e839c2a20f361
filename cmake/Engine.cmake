# The prebuilt engine unpacked by scripts/fetch-engine.sh.
set(QS_ENGINE_DIR "${PROJECT_SOURCE_DIR}/third_party/sherpa-onnx/lib" CACHE PATH
    "Folder holding libsherpa-onnx-c-api.so and libonnxruntime.so")

if(NOT EXISTS "${QS_ENGINE_DIR}/libsherpa-onnx-c-api.so")
  message(FATAL_ERROR "The engine is missing from ${QS_ENGINE_DIR}: run scripts/fetch-engine.sh")
endif()

add_library(SherpaOnnx::onnxruntime SHARED IMPORTED GLOBAL)
set_target_properties(SherpaOnnx::onnxruntime PROPERTIES
  IMPORTED_LOCATION "${QS_ENGINE_DIR}/libonnxruntime.so"
  IMPORTED_NO_SONAME OFF)

add_library(SherpaOnnx::c_api SHARED IMPORTED GLOBAL)
set_target_properties(SherpaOnnx::c_api PROPERTIES
  IMPORTED_LOCATION "${QS_ENGINE_DIR}/libsherpa-onnx-c-api.so"
  INTERFACE_LINK_LIBRARIES SherpaOnnx::onnxruntime)

# Binaries find the engine without LD_LIBRARY_PATH: the build tree's rpath
# points at the unpacked folder, the installed one at the library folder.
set(CMAKE_BUILD_RPATH "${QS_ENGINE_DIR}")
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
