// The relief layer: a photograph lit through its own normal map by a warm
// light that circles slowly over the visible part of the strip, with two
// more photographs revealed through slow expanding circles.
//
// Samplers are named so that declaration order and alphabetical order agree
// (GL implementations report active uniforms in one or the other), and the
// loader binds them to units 0..3 in that order.
#version 120
uniform sampler2D u0_normals;  // unit 0: normal map, R = x, G = z, B = y
uniform sampler2D u1_stone;    // unit 1: the photograph the normals come from
uniform sampler2D u2_amber;    // unit 2: revealed inside the circles
uniform sampler2D u3_ember;    // unit 3: revealed in the circles' rims
uniform float t;               // 0.3 × seconds
varying vec2 uv;

// One strip texture unit is 4 world units along and 2 across.
const vec2 kWorld = vec2(4.0, 2.0);

float ring(vec2 p, vec2 centre, float phase, float width) {
  float radius = fract(t * 0.011 + phase) * 1.6;
  float d = length((p - centre) * kWorld);
  float fadeOut = 1.0 - fract(t * 0.011 + phase);
  return smoothstep(radius - width, radius, d) * (1.0 - smoothstep(radius, radius + width, d)) * fadeOut;
}

void main() {
  vec3 texel = texture2D(u0_normals, uv).rgb * 2.0 - 1.0;
  vec3 n = normalize(vec3(texel.r, texel.b, texel.g + 0.35));

  // The view centre moves with the camera: 0.01 texture repetitions a second.
  vec2 centre = vec2(0.5 + t / 30.0, 0.5);
  float a = t * 0.21;
  vec2 lightUv = centre + vec2(cos(a) * 0.17, sin(a) * 0.16);
  vec3 toLight = vec3((lightUv - uv) * kWorld, 0.55);
  float dist = length(toLight);
  vec3 l = toLight / dist;
  float falloff = 1.0 / (1.0 + 1.1 * dist * dist);
  float diffuse = max(dot(n, l), 0.0);
  vec3 h = normalize(l + vec3(0.0, 0.0, 1.0));
  // The 28th power by squaring: a software rasteriser's pow is a log and an exp.
  float s1 = max(dot(n, h), 0.0);
  float s2 = s1 * s1;
  float s4 = s2 * s2;
  float s8 = s4 * s4;
  float specular = s8 * s8 * s8 * s4 * 0.22;

  vec3 stone = texture2D(u1_stone, uv).rgb;
  vec3 amber = texture2D(u2_amber, uv * 0.5 + vec2(0.013 * t, 0.0)).rgb;
  // Scales of at most 1 keep the unmipmapped photographs from shimmering
  // and their texel reads close together.
  vec3 ember = texture2D(u3_ember, uv * 0.75).rgb;

  // Slow circles opening from three points that travel with the view.
  vec2 p = uv;
  float inside = 0.0;
  inside += smoothstep(0.35, 0.0, abs(length((p - centre - vec2(0.12, 0.05)) * kWorld) - fract(t * 0.017) * 1.4)) * (1.0 - fract(t * 0.017));
  inside += smoothstep(0.35, 0.0, abs(length((p - centre + vec2(0.15, 0.08)) * kWorld) - fract(t * 0.017 + 0.5) * 1.4)) * (1.0 - fract(t * 0.017 + 0.5));
  inside = clamp(inside, 0.0, 1.0);
  float rim = ring(p, centre + vec2(0.02, -0.06), 0.25, 0.05) + ring(p, centre - vec2(0.2, -0.1), 0.75, 0.05);

  vec3 albedo = mix(stone, amber * 1.1, inside * 0.85);
  albedo = mix(albedo, ember * vec3(1.25, 0.95, 0.6), clamp(rim, 0.0, 1.0) * 0.6);

  vec3 warm = vec3(1.0, 0.71, 0.38);
  vec3 ambient = vec3(0.11, 0.12, 0.15);
  vec3 colour = albedo * (ambient + warm * diffuse * falloff * 1.9) + warm * specular * falloff;
  gl_FragColor = vec4(colour, 1.0);
}
