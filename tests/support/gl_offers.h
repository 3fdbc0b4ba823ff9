// gl_offers.h — what the display's GL driver offers, asked of the driver
// itself and not of the platform layer, so that a test can tell "the
// platform fell back" from "there was nothing to fall back from".
//
// `DriverOffersMultisampling(samples)`: whether the driver has a
// double-buffered RGBA window configuration with at least `samples`
// samples. On Windows it asks WGL_ARB_pixel_format and needs a current
// context with GLEW initialised; elsewhere it asks the X server's GLX and
// needs only $DISPLAY. A driver that cannot be asked offers nothing.
#pragma once

#ifdef _WIN32
#include <GL/glew.h>
#include <GL/wglew.h>

inline bool DriverOffersMultisampling(int samples) {
  if (!WGLEW_ARB_pixel_format || !WGLEW_ARB_multisample || !wglGetCurrentDC()) return false;
  const int attributes[] = {
      WGL_DRAW_TO_WINDOW_ARB, GL_TRUE,  WGL_SUPPORT_OPENGL_ARB, GL_TRUE, WGL_DOUBLE_BUFFER_ARB, GL_TRUE,
      WGL_PIXEL_TYPE_ARB, WGL_TYPE_RGBA_ARB, WGL_SAMPLE_BUFFERS_ARB, 1, WGL_SAMPLES_ARB, samples, 0,
  };
  int index = 0;
  UINT count = 0;
  return wglChoosePixelFormatARB(wglGetCurrentDC(), attributes, nullptr, 1, &index, &count) && count > 0;
}
#else
#include <GL/glx.h>

inline bool DriverOffersMultisampling(int samples) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  const int attributes[] = {
      GLX_X_RENDERABLE, True, GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT,
      GLX_DOUBLEBUFFER, True, GLX_SAMPLE_BUFFERS, 1, GLX_SAMPLES, samples, None,
  };
  int count = 0;
  GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display), attributes, &count);
  if (configs) XFree(configs);
  XCloseDisplay(display);
  return count > 0;
}
#endif
