// The relief layer: the section's leading photographs lit through the
// stone's normal map by a light that circles the view, with other
// photographs revealed inside two opening circles, and a ring of light for
// every bell. Everything that depends on time arrives from the vertex shader
// (abs.vert); this shader only reads the four textures and shades.
//
// Samplers are named so that declaration order and alphabetical order agree
// (GL implementations report active uniforms in one or the other), and the
// loader binds them to units 0..3 in that order.
#version 120
uniform sampler2D u0_normals;  // unit 0: normal map, R = x, G = z, B = y
uniform sampler2D u1_stone;    // unit 1: the photograph the normals come from
uniform sampler2D u2_amber;    // unit 2: rust eating into steel
uniform sampler2D u3_ember;    // unit 3: honey marble

varying vec2 uv;
varying vec2 uvRust;
varying vec2 uvMarble;
varying vec2 toLight;
varying vec4 light;
varying vec4 ambient;
varying vec3 rimColour;
varying vec3 leading;
varying vec3 revealed;
varying vec4 circles;
varying vec2 opening;
varying vec2 toBell0;
varying vec2 toBell1;
varying vec2 toBell2;
varying vec4 ring0;
varying vec4 ring1;
varying vec4 ring2;
varying vec3 bellColour0;
varying vec3 bellColour1;
varying vec3 bellColour2;

// A bell: a thin expanding ring and a glint at its centre; squared
// distances keep it to one square root.
float bellLight(vec2 d, vec4 ring) {
  float r2 = dot(d, d);
  float x = (sqrt(r2) - ring.x) * ring.y;
  return ring.z / (1.0 + x * x) + ring.w / (1.0 + r2 * 40.0);
}

// A circle's rim: a thin band of glow at distance r from its centre.
float rim(float d, float r) { return max(0.0, 1.0 - abs(d - r) * 22.0); }

void main() {
  vec3 texel = texture2D(u0_normals, uv).rgb * 2.0 - 1.0;
  vec3 n = normalize(vec3(vec2(texel.r, texel.b) * ambient.w, texel.g + 0.35));
  vec3 stone = texture2D(u1_stone, uv).rgb;
  vec3 rust = texture2D(u2_amber, uvRust).rgb;
  vec3 marble = texture2D(u3_ember, uvMarble).rgb;

  // Inside the circles the revealed photographs replace the leading ones.
  float d0 = length(circles.xy), d1 = length(circles.zw);
  float inside = max(1.0 - smoothstep(opening.x - 0.1, opening.x, d0), 1.0 - smoothstep(opening.y - 0.1, opening.y, d1));
  vec3 weights = mix(leading, revealed, inside);
  vec3 albedo = stone * weights.x + rust * weights.y + marble * weights.z;

  vec3 l3 = vec3(toLight, 0.55);
  float dist2 = dot(l3, l3);
  vec3 l = l3 * inversesqrt(dist2);
  float falloff = 1.0 / (1.0 + light.w * dist2);
  float diffuse = max(dot(n, l), 0.0);
  vec3 h = normalize(l + vec3(0.0, 0.0, 1.0));
  // The 28th power by squaring: a software rasteriser's pow is a log and an exp.
  float s1 = max(dot(n, h), 0.0);
  float s2 = s1 * s1;
  float s4 = s2 * s2;
  float s8 = s4 * s4;
  float specular = s8 * s8 * s8 * s4 * 0.22;

  vec3 bells = bellColour0 * bellLight(toBell0, ring0) + bellColour1 * bellLight(toBell1, ring1) +
               bellColour2 * bellLight(toBell2, ring2);

  vec3 colour = albedo * (ambient.rgb + light.rgb * (diffuse * falloff)) + light.rgb * (specular * falloff) +
                rimColour * (rim(d0, opening.x) + rim(d1, opening.y)) + bells * (0.3 + albedo);
  gl_FragColor = vec4(colour, 1.0);
}
