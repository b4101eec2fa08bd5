# Installed layout: the two editions, the codec library, the header, a CMake
# package (find_package(Veltrane) -> Veltrane::Veltrane, Veltrane::Orvanel),
# one pkg-config file per edition, and the `veltrane` tool with its terrain
# helper.
include(CMakePackageConfigHelpers)

# Installed binaries find the libraries beside them (or, for the tools, in the
# lib folder next to bin) wherever the prefix is moved or staged, and in the
# configured prefix's lib folder; a host linking libVeltrane needs no
# LD_LIBRARY_PATH to reach libWavedec. A system lib folder needs no entry.
set(vt_prefix_libdir "")
if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES AND
   NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES)
  set(vt_prefix_libdir ${CMAKE_INSTALL_FULL_LIBDIR})
endif()
file(RELATIVE_PATH vt_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(Veltrane Orvanel Wavedec PROPERTIES INSTALL_RPATH "\$ORIGIN;${vt_prefix_libdir}")

install(TARGETS Veltrane Orvanel Wavedec EXPORT VeltraneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/reader/Veltrane.h ${PROJECT_SOURCE_DIR}/reader/Veltrane_c.h
  ${PROJECT_SOURCE_DIR}/reader/VeltraneExport.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/veltrane)
install(EXPORT VeltraneTargets NAMESPACE Veltrane::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Veltrane)

# The tool runs its terrain helper from its own folder, so both go to bin/.
if(VELTRANE_BUILD_TOOLS AND TARGET veltrane)
  set_target_properties(veltrane veltrane-terrain PROPERTIES
    INSTALL_RPATH "\$ORIGIN/${vt_bin_to_lib};${vt_prefix_libdir}")
  install(TARGETS veltrane veltrane-terrain RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VeltraneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VeltraneConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Veltrane)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VeltraneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VeltraneConfig.cmake ${PROJECT_BINARY_DIR}/VeltraneConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Veltrane)

# pkg-config: a shared link needs only -lVeltrane (the library's RUNPATH finds
# libWavedec); outside the system's lib folders the consumer also gets a
# RUNPATH to the prefix, so that it runs as linked. A static link
# (--static) adds the codec library and zlib.
set(VT_PC_RPATH "")
if(vt_prefix_libdir)
  set(VT_PC_RPATH "-Wl,-rpath,\${libdir}")
endif()
set(VT_PC_REQUIRES_PRIVATE "zlib")
if(VT_LIBDEFLATE_FOUND)
  string(APPEND VT_PC_REQUIRES_PRIVATE ", libdeflate")
endif()
get_target_property(vt_wavedec_links Wavedec LINK_LIBRARIES)
if("PkgConfig::OPENJPEG" IN_LIST vt_wavedec_links)  # OpenJPEG not linked into Wavedec
  string(APPEND VT_PC_REQUIRES_PRIVATE ", libopenjp2")
endif()
foreach(pc veltrane orvanel)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
