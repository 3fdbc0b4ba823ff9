// The browser build's <GL/glu.h>: gluPerspective, kept by the same layer as
// the matrix stacks (platform/web/legacy_gl.h).
#pragma once
#include "platform/web/legacy_gl.h"
