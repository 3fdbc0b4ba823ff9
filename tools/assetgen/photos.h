// Procedural photographs: six seamless material images for the demo's layers.
//
// RenderPhoto draws one material into a size x size RGB image. Each image
// tiles in both directions (all of its noise is periodic over the image, see
// noise.h), carries detail down to about two pixels and is dithered by up to
// one level before quantising, so smooth gradients do not band. The same
// material and size always give the same pixels. Features are fixed
// fractions of the image and the finest octave follows the size, so any size
// from 16 up works (the demo uses 1024). Never fails.
//
//   Stone     sandstone blocks with cracks and ridged relief; clear mid-scale
//             height in its grey value, meant as the relief source
//   Rust      orange rust eating into brushed, cool steel
//   Marble    honey-coloured marble with dark and pale veins
//   Cloud     light, warm cloud over cool shadow (a light multiplier)
//   Caustics  bright water caustics over pale aqua (a light multiplier)
//   Bark      pale fibrous bark with dark furrows (a light multiplier)
#pragma once

#include "tools/assetgen/image.h"

namespace sorvane::assetgen {

enum class Photo { Stone, Rust, Marble, Cloud, Caustics, Bark };

RgbImage RenderPhoto(Photo photo, int size);

}  // namespace sorvane::assetgen
