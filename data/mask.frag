// The veil multiplied over the relief: the section's photographs seen in its
// tint, thinned by the swell, times the fade, so the picture rises from black
// and returns to it. The weights sum to 1 and the tints stay under 1, so it
// never exceeds 1: it only ever darkens the relief.
// Everything that depends on time arrives from mask.vert.
//
// Samplers are named so that declaration order and alphabetical order agree;
// the loader binds them to units 0..2 in that order. "steady": see abs.frag.
#version 120
#ifdef GL_EXT_gpu_shader4
#extension GL_EXT_gpu_shader4 : enable
#define steady flat varying  // the same all over the strip: nothing to interpolate
#else
#define steady varying
#endif
uniform sampler2D u0_veil;   // unit 0: cloud
uniform sampler2D u1_grain;  // unit 1: water caustics
uniform sampler2D u2_haze;   // unit 2: bark

varying vec4 uvCloudWater;
varying vec2 uvBark;
steady vec4 weights;
steady vec3 tinted;

void main() {
  vec3 veil = texture2D(u0_veil, uvCloudWater.xy).rgb * weights.x + texture2D(u1_grain, uvCloudWater.zw).rgb * weights.y +
              texture2D(u2_haze, uvBark).rgb * weights.z;
  gl_FragColor = vec4(weights.w + tinted * veil, 1.0);
}
