// The relief strip: texture coordinates run 0..26 along it, 0..1 across.
//
// Everything that depends on time alone is worked out here, once for each of
// the strip's four vertices, from the score's timeline: the look of the
// section (which photographs lead, the light's colour, reach and path, how
// far the circles have opened), the swell, the chords and the bells. What
// varies over the picture but is affine in the strip's coordinates (where a
// pixel lies relative to the light, the circles and the bells) is computed
// here too and interpolated exactly.
#version 120
uniform float t;  // 0.3 × seconds

varying vec2 uv;         // the relief and the stone
varying vec2 uvRust;     // the rust, drifting
varying vec2 uvMarble;   // the marble, drifting the other way
varying vec2 toLight;    // from the pixel to the light, in world units
varying vec4 light;      // colour × strength, and the falloff of its reach
varying vec4 ambient;    // colour, and how deep the stone's relief is
varying vec3 rimColour;  // the glow of the circles' rims
varying vec3 leading;    // weights of stone, rust, marble outside the circles
varying vec3 revealed;   // ... and inside them
varying vec4 circles;    // from the pixel to the two circles' centres
varying vec2 opening;    // the two circles' radii
varying vec2 toBell0;    // from the three newest bells to the pixel
varying vec2 toBell1;
varying vec2 toBell2;
varying vec4 ring0;      // radius, 1 / width, ring strength, glint strength
varying vec4 ring1;
varying vec4 ring2;
varying vec3 bellColour0;
varying vec3 bellColour1;
varying vec3 bellColour2;

// <timeline>
// The build fills this block with timeline.glsl and the score's events.
// </timeline>

// One strip texture unit is 4 world units along and 2 across; the camera
// shows 2.49 × 1.24 of them around the view's centre.
const vec2 kWorld = vec2(4.0, 2.0);

// The looks of the five sections, in order: opening, first swell, thinning,
// great swell, settling.
vec3 lightColourOf(int s) {
  if (s == 0) return vec3(1.0, 0.60, 0.30);   // low amber dawn
  if (s == 1) return vec3(1.0, 0.78, 0.45);   // gold
  if (s == 2) return vec3(0.42, 0.55, 1.0);   // cold moonlight
  if (s == 3) return vec3(1.0, 0.92, 0.74);   // white gold
  return vec3(1.0, 0.42, 0.20);               // embers
}
// Reach of the light (its falloff: smaller reaches further), the size of
// its path across the view (x, y) and its strength.
vec4 lightShapeOf(int s) {
  if (s == 0) return vec4(1.5, 0.45, 0.22, 1.5);
  if (s == 1) return vec4(0.9, 0.70, 0.30, 1.5);
  if (s == 2) return vec4(1.6, 0.35, 0.18, 1.4);
  if (s == 3) return vec4(0.45, 0.85, 0.36, 1.4);
  return vec4(1.2, 0.50, 0.26, 1.4);
}
// Ambient colour, and the depth of the relief (the stone's cracks soften
// where other photographs lead).
vec4 ambientOf(int s) {
  if (s == 0) return vec4(0.10, 0.09, 0.10, 1.0);
  if (s == 1) return vec4(0.13, 0.11, 0.09, 0.8);
  if (s == 2) return vec4(0.05, 0.08, 0.14, 1.0);
  if (s == 3) return vec4(0.17, 0.16, 0.14, 0.35);
  return vec4(0.09, 0.05, 0.05, 0.8);
}
// Stone, rust and marble: which lead, and which the circles reveal.
vec3 leadingOf(int s) {
  if (s == 0) return vec3(1.0, 0.0, 0.0);
  if (s == 1) return vec3(0.25, 0.75, 0.0);
  if (s == 2) return vec3(1.0, 0.0, 0.0);
  if (s == 3) return vec3(0.0, 0.15, 0.85);
  return vec3(0.55, 0.0, 0.45);
}
vec3 revealedOf(int s) {
  if (s == 0) return vec3(0.0, 1.0, 0.0);
  if (s == 1) return vec3(0.0, 0.0, 1.0);
  if (s == 2) return vec3(0.0, 0.6, 0.4);
  if (s == 3) return vec3(0.0, 1.0, 0.0);
  return vec3(1.0, 0.0, 0.0);
}
// How far the circles open, before the swell adds to it.
float openingOf(int s) {
  if (s == 0) return 0.22;
  if (s == 1) return 0.55;
  if (s == 2) return 0.08;
  if (s == 3) return 0.95;
  return 0.3;
}

// A bell's ring as it sounds `age` seconds after its onset: placed by pan
// (left to right) and pitch (low to high), sized by velocity, coloured by
// pitch, decaying with the bell.
void bellRing(vec4 b, vec2 view, out vec2 toBell, out vec4 ring, out vec3 colour) {
  float age = seconds - b.x;
  float pitch = clamp((b.y - 72.0) / 19.0, 0.0, 1.0);
  toBell = view - vec2(b.w * 1.05, (pitch - 0.5) * 0.8);
  float size = 0.22 + 0.45 * b.z;
  float radius = size * (1.0 - exp(-age / 0.8));
  float decay = exp(-age / 1.1) * step(0.0, age);
  ring = vec4(radius, 14.0 - 6.0 * b.z, 1.6 * b.z * decay, 2.2 * b.z * exp(-age / 0.35) * step(0.0, age));
  colour = mix(vec3(1.0, 0.72, 0.38), vec3(0.70, 0.88, 1.0), pitch);
}

void main() {
  seconds = t / 0.3;
  playScore();

  uv = gl_MultiTexCoord0.xy;
  uvRust = uv * 0.5 + vec2(0.0035 * seconds, 0.0);
  uvMarble = uv * 0.75 + vec2(-0.0025 * seconds, 0.0015 * seconds);

  // Where this vertex lies from the view's centre, in world units.
  vec2 centre = vec2(0.5 + seconds * 0.01, 0.5);
  vec2 view = (uv - centre) * kWorld;

  float blend = sectionBlend();
  float lift = swell();

  // The light: the section's colour, shifted by the chord; its path turns
  // a little further at every chord change.
  vec3 colour = mix(lightColourOf(sectionBefore), lightColourOf(sectionNow), blend);
  vec2 hue = chordHue();
  colour *= 1.0 + 0.2 * (hue.x * vec3(0.25, 0.0, -0.25) + hue.y * vec3(-0.1, 0.2, -0.1));
  vec4 shape = mix(lightShapeOf(sectionBefore), lightShapeOf(sectionNow), blend);
  float angle = seconds * 0.05 + chordTurns() * 0.9;
  vec2 lightAt = vec2(cos(angle) * shape.y, sin(angle * 1.3) * shape.z);
  toLight = lightAt - view;
  light = vec4(colour * shape.w * (0.35 + 0.9 * lift), shape.x * (1.4 - 0.6 * lift));
  ambient = mix(ambientOf(sectionBefore), ambientOf(sectionNow), blend);
  ambient.rgb *= 0.6 + 0.8 * lift;

  leading = mix(leadingOf(sectionBefore), leadingOf(sectionNow), blend);
  revealed = mix(revealedOf(sectionBefore), revealedOf(sectionNow), blend);

  // Two circles drifting slowly across the view, opened by the section and
  // the swell.
  float open = mix(openingOf(sectionBefore), openingOf(sectionNow), blend) * (0.5 + 0.7 * lift);
  vec2 c0 = vec2(-0.45 + 0.2 * sin(seconds * 0.031), 0.1 * cos(seconds * 0.043));
  vec2 c1 = vec2(0.55 + 0.15 * cos(seconds * 0.027), -0.12 + 0.1 * sin(seconds * 0.037));
  circles = vec4(view - c0, view - c1);
  opening = vec2(open * 0.9, open * 0.75);
  rimColour = mix(vec3(1.0, 0.55, 0.2), colour, 0.4) * (0.25 + 0.35 * lift);

  bellRing(bell0, view, toBell0, ring0, bellColour0);
  bellRing(bell1, view, toBell1, ring1, bellColour1);
  bellRing(bell2, view, toBell2, ring2, bellColour2);

  gl_Position = ftransform();
}
