# Shared part of the MinGW-w64 toolchain files (mingw-w64-x86_64.cmake,
# mingw-w64-i686.cmake): Debian's cross compilers of the posix thread model
# (std::thread and std::mutex work), the MinGW system folder, and the prefix
# where scripts/build-windows-deps.sh installs what Debian has no MinGW build
# of (-DVELTRANE_WINDOWS_PREFIX=...). Nothing is looked up among the build
# machine's own libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VT_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VT_MINGW_TRIPLET})
if(VELTRANE_WINDOWS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VELTRANE_WINDOWS_PREFIX})
  # pkg-config answers from the prefix's .pc files only.
  set(ENV{PKG_CONFIG_LIBDIR} ${VELTRANE_WINDOWS_PREFIX}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The C and C++ runtimes go into each binary, so the DLLs and programs need
# no MinGW runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
# zlib is linked in statically as well (Debian's MinGW zlib has both forms).
set(ZLIB_USE_STATIC_LIBS ON)
