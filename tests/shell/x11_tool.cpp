// A small X11 helper for the process tests, which need what xdotool cannot
// do reliably (it misses windows whose title is typed UTF8_STRING):
//   x11_tool list TITLE    prints "ID WIDTH HEIGHT" for each viewable
//                          top-level window titled exactly TITLE
//   x11_tool close TITLE   asks those windows to close, the way a window
//                          manager's close box does (WM_DELETE_WINDOW)
// Exit status 0 when at least one window matched.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Title(Display* d, Window w) {
  XTextProperty prop{};
  if (!XGetWMName(d, w, &prop) || !prop.value) return {};
  std::string title(reinterpret_cast<char*>(prop.value), prop.nitems);
  XFree(prop.value);
  return title;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "list") != 0 && std::strcmp(argv[1], "close") != 0)) {
    std::fprintf(stderr, "usage: x11_tool list|close TITLE\n");
    return 2;
  }
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "x11_tool: no display\n");
    return 1;
  }
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
  int matched = 0;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
    if (Title(d, children[i]) != argv[2]) continue;
    ++matched;
    if (argv[1][0] == 'l') {
      std::printf("%lu %d %d\n", children[i], a.width, a.height);
      continue;
    }
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = children[i];
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, children[i], False, NoEventMask, &e);
  }
  if (children) XFree(children);
  XFlush(d);
  XCloseDisplay(d);
  return matched ? 0 : 1;
}
