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
varying vec4 uvPhotos;   // the rust and the marble, drifting apart
varying vec2 toLight;    // from the pixel to the light, in world units
varying vec4 light;      // colour × strength, and the falloff of its reach
varying vec4 shade;      // ambient (a share of the light), relief depth, rim glow
varying vec3 leading;    // weights of stone, rust, marble outside the circles
varying vec3 revealed;   // ... and inside them
varying vec4 circles;    // from the two circles' centres to the pixel
varying vec4 opening;    // the circles' squared radii, and 1 / twice each radius
varying vec4 ripple0;    // the three newest bells' ripples, newest first (see
varying vec4 ripple1;    //   ripple() below)
varying vec4 ripple2;
varying vec3 bellPitch;  // 0 (lowest) .. 1 (highest) for each ripple

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
  if (s == 3) return vec3(1.0, 0.88, 0.66);   // white gold
  return vec3(1.0, 0.42, 0.20);               // embers
}
// Reach of the light (its falloff: smaller reaches further), the size of
// its path across the view (x, y) and its strength.
vec4 lightShapeOf(int s) {
  if (s == 0) return vec4(1.5, 0.45, 0.22, 1.5);
  if (s == 1) return vec4(0.9, 0.70, 0.30, 1.5);
  if (s == 2) return vec4(1.2, 0.35, 0.18, 1.8);
  if (s == 3) return vec4(0.45, 0.85, 0.36, 1.4);
  return vec4(1.2, 0.50, 0.26, 1.4);
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
  return vec3(0.6, 0.0, 0.4);
}
vec3 revealedOf(int s) {
  if (s == 0) return vec3(0.0, 0.0, 1.0);
  if (s == 1) return vec3(1.0, 0.0, 0.0);
  if (s == 2) return vec3(0.0, 1.0, 0.0);
  if (s == 3) return vec3(0.0, 0.1, 0.9);
  return vec3(0.0, 1.0, 0.0);
}
// How far the circles open, before the swell adds to it.
float openingOf(int s) {
  if (s == 0) return 0.25;
  if (s == 1) return 0.55;
  if (s == 2) return 0.08;
  if (s == 3) return 0.8;
  return 0.35;
}

// A bell as it sounds `age` seconds after its onset: a ripple placed by pan
// (left to right) and pitch (low to high), starting as a wide flash and
// narrowing into a ring as large as the bell is loud, decaying with the
// bell. Returned as the pixel's offset from the bell scaled by the ripple's
// sharpness k, k × the squared radius, and the strength, so the fragment
// shader's band is (|offset|² - r²) × k.
vec4 ripple(vec4 b, vec2 view) {
  float age = seconds - b.x;
  float pitch = clamp((b.y - 72.0) / 19.0, 0.0, 1.0);
  float size = 0.25 + 0.4 * b.z;
  float radius = size * (1.0 - exp(-age / 0.7));
  float k = mix(4.0, 40.0, smoothstep(0.0, 1.2, age));
  // A bright strike that fades within a fraction of a second, and the
  // ring's slower decay under it.
  float strength = age >= 0.0 ? (0.4 + 1.0 * b.z) * (0.5 * exp(-age / 1.2) + 0.7 * exp(-age / 0.25)) : 0.0;
  return vec4((view - vec2(b.w * 1.05, (pitch - 0.5) * 0.8)) * sqrt(k), radius * radius * k, strength);
}

float pitchOf(vec4 b) { return clamp((b.y - 72.0) / 19.0, 0.0, 1.0); }

void main() {
  seconds = t / 0.3;
  playScore();

  uv = gl_MultiTexCoord0.xy;
  uvPhotos = vec4(uv * 0.5 + vec2(0.0035 * seconds, 0.0), uv * 0.75 + vec2(-0.0025, 0.0015) * seconds);

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
  vec2 look = mix(shadeOf(sectionBefore), shadeOf(sectionNow), blend);
  shade = vec4(look.x * (0.6 + 0.8 * lift) / max(shape.w * (0.35 + 0.9 * lift), 0.1), look.y, 0.25 + 0.35 * lift, 0.0);

  leading = mix(leadingOf(sectionBefore), leadingOf(sectionNow), blend);
  revealed = mix(revealedOf(sectionBefore), revealedOf(sectionNow), blend);

  // Two circles drifting slowly across the view, opened by the section and
  // the swell.
  float open = mix(openingOf(sectionBefore), openingOf(sectionNow), blend) * (0.5 + 0.7 * lift);
  vec2 c0 = vec2(-0.45 + 0.2 * sin(seconds * 0.031), 0.1 * cos(seconds * 0.043));
  vec2 c1 = vec2(0.55 + 0.15 * cos(seconds * 0.027), -0.12 + 0.1 * sin(seconds * 0.037));
  circles = vec4(view - c0, view - c1);
  vec2 radii = vec2(open * 0.9, open * 0.75);
  opening = vec4(radii * radii, 0.5 / radii);

  ripple0 = ripple(recentBell0, view);
  ripple1 = ripple(recentBell1, view);
  ripple2 = ripple(recentBell2, view);
  bellPitch = vec3(pitchOf(recentBell0), pitchOf(recentBell1), pitchOf(recentBell2));

  gl_Position = ftransform();
}
