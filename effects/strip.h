// strip.h — what both layers share: the camera and the strip they draw.
#pragma once

struct ShaderProgram;
struct TextureHandle;

// Pushes and sets both matrices for the strip at `time`: a 45° perspective at
// aspect 2, the strip 1.5 units in front of the eye and slid left with time.
// Leaves GL_MODELVIEW current.
void PushStripCamera(double time);
// One quad, x from -2 to 102 and y from -1 to 1, repeating its textures 26
// times along its length.
void DrawStrip();
// Draws the strip through `program` with textures[i] bound on unit i (the
// units the loader gave the program's samplers), uploading its registry
// first; leaves those units disabled, unit 0 active and no program in use.
void DrawStripWith(const ShaderProgram& program, const TextureHandle* const* textures, int count);
// Pops what PushStripCamera pushed; leaves GL_MODELVIEW current.
void PopCamera();
