// IL/il.h — the image-decoding calls the demo makes, for platforms where the
// DevIL library itself cannot be had (the Windows build).
//
// What it is for: gpu/texture.cpp, the capture tool and the tests are written
// against DevIL's API. This header declares the part of that API they use,
// with DevIL's own names, types and values, and ilcompat.cpp serves it with
// libjpeg-turbo (JPEG) and libpng (PNG), so the same sources build unchanged.
// Images come out exactly as DevIL gives them on Linux: rows in file order
// (first row first), JPEG decoded with libjpeg's defaults, grey and RGB
// widened to RGBA with an opaque alpha by ilCopyPixels.
//
// How to use it: as DevIL — ilInit once, ilGenImages + ilBindImage, then
// ilLoadImage, ilGetInteger(IL_IMAGE_WIDTH / IL_IMAGE_HEIGHT), ilCopyPixels,
// ilDeleteImages. ilTexImage and ilSaveImage (JPEG, PNG) exist for tests that
// write images of their own.
//
// How it fails: like DevIL — a false (or 0) result and an error code on a
// stack of at most 32 that ilGetError pops, newest first:
// IL_COULD_NOT_OPEN_FILE (missing or unreadable file), IL_INVALID_EXTENSION
// (neither a JPEG nor a PNG), IL_LIB_JPEG_ERROR / IL_LIB_PNG_ERROR (data the
// decoder refuses, including a file that ends early), IL_OUT_OF_MEMORY,
// IL_INVALID_PARAM (a rectangle or format outside the image),
// IL_FILE_ALREADY_EXISTS (ilSaveImage without IL_FILE_OVERWRITE). Nothing
// throws or aborts. Not thread-safe, as DevIL is not.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned int ILenum;
typedef unsigned char ILboolean;
typedef int ILint;
typedef size_t ILsizei;
typedef unsigned char ILubyte;
typedef unsigned int ILuint;
typedef const char* ILconst_string;

#define IL_FALSE 0
#define IL_TRUE 1

#define IL_RGB 0x1907
#define IL_RGBA 0x1908
#define IL_LUMINANCE 0x1909
#define IL_UNSIGNED_BYTE 0x1401

#define IL_NO_ERROR 0x0000
#define IL_INVALID_ENUM 0x0501
#define IL_OUT_OF_MEMORY 0x0502
#define IL_INVALID_PARAM 0x0509
#define IL_COULD_NOT_OPEN_FILE 0x050A
#define IL_INVALID_EXTENSION 0x050B
#define IL_FILE_ALREADY_EXISTS 0x050C
#define IL_FILE_READ_ERROR 0x0512
#define IL_FILE_WRITE_ERROR 0x0512
#define IL_LIB_JPEG_ERROR 0x05E2
#define IL_LIB_PNG_ERROR 0x05E3

#define IL_ORIGIN_LOWER_LEFT 0x0601
#define IL_ORIGIN_UPPER_LEFT 0x0602
#define IL_FILE_OVERWRITE 0x0620

#define IL_IMAGE_WIDTH 0x0DE4
#define IL_IMAGE_HEIGHT 0x0DE5
#define IL_IMAGE_DEPTH 0x0DE6
#define IL_IMAGE_BPP 0x0DE8
#define IL_IMAGE_BYTES_PER_PIXEL 0x0DE8
#define IL_IMAGE_FORMAT 0x0DEA
#define IL_IMAGE_TYPE 0x0DEB
#define IL_CUR_IMAGE 0x0DF7
#define IL_IMAGE_ORIGIN 0x0DFE

void ilInit(void);
void ilGenImages(ILsizei count, ILuint* names);
void ilBindImage(ILuint name);
void ilDeleteImages(ILsizei count, const ILuint* names);
ILboolean ilIsImage(ILuint name);
ILboolean ilLoadImage(ILconst_string fileName);
ILboolean ilSaveImage(ILconst_string fileName);
ILboolean ilTexImage(ILuint width, ILuint height, ILuint depth, ILubyte channels, ILenum format, ILenum type,
                     void* data);
ILint ilGetInteger(ILenum mode);
// Copies a width × height rectangle from (x, y) of the bound image, rows in
// the image's own order, converted to `format` (IL_RGBA, IL_RGB, or
// IL_LUMINANCE from a grey image) as unsigned bytes. Returns the bytes
// written, 0 on failure.
ILuint ilCopyPixels(ILuint x, ILuint y, ILuint z, ILuint width, ILuint height, ILuint depth, ILenum format,
                    ILenum type, void* data);
ILboolean ilEnable(ILenum mode);
ILenum ilGetError(void);

#ifdef __cplusplus
}
#endif
