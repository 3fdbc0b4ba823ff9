// icon.h — the program's icon for desktop menus, made like the rest of the
// content: amber circles opening over dark stone, as an SVG document (the
// freedesktop icon themes take scalable icons). Pure text, never fails.
#pragma once

#include <string>

namespace sorvane::assetgen {

std::string MakeIconSvg();

}  // namespace sorvane::assetgen
