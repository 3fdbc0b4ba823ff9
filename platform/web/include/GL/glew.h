// The browser build's <GL/glew.h>: the desktop GL the demo calls, on WebGL 1
// (platform/web/legacy_gl.h says how).
#pragma once
#include "platform/web/legacy_gl.h"
