// The veil multiplied over the relief: three photographs at different scales
// drifting against each other, with slow amber rings, mostly bright so the
// relief shows through; times the fade, so the picture rises from black and
// returns to it. It never exceeds 1, so it only ever darkens the relief.
//
// Samplers are named so that declaration order and alphabetical order agree;
// the loader binds them to units 0..2 in that order.
#version 120
uniform sampler2D u0_veil;   // unit 0
uniform sampler2D u1_grain;  // unit 1
uniform sampler2D u2_haze;   // unit 2
uniform float t;             // 0.3 × seconds
uniform float fade;          // 0..1, negative after the end: clamped here
varying vec2 uv;

const vec2 kWorld = vec2(4.0, 2.0);

void main() {
  vec3 veil = texture2D(u0_veil, uv * 0.5 + vec2(-0.004 * t, 0.002 * t)).rgb;
  vec3 grain = texture2D(u1_grain, uv * 0.75 + vec2(0.003 * t, 0.0)).rgb;
  vec3 haze = texture2D(u2_haze, uv * 0.25 + vec2(0.0, -0.003 * t)).rgb;

  float light = dot(veil, vec3(0.333)) * 0.5 + dot(grain, vec3(0.333)) * 0.3 + dot(haze, vec3(0.333)) * 0.2;
  vec3 tint = mix(vec3(1.0), normalize(veil * 0.6 + haze * 0.4 + 0.2) * 1.5, 0.25);

  // Rings spreading from the centre of view, very slowly.
  vec2 centre = vec2(0.5 + t / 30.0, 0.5);
  float d = length((uv - centre) * kWorld);
  float rings = 0.5 + 0.5 * sin(d * 9.0 - t * 1.3);
  vec3 amber = mix(vec3(1.0), vec3(1.0, 0.82, 0.58), rings * 0.45);

  vec3 colour = clamp((0.62 + 0.45 * light) * tint * amber, 0.0, 1.0);
  gl_FragColor = vec4(colour * clamp(fade, 0.0, 1.0), 1.0);
}
