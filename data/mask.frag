// The veil multiplied over the relief: the section's photographs seen in its
// tint, thinned by the swell, times the fade, so the picture rises from black
// and returns to it. It never exceeds 1, so it only ever darkens the relief.
// Everything that depends on time arrives from mask.vert.
//
// Samplers are named so that declaration order and alphabetical order agree;
// the loader binds them to units 0..2 in that order.
#version 120
uniform sampler2D u0_veil;   // unit 0: cloud
uniform sampler2D u1_grain;  // unit 1: water caustics
uniform sampler2D u2_haze;   // unit 2: bark

varying vec2 uvCloud;
varying vec2 uvWater;
varying vec2 uvBark;
varying vec3 weights;
varying vec3 clear;
varying vec3 tinted;

void main() {
  vec3 veil = texture2D(u0_veil, uvCloud).rgb * weights.x + texture2D(u1_grain, uvWater).rgb * weights.y +
              texture2D(u2_haze, uvBark).rgb * weights.z;
  gl_FragColor = vec4(min(clear + tinted * veil, 1.0), 1.0);
}
