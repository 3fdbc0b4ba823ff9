// The veil strip: the same geometry as the relief, so pixels coincide.
//
// As in abs.vert, everything that depends on time alone is worked out here
// from the score's timeline, once per vertex: which photographs make the
// veil, how dense and what tint it has in each section, how the swell opens
// it, and the fade at both ends. "steady": see abs.frag.
#version 120
#ifdef GL_EXT_gpu_shader4
#extension GL_EXT_gpu_shader4 : enable
#define steady flat varying  // the same all over the strip: nothing to interpolate
#else
#define steady varying
#endif
uniform float t;     // kTimeScale × seconds
uniform float fade;  // 0..1, negative after the end: clamped here

varying vec4 uvCloudWater;
varying vec2 uvBark;
steady vec4 weights;   // cloud, caustics, bark; and what the veil lets through everywhere ...
steady vec3 tinted;    // ... besides its photographs, seen in this tint

// <timeline>
// The build fills this block with timeline.glsl and the score's events.
// </timeline>

// The veils of the five sections, in order: opening, first swell, thinning,
// great swell, settling.
vec3 photographsOf(int s) {
  if (s == 0) return vec3(1.0, 0.0, 0.0);   // soft cloud
  if (s == 1) return vec3(0.3, 0.0, 0.7);   // bark, pale and fibrous
  if (s == 2) return vec3(0.0, 1.0, 0.0);   // water light at night
  if (s == 3) return vec3(0.8, 0.0, 0.2);   // thin bright cloud
  return vec3(0.15, 0.0, 0.85);             // bark, dark-furrowed
}
// How much of the veil is photograph rather than clear light.
float densityOf(int s) {
  if (s == 0) return 0.65;
  if (s == 1) return 0.6;
  if (s == 2) return 0.8;
  if (s == 3) return 0.4;
  return 0.8;
}
vec3 tintOf(int s) {
  if (s == 0) return vec3(0.94, 0.9, 1.0);
  if (s == 1) return vec3(1.0, 0.95, 0.85);
  if (s == 2) return vec3(0.8, 0.9, 1.0);
  if (s == 3) return vec3(1.0, 0.97, 0.9);
  return vec3(1.0, 0.8, 0.68);
}

void main() {
  seconds = t / kTimeScale;
  playScore();

  vec2 uv = gl_MultiTexCoord0.xy;
  uvCloudWater = vec4(uv * 0.4 + vec2(-0.004, 0.002) * seconds, uv * 0.75 + vec2(0.003, 0.001) * seconds);
  uvBark = uv * 0.6 + vec2(0.0, -0.003 * seconds);

  float blend = sectionBlend();
  float lift = swell();
  weights.xyz = mix(photographsOf(sectionBefore), photographsOf(sectionNow), blend);
  // The swell thins the veil and brightens what it lets through.
  float density = mix(densityOf(sectionBefore), densityOf(sectionNow), blend) * (1.15 - 0.45 * lift);
  float gain = clamp(fade, 0.0, 1.0) * (0.55 + 0.45 * lift);
  weights.w = (1.0 - density) * gain;
  tinted = mix(tintOf(sectionBefore), tintOf(sectionNow), blend) * density * gain;

  gl_Position = ftransform();
}
