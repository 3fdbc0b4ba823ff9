// The score, as both vertex shaders see it. The build places this file and,
// after it, a generated function playScore() into the marked block of each
// vertex shader. playScore() calls section(), chord(), dynamics() and bell()
// once for every event of the score, in time order; each call folds its event
// into the state of the moment `seconds`, which the caller sets first. So the
// picture reads the very timeline the music was rendered from.
//
// Everything here runs for the strip's four vertices only; the fragment
// shaders receive what it yields as varyings.

float seconds = 0.0;  // music position: t / kTimeScale, set first by the caller

// The form: the section playing now, the one before it, and how far the
// picture has moved from the look of the one before to this one's (0..1,
// over kSectionBlend seconds from the section's first chord).
const float kSectionBlend = 9.0;
int sectionNow = 0;
int sectionBefore = 0;
float sectionSince = 1e4;

void section(float start, int index) {
  if (seconds >= start) {
    sectionBefore = sectionNow;
    sectionNow = index;
    sectionSince = seconds - start;
  }
}

float sectionBlend() { return smoothstep(0.0, kSectionBlend, sectionSince); }

// The harmony: the chord sounding now and the one before it (roots as pitch
// classes, 0 = C), the seconds since the change, and how many changes there
// have been.
float rootNow = 2.0;
float rootBefore = 2.0;
float chordSince = 1e4;
float chordChanges = -1.0;

void chord(float start, float root) {
  if (seconds >= start) {
    rootBefore = rootNow;
    rootNow = root;
    chordSince = seconds - start;
    chordChanges += 1.0;
  }
}

// The chord changes so far, the latest eased in over its first seven
// seconds: one step per chord, continuous in time (the light's path turns by
// a step at every change).
float chordTurns() { return chordChanges + smoothstep(0.0, 7.0, chordSince); }

// The root's place on the circle of fifths as an angle, so that related
// chords get related hues.
float rootAngle(float root) { return mod(root * 7.0, 12.0) * 0.5235988; }

// The hue of the light for the harmony, easing from the chord before to
// this one over five seconds: a unit vector to rotate colours with.
vec2 chordHue() {
  vec2 before = vec2(cos(rootAngle(rootBefore)), sin(rootAngle(rootBefore)));
  vec2 now = vec2(cos(rootAngle(rootNow)), sin(rootAngle(rootNow)));
  vec2 h = mix(before, now, smoothstep(0.0, 5.0, chordSince));
  return h / max(length(h), 1e-3);
}

// The dynamics: the keyframes on either side of now (seconds, pad level,
// cutoff in Hz), interpolated linearly as the synthesiser does.
vec3 keyBefore = vec3(-1.0, 0.0, 400.0);
vec3 keyAfter = vec3(-1.0, 0.0, 400.0);

void dynamics(float time, float pad, float cutoff) {
  if (seconds >= time) {
    keyBefore = vec3(time, pad, cutoff);
    keyAfter = keyBefore;
  } else if (keyAfter.x <= seconds) {
    keyAfter = vec3(time, pad, cutoff);
  }
}

// How loud and open the music is now, 0 (the quietest, darkest pad) to 1
// (the great swell): the pad's level in decibels plus the brightness its
// filter adds, on the scale of the piece's own range.
float swell() {
  float w = keyAfter.x > keyBefore.x ? (seconds - keyBefore.x) / (keyAfter.x - keyBefore.x) : 0.0;
  vec2 now = mix(keyBefore.yz, keyAfter.yz, clamp(w, 0.0, 1.0));
  float level = 20.0 * log2(max(now.x, 1e-3)) * 0.30103 + 4.0 * log2(max(now.y, 1.0) / 380.0);
  return clamp((level + 10.5) / 21.4, 0.0, 1.0);
}

// The bells: the two most recent onsets up to now, newest first, each as
// (onset seconds, MIDI pitch, velocity 0..1, pan -1..1); a third has faded
// by the time the next one sounds. Before the first bell they hold onsets
// far in the past, which draw nothing.
vec4 recentBell0 = vec4(-1e4, 72.0, 0.0, 0.0);
vec4 recentBell1 = vec4(-1e4, 72.0, 0.0, 0.0);

void bell(float onset, float midi, float velocity, float pan) {
  if (seconds >= onset) {
    recentBell1 = recentBell0;
    recentBell0 = vec4(onset, midi, velocity, pan);
  }
}
