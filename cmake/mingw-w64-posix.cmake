# Cross-compiles for 64-bit Windows with Debian's MinGW-w64, POSIX-threads
# variant: the win32-threads variant (the system default) has no std::thread
# or std::mutex. The C and C++ runtimes are linked statically, so the
# programs need no compiler DLLs beside them.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-posix.cmake \
#         -DSORVANE_WIN_DEPS=$(scripts/build-windows-deps)
#
# SORVANE_WIN_DEPS (or the environment variable of that name) is the prefix
# of the Windows libraries that scripts/build-windows-deps builds; it is
# searched before MinGW's own folder. Programs (nasm, windres, wine) come
# from the host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SORVANE_MINGW_TRIPLE}-windres)

if(NOT SORVANE_WIN_DEPS AND DEFINED ENV{SORVANE_WIN_DEPS})
  set(SORVANE_WIN_DEPS $ENV{SORVANE_WIN_DEPS})
endif()
# try_compile projects read this file again; hand them the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SORVANE_WIN_DEPS)

set(CMAKE_FIND_ROOT_PATH ${SORVANE_WIN_DEPS} /usr/${SORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the cross-built libraries' .pc files.
if(SORVANE_WIN_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} ${SORVANE_WIN_DEPS}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()

# -static also takes the POSIX-threads library (libwinpthread) in; DLLs such
# as SDL2's are still linked through their import libraries, given by path,
# and the system's through MinGW's import archives.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
