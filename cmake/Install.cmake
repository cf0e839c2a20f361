# Installs the module, its public header and the engine's shared libraries
# with a package config, so another project can find_package(QuorvelSherpa)
# and link QuorvelSherpa::QuorvelSherpa. The module needs the Quorvel
# framework, which the consumer brings as the target Quorvel::SDK (see
# cmake/QuorvelSherpaConfig.cmake.in).
#
# The framework stand-in of src/host (libQuorvelSDK, the quorvel/ headers
# and a QuorvelSDK package that defines Quorvel::SDK) is not part of the
# package: installed beside a real framework it would put a second
# ExtensionManager into the process. It forms the install component
# HostStandIn, with the command-line host that runs on it, installed only
# when asked: with QS_INSTALL_HOST_STANDIN=ON, or by
# `cmake --install <build> --component HostStandIn`.
include(CMakePackageConfigHelpers)

if(QS_INSTALL_HOST_STANDIN)
  set(QS_STANDIN_EXCLUDE "")
else()
  set(QS_STANDIN_EXCLUDE EXCLUDE_FROM_ALL)
endif()
set(QS_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorvelSherpa)
set(QS_STANDIN_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorvelSDK)

# The package.
install(TARGETS QuorvelSherpa EXPORT QuorvelSherpaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/sherpa DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES "${QS_ENGINE_DIR}/libsherpa-onnx-c-api.so" "${QS_ENGINE_DIR}/libonnxruntime.so"
  DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT QuorvelSherpaTargets NAMESPACE QuorvelSherpa:: DESTINATION ${QS_PACKAGE_DIR})
configure_package_config_file(cmake/QuorvelSherpaConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/QuorvelSherpaConfig.cmake"
  INSTALL_DESTINATION ${QS_PACKAGE_DIR})
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/QuorvelSherpaConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/QuorvelSherpaConfig.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/QuorvelSherpaConfigVersion.cmake"
  DESTINATION ${QS_PACKAGE_DIR})

# The stand-in, as a package of its own (QuorvelSDK, target Quorvel::SDK).
install(TARGETS host EXPORT QuorvelSDKTargets COMPONENT HostStandIn ${QS_STANDIN_EXCLUDE}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY src/host/include/quorvel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT HostStandIn ${QS_STANDIN_EXCLUDE})
install(EXPORT QuorvelSDKTargets NAMESPACE Quorvel:: DESTINATION ${QS_STANDIN_PACKAGE_DIR}
  COMPONENT HostStandIn ${QS_STANDIN_EXCLUDE})
configure_package_config_file(cmake/QuorvelSDKConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/QuorvelSDKConfig.cmake"
  INSTALL_DESTINATION ${QS_STANDIN_PACKAGE_DIR})
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/QuorvelSDKConfig.cmake" DESTINATION ${QS_STANDIN_PACKAGE_DIR}
  COMPONENT HostStandIn ${QS_STANDIN_EXCLUDE})

# The command-line host, built on the stand-in.
if(TARGET quorvel-sherpa)
  install(TARGETS quorvel-sherpa RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT HostStandIn ${QS_STANDIN_EXCLUDE})
endif()
