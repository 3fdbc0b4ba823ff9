#include "tools/assetgen/icon.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace sorvane::assetgen {

std::string MakeIconSvg() {
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n"
      "  <defs>\n"
      "    <radialGradient id=\"amber\" cx=\"0.4\" cy=\"0.35\" r=\"0.7\">\n"
      "      <stop offset=\"0\" stop-color=\"#ffd58a\"/>\n"
      "      <stop offset=\"0.55\" stop-color=\"#e08a2c\"/>\n"
      "      <stop offset=\"1\" stop-color=\"#7a3410\"/>\n"
      "    </radialGradient>\n"
      "  </defs>\n"
      "  <rect x=\"8\" y=\"8\" width=\"240\" height=\"240\" rx=\"40\" fill=\"#1c1512\"/>\n";
  // Five circles on a slow spiral, each larger and fainter than the last,
  // as the circles open through the picture.
  for (int i = 0; i < 5; ++i) {
    const double angle = 0.9 + i * 2.0 * std::numbers::pi * 0.38;
    const double reach = 18.0 + 11.0 * i;
    char circle[160];
    std::snprintf(circle, sizeof circle,
                  "  <circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"url(#amber)\" fill-opacity=\"%.2f\"/>\n",
                  128.0 + reach * std::cos(angle), 128.0 + reach * std::sin(angle), 78.0 - 10.0 * i, 0.85 - 0.13 * i);
    svg += circle;
  }
  svg += "  <circle cx=\"104\" cy=\"96\" r=\"10\" fill=\"#fff3d6\" fill-opacity=\"0.9\"/>\n</svg>\n";
  return svg;
}

}  // namespace sorvane::assetgen
