# The browser build's libraries under the target names the Linux build gets
# from find_package and pkg-config, so every module's CMakeLists.txt links
# the same names: GLEW::GLEW and OpenGL::GL are the desktop GL calls on
# WebGL 1 (platform/web/legacy_gl.h, whose <GL/glew.h> and <GL/glu.h> stand
# where GLEW's and GLU's do), PkgConfig::IL the IL-compatible decoder on the
# browser's own image decoders (ilcompat/). The program waits for the
# browser (animation frames, the form, decoding) through Asyncify, and keeps
# C++ exceptions (a damaged file is reported, not a crash).
add_compile_options(-fexceptions)
add_link_options(-fexceptions)

add_library(GLEW::GLEW INTERFACE IMPORTED)
target_include_directories(GLEW::GLEW INTERFACE ${PROJECT_SOURCE_DIR}/platform/web/include ${PROJECT_SOURCE_DIR})
target_link_libraries(GLEW::GLEW INTERFACE sorvane_web_gl)
add_library(OpenGL::GL INTERFACE IMPORTED)
target_link_libraries(OpenGL::GL INTERFACE GLEW::GLEW)
set(GLU_LIBRARY "")

add_subdirectory(${PROJECT_SOURCE_DIR}/ilcompat ${CMAKE_BINARY_DIR}/ilcompat)
add_library(PkgConfig::IL INTERFACE IMPORTED)
target_link_libraries(PkgConfig::IL INTERFACE sorvane_ilcompat)
