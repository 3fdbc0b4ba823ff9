# The Windows build's libraries under the target names the Linux build gets
# from find_package and pkg-config, so every module's CMakeLists.txt links
# the same names on both platforms:
#   OpenGL::GL, GLEW::GLEW, GLU_LIBRARY, PkgConfig::SDL2,
#   PkgConfig::VORBISFILE, PkgConfig::VORBISENC, PkgConfig::IL (the ilcompat
#   decoder), GTest::gtest and GTest::gtest_main (Debian's GoogleTest sources).
# Executables run under Wine (scripts/wine-run) when ctest or a build step
# starts them. The run folder's generated images and music are copied from a
# Linux build (SORVANE_LINUX_BUILD_DIR), whose generator made them.
if(NOT SORVANE_WIN_DEPS OR NOT EXISTS ${SORVANE_WIN_DEPS}/.complete)
  message(FATAL_ERROR "SORVANE_WIN_DEPS must name the prefix that scripts/build-windows-deps printed "
                      "(got '${SORVANE_WIN_DEPS}')")
endif()
set(SORVANE_LINUX_BUILD_DIR ${PROJECT_SOURCE_DIR}/build CACHE PATH
    "The Linux build whose generated assets the Windows build copies and whose results the Windows tests compare with")
set(SORVANE_LINUX_RUN_DIR ${SORVANE_LINUX_BUILD_DIR}/run)

set(win_lib ${SORVANE_WIN_DEPS}/lib)
set(win_inc ${SORVANE_WIN_DEPS}/include)

find_package(OpenGL REQUIRED)
# zlib goes into the programs, not beside them as zlib1.dll (libpng, from
# find_package(PNG), asks for it).
set(ZLIB_LIBRARY /usr/${SORVANE_MINGW_TRIPLE}/lib/libz.a)
set(ZLIB_INCLUDE_DIR /usr/${SORVANE_MINGW_TRIPLE}/include)
set(GLU_LIBRARY glu32)

add_library(GLEW::GLEW SHARED IMPORTED)
set_target_properties(GLEW::GLEW PROPERTIES
  IMPORTED_IMPLIB ${win_lib}/libglew32.dll.a
  IMPORTED_LOCATION ${SORVANE_WIN_DEPS}/bin/glew32.dll
  INTERFACE_INCLUDE_DIRECTORIES ${win_inc}
  INTERFACE_LINK_LIBRARIES OpenGL::GL)

find_package(SDL2 CONFIG REQUIRED)
add_library(PkgConfig::SDL2 INTERFACE IMPORTED)
target_link_libraries(PkgConfig::SDL2 INTERFACE SDL2::SDL2)

add_library(PkgConfig::VORBISFILE INTERFACE IMPORTED)
target_include_directories(PkgConfig::VORBISFILE INTERFACE ${win_inc})
target_link_libraries(PkgConfig::VORBISFILE INTERFACE ${win_lib}/libvorbisfile.a ${win_lib}/libvorbis.a
                                                      ${win_lib}/libogg.a)
add_library(PkgConfig::VORBISENC INTERFACE IMPORTED)
target_link_libraries(PkgConfig::VORBISENC INTERFACE ${win_lib}/libvorbisenc.a PkgConfig::VORBISFILE)

add_subdirectory(${PROJECT_SOURCE_DIR}/ilcompat ${CMAKE_BINARY_DIR}/ilcompat)
add_library(PkgConfig::IL INTERFACE IMPORTED)
target_link_libraries(PkgConfig::IL INTERFACE sorvane_ilcompat)

# GoogleTest from Debian's sources (/usr/src/googletest), built with the
# cross compiler.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# Its CMake files name the targets GTest::gtest and GTest::gtest_main.
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Every executable the build or ctest runs goes through Wine, finding the
# DLLs in the dependency prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run --path ${SORVANE_WIN_DEPS}/bin)

# The DLLs a program needs beside it, for the zip and the run folder.
set(SORVANE_WIN_DLLS ${SORVANE_WIN_DEPS}/bin/SDL2.dll ${SORVANE_WIN_DEPS}/bin/glew32.dll)
