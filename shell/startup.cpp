#include <GL/glew.h>
#include <IL/il.h>

#include "data/files.h"
#include "effects/picture.h"
#include "gpu/texture.h"
#include "shell/shell.h"

namespace {

// Filled once, on the first start-up, with that start-up's colour depth.
platform::SurfaceFormat PixelFormatRequest;
bool pixelFormatFilled = false;

constexpr int kMultisampleSamples = 4;

}  // namespace

bool InitDemo(int32_t width, int32_t height, int32_t bits, bool fullscreen, bool vsync) {
  platform::Video& video = *DemoVideo;
  if (!pixelFormatFilled) {
    PixelFormatRequest.colorBits = bits & 0xFF;
    PixelFormatRequest.depthBits = 8;
    pixelFormatFilled = true;
  }
  // The dialog's multisampling box reaches the surface request here.
  platform::SurfaceFormat format = PixelFormatRequest;
  format.samples = (ActiveSettings && ActiveSettings->multisample) ? kMultisampleSamples : 0;

  // No display (or a backend that cannot start) and a refused full-screen
  // mode stop start-up here, before any window exists.
  if (!video.RegisterWindowClass(MainWindowProc)) return false;
  if (fullscreen && !video.SwitchDisplayMode(width, height, bits)) return false;

  const platform::ScreenSize screen = video.GetScreenSize();
  // Full screen on a display that did not switch to the chosen size (its
  // modes are only pretended) is drawn off screen and scaled: the samples
  // go to the off-screen picture, not to a window it is only copied into.
  const bool drawnOffscreen = fullscreen && (screen.width != width || screen.height != height);
  const int offscreenSamples = drawnOffscreen ? format.samples : 0;
  if (drawnOffscreen) format.samples = 0;
  platform::WindowSpec spec;
  spec.title = "sorvane";
  spec.x = (screen.width >> 1) - (width >> 1);
  spec.y = (screen.height >> 1) - (height >> 1);
  spec.width = width;
  spec.height = height;
  spec.fullscreen = fullscreen;
  spec.format = format;

  DemoWindow = video.OpenWindow(spec);
  if (!DemoWindow) return false;
  DemoDC = video.GetDrawable(DemoWindow);
  if (!DemoDC) return false;
  const int formatIndex = video.ChooseSurfaceFormat(DemoDC, format);
  if (formatIndex == 0) return false;
  if (!video.ApplySurfaceFormat(DemoDC, formatIndex)) return false;
  DemoGLContext = video.CreateContext(DemoDC);
  if (!DemoGLContext) return false;
  if (!video.MakeCurrent(DemoDC)) return false;

  // Laid out for the size asked for; the frame loop follows the window if
  // its size changes (layout.cpp).
  const Viewport vp = LetterboxViewport(width, height);
  glViewport(vp.x, vp.y, vp.width, vp.height);

  video.Show(DemoWindow);
  video.Focus(DemoWindow);
  video.HideCursor();

  glewInit();
  if (!GLEW_ARB_shading_language_100) return false;
  if (!GLEW_ARB_shader_objects) return false;
  if (!GLEW_ARB_fragment_shader) return false;

  SetFixedGlState();
  if (video.HasSwapControl()) video.SetSwapInterval(vsync ? 1 : 0);
  StartLayout(width, height, fullscreen, offscreenSamples);

  ilInit();

  // The relief, then the veil, each made and initialised. A layer whose
  // images cannot be loaded throws out of its init: the demo must not go on
  // without its textures, and this is start-up's one way to report it.
  try {
    DemoPicture.Start(DemoEffectFactory);
  } catch (const ResourceError&) {
    return false;
  }

  if (!DemoAudio->Init(-1, 44100)) return false;
  MusicStream = DemoAudio->StreamCreateFile(datafiles::kMusic);
  if (MusicStream == 0) return false;
  DemoAudio->Start();
  DemoAudio->ChannelPlay(MusicStream, false);
  return true;
}
