// The relief strip: texture coordinates run 0..26 along it, 0..1 across.
#version 120
varying vec2 uv;

void main() {
  uv = gl_MultiTexCoord0.xy;
  gl_Position = ftransform();
}
