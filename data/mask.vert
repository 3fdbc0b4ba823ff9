// The veil strip: the same geometry as the relief, so pixels coincide.
#version 120
varying vec2 uv;

void main() {
  uv = gl_MultiTexCoord0.xy;
  gl_Position = ftransform();
}
