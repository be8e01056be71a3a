# Cross-build for 64-bit Windows with Debian's mingw-w64 posix-thread compiler (the
# win32-thread one has no std::mutex), running built programs under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZRV_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ZRV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZRV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZRV_MINGW_TRIPLET}-windres)

# The libraries built from Debian's sources by scripts/build-windows-libs, then the
# mingw system root (zlib).
get_filename_component(_zrv_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT ZRV_WINDOWS_DEPS)
  set(ZRV_WINDOWS_DEPS "${_zrv_root}/build-windows/deps")
endif()
set(CMAKE_FIND_ROOT_PATH "${ZRV_WINDOWS_DEPS}" /usr/${ZRV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static libraries only: the exe runs alone on a Windows machine.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# Static runtime too (libstdc++, libgcc, winpthread).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR "${_zrv_root}/scripts/wine-run")

# pkg-config looks only at the cross-built libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${ZRV_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ZLIB_USE_STATIC_LIBS ON)
