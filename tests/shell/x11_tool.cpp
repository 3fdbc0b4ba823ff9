// A small X11 helper for the process tests, which need what xdotool cannot
// do reliably (it misses windows whose title is typed UTF8_STRING):
//   x11_tool list TITLE    prints "ID WIDTH HEIGHT" for each viewable
//                          top-level window titled exactly TITLE
//   x11_tool close TITLE   asks those windows to close, the way a window
//                          manager's close box does (WM_DELETE_WINDOW)
//   x11_tool focus TITLE   shows a small window titled TITLE that takes the
//                          keyboard focus, as another program's window does,
//                          and keeps it until the tool is ended
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

// Another program's window, focused once it is on the screen; runs until
// the tool is ended.
int TakeFocus(Display* d, const char* title) {
  const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
  XStoreName(d, w, title);
  XSelectInput(d, w, StructureNotifyMask);
  XMapRaised(d, w);
  for (XEvent e;;) {
    XNextEvent(d, &e);
    if (e.type == MapNotify) break;
  }
  XSetInputFocus(d, w, RevertToParent, CurrentTime);
  XFlush(d);
  for (XEvent e;;) XNextEvent(d, &e);
}

int main(int argc, char** argv) {
  const bool known = argc == 3 && (std::strcmp(argv[1], "list") == 0 || std::strcmp(argv[1], "close") == 0 ||
                                   std::strcmp(argv[1], "focus") == 0);
  if (!known) {
    std::fprintf(stderr, "usage: x11_tool list|close|focus TITLE\n");
    return 2;
  }
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "x11_tool: no display\n");
    return 1;
  }
  if (argv[1][0] == 'f') return TakeFocus(d, argv[2]);
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
