# Installs the SDK stand-in, the module, the public header and a package
# config, so another project can find_package(QuorvelSherpa) and link
# QuorvelSherpa::QuorvelSherpa.
include(CMakePackageConfigHelpers)

install(TARGETS QuorvelSDK QuorvelSherpa EXPORT QuorvelSherpaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/sherpa DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY src/host/include/quorvel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES "${QS_ENGINE_DIR}/libsherpa-onnx-c-api.so" "${QS_ENGINE_DIR}/libonnxruntime.so"
  DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(EXPORT QuorvelSherpaTargets NAMESPACE QuorvelSherpa::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/QuorvelSherpa)
configure_package_config_file(cmake/QuorvelSherpaConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/QuorvelSherpaConfig.cmake"
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/QuorvelSherpa)
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/QuorvelSherpaConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/QuorvelSherpaConfig.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/QuorvelSherpaConfigVersion.cmake"
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/QuorvelSherpa)
