// The relief strip: texture coordinates run 0..26 along it, 0..1 across.
//
// Everything that depends on time alone is worked out here, once for each of
// the strip's four vertices, from the score's timeline: the look of the
// section (which photographs lead, the light's colour, reach and path, how
// far the circles have opened), the swell, the chords and the bells. What
// varies over the picture but is affine in the strip's coordinates (where a
// pixel lies relative to the light, the circles and the bells) is computed
// here too and interpolated exactly; the rest is "steady" (see abs.frag).
#version 120
#ifdef GL_EXT_gpu_shader4
#extension GL_EXT_gpu_shader4 : enable
#define steady flat varying  // the same all over the strip: nothing to interpolate
#else
#define steady varying
#endif
uniform float t;  // kTimeScale × seconds

varying vec2 uv;         // the relief and the stone
varying vec4 uvPhotos;   // the rust and the marble, drifting apart
varying vec2 toLight;    // from the pixel to the light, in world units
varying vec4 circles;    // from the two circles' centres to the pixel, in radii
varying vec4 toBells;    // from the two newest bells to the pixel, each scaled
                         //   by its ripple's sharpness
steady vec4 light;       // colour × strength, and the falloff of its reach
steady vec4 leading;     // weights of stone, rust, marble outside the circles; relief depth
steady vec4 revealed;    // ... and inside them; the ambient share of the light
steady vec4 ripples;     // their squared radii × sharpness, and strengths

// <timeline>
// The build fills this block with timeline.glsl and the score's events.
// </timeline>

// One strip texture unit is 4 world units along and 2 across; the camera
// shows 2.49 × 1.24 world units around the view's centre.
const vec2 kWorld = vec2(4.0, 2.0);

// The looks of the five sections, in order: opening, first swell, thinning,
// great swell, settling.
vec3 lightColourOf(int s) {
  if (s == 0) return vec3(0.95, 0.66, 0.5);   // rose-amber dawn
  if (s == 1) return vec3(1.0, 0.78, 0.45);   // gold
  if (s == 2) return vec3(0.42, 0.55, 1.0);   // cold moonlight
  if (s == 3) return vec3(1.0, 0.88, 0.66);   // white gold
  return vec3(1.0, 0.32, 0.12);               // embers
}
// Reach of the light (its falloff: smaller reaches further), the size of
// its path across the view (x, y) and its strength.
vec4 lightShapeOf(int s) {
  if (s == 0) return vec4(1.5, 0.45, 0.22, 1.5);
  if (s == 1) return vec4(0.9, 0.70, 0.30, 1.5);
  if (s == 2) return vec4(1.2, 0.35, 0.18, 1.8);
  if (s == 3) return vec4(0.45, 0.85, 0.36, 1.4);
  return vec4(1.0, 0.65, 0.30, 1.4);
}
// The ambient light as a share of the light's own colour (the shadows keep
// its hue), and the depth of the relief (the stone's cracks soften where
// other photographs lead).
vec2 shadeOf(int s) {
  if (s == 0) return vec2(0.10, 1.0);
  if (s == 1) return vec2(0.12, 0.8);
  if (s == 2) return vec2(0.16, 1.0);
  if (s == 3) return vec2(0.14, 0.35);
  return vec2(0.09, 0.8);
}
// Stone, rust and marble: which lead, and which the circles reveal.
vec3 leadingOf(int s) {
  if (s == 0) return vec3(1.0, 0.0, 0.0);
  if (s == 1) return vec3(0.2, 0.8, 0.0);
  if (s == 2) return vec3(1.0, 0.0, 0.0);
  if (s == 3) return vec3(0.6, 0.4, 0.0);
  return vec3(0.45, 0.0, 0.55);
}
vec3 revealedOf(int s) {
  if (s == 0) return vec3(0.0, 0.0, 1.0);
  if (s == 1) return vec3(1.0, 0.0, 0.0);
  if (s == 2) return vec3(0.0, 0.0, 1.0);
  if (s == 3) return vec3(0.0, 0.1, 0.9);
  return vec3(0.0, 1.0, 0.0);
}
// How far the circles open, before the swell adds to it.
float openingOf(int s) {
  if (s == 0) return 0.25;
  if (s == 1) return 0.42;
  if (s == 2) return 0.14;
  if (s == 3) return 0.8;
  return 0.35;
}

// A bell as it sounds `age` seconds after its onset: a ripple placed by pan
// (left to right) and pitch (low to high), starting as a wide flash and
// narrowing into a ring, larger and brighter the louder the bell and smaller
// the higher it is, decaying with the bell. Returned as the pixel's offset
// from the bell scaled by the ripple's sharpness k, k × the squared radius,
// and the strength, so the fragment shader's band is (|offset|² - r²) × k.
vec4 ripple(vec4 b, vec2 view) {
  float age = seconds - b.x;
  float pitch = clamp((b.y - 72.0) / 19.0, 0.0, 1.0);
  float size = (0.25 + 0.4 * b.z) * (1.2 - 0.5 * pitch);
  float radius = size * (1.0 - exp(-age / 0.7));
  float k = mix(4.0, 40.0, smoothstep(0.0, 1.2, age));
  // A bright strike that fades within a fraction of a second, and the
  // ring's slower decay under it.
  float strength = age >= 0.0 ? (0.4 + 1.0 * b.z) * (0.5 * exp(-age / 1.2) + 0.7 * exp(-age / 0.25)) : 0.0;
  return vec4((view - vec2(b.w * 1.05, (pitch - 0.5) * 0.8)) * sqrt(k), radius * radius * k, strength);
}

void main() {
  seconds = t / kTimeScale;
  playScore();

  uv = gl_MultiTexCoord0.xy;
  uvPhotos = vec4(uv * 0.5 + vec2(0.0035 * seconds, 0.0), uv * 0.75 + vec2(-0.0025, 0.0015) * seconds);

  // Where this vertex lies from the view's centre, in world units: the view
  // follows the camera's slide (kSlide world units a second).
  vec2 centre = vec2(0.5 + seconds * (kSlide / kWorld.x), 0.5);
  vec2 view = (uv - centre) * kWorld;

  float blend = sectionBlend();
  float lift = swell();

  // The light: the section's colour, shifted by the chord; its path turns
  // a little further at every chord change.
  vec3 colour = mix(lightColourOf(sectionBefore), lightColourOf(sectionNow), blend);
  vec2 hue = chordHue();
  colour *= 1.0 + 0.35 * (hue.x * vec3(0.25, 0.0, -0.25) + hue.y * vec3(-0.1, 0.2, -0.1));
  vec4 shape = mix(lightShapeOf(sectionBefore), lightShapeOf(sectionNow), blend);
  float angle = seconds * 0.05 + chordTurns() * 0.9;
  vec2 lightAt = vec2(cos(angle) * shape.y, sin(angle * 1.3) * shape.z);
  float strength = shape.w * (0.35 + 0.9 * lift);
  light = vec4(colour * strength, shape.x * (1.4 - 0.6 * lift));
  // The ambient light grows with the swell a little less than the light.
  vec2 look = mix(shadeOf(sectionBefore), shadeOf(sectionNow), blend);
  toLight = lightAt - view;

  leading = vec4(mix(leadingOf(sectionBefore), leadingOf(sectionNow), blend), look.y);
  revealed = vec4(mix(revealedOf(sectionBefore), revealedOf(sectionNow), blend),
                  look.x * (0.6 + 0.8 * lift) / max(strength, 0.1));

  // Two circles drifting slowly across the view, opened by the section and
  // the swell.
  float open = mix(openingOf(sectionBefore), openingOf(sectionNow), blend) * (0.5 + 0.7 * lift);
  vec2 c0 = vec2(-0.45 + 0.2 * sin(seconds * 0.031), 0.1 * cos(seconds * 0.043));
  vec2 c1 = vec2(0.55 + 0.15 * cos(seconds * 0.027), -0.12 + 0.1 * sin(seconds * 0.037));
  circles = vec4((view - c0) / (open * 0.9), (view - c1) / (open * 0.75));

  vec4 r0 = ripple(recentBell0, view), r1 = ripple(recentBell1, view);
  toBells = vec4(r0.xy, r1.xy);
  ripples = vec4(r0.z, r1.z, r0.w, r1.w);

  gl_Position = ftransform();
}
