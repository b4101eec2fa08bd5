# Installed layout: the two editions, the codec library, the header, a CMake
# package (find_package(Veltrane) -> Veltrane::Veltrane, Veltrane::Orvanel)
# and one pkg-config file per edition.
include(CMakePackageConfigHelpers)

install(TARGETS Veltrane Orvanel Wavedec EXPORT VeltraneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/reader/Veltrane.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/veltrane)
install(EXPORT VeltraneTargets NAMESPACE Veltrane::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Veltrane)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VeltraneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VeltraneConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Veltrane)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VeltraneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VeltraneConfig.cmake ${PROJECT_BINARY_DIR}/VeltraneConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Veltrane)

foreach(pc veltrane orvanel)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
