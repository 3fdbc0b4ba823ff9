// normal_map.h — the relief normal map, computed on the CPU from a photograph.
//
// Buffer layout: `width` columns × `height` rows of RGBA8, rows packed without
// gaps, pixel (row i, column j) at byte 4 × (i × width + j). Both passes work
// in place: GreyToAlpha writes the height (R + G + B) div 3 into A;
// BuildNormalMap then reads only A and writes the encoded normal into R, G, B
// (R: x along a row, G: z out of the image, B: y across rows; 128 + 128 × n
// rounded down; a flat area is (128, 255, 128)).
//
// The neighbourhood wraps around both edges, as the texture repeats when
// drawn, so any size from 1 × 1 upwards works. Neither pass fails or
// allocates; the bytes are fixed by the normalisation described in
// normal_map.cpp. Run BuildNormalMap only after GreyToAlpha has finished for
// the whole buffer: every pixel reads heights from its four neighbours.
#pragma once

#include <cstdint>

// Height pass: A = (R + G + B) / 3, remainder discarded; R, G, B unchanged.
void GreyToAlpha(uint8_t* rgba, int width, int height);

// Normal pass over a buffer whose A bytes hold heights; A is left unchanged.
void BuildNormalMap(int width, int height, uint8_t* rgba);
