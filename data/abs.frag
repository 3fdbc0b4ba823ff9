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
varying vec4 uvPhotos;
varying vec2 toLight;
varying vec4 light;
varying vec4 shade;
varying vec3 leading;
varying vec3 revealed;
varying vec4 circles;
varying vec4 opening;
varying vec4 ripple0;
varying vec4 ripple1;
varying vec4 ripple2;
varying vec3 bellPitch;

// A bell's ripple: a band of light around its squared radius, so a young
// ripple is a flash and an older one a ring that thins as it spreads.
float rippleLight(vec4 r) {
  float x = dot(r.xy, r.xy) - r.z;
  float band = max(1.0 - x * x, 0.0);
  return band * band * r.w;
}

void main() {
  vec3 texel = texture2D(u0_normals, uv).rgb * 2.0 - 1.0;
  vec3 n = normalize(vec3(vec2(texel.r, texel.b) * shade.y, texel.g + 0.35));
  vec3 stone = texture2D(u1_stone, uv).rgb;
  vec3 rust = texture2D(u2_amber, uvPhotos.xy).rgb;
  vec3 marble = texture2D(u3_ember, uvPhotos.zw).rgb;

  // Inside the circles the revealed photographs replace the leading ones;
  // their rims glow. (d² - r²) / 2r is close to d - r at the rim, and
  // spares the square roots.
  vec2 d2 = vec2(dot(circles.xy, circles.xy), dot(circles.zw, circles.zw));
  vec2 edge = (d2 - opening.xy) * opening.zw;
  float inside = clamp(max(-edge.x, -edge.y) * 10.0, 0.0, 1.0);
  vec2 rims = max(1.0 - abs(edge) * 22.0, 0.0);
  vec3 albedo = mat3(stone, rust, marble) * mix(leading, revealed, inside);

  vec3 l3 = vec3(toLight, 0.55);
  float dist2 = dot(l3, l3);
  vec3 l = l3 * inversesqrt(dist2);
  float falloff = 1.0 / (1.0 + light.w * dist2);
  float diffuse = max(dot(n, l), 0.0);
  // Blinn's half vector without normalising it: n·(l + z) / |l + z|, where
  // |l + z|² = 2 + 2 l.z. The 28th power by squaring: a software
  // rasteriser's pow is a log and an exp.
  float s1 = max((dot(n, l) + n.z) * inversesqrt(2.0 + 2.0 * l.z), 0.0);
  float s2 = s1 * s1;
  float s4 = s2 * s2;
  float s8 = s4 * s4;
  float specular = s8 * s8 * s8 * s4 * 0.22;

  // Low bells ring amber, high ones pale blue.
  vec3 ripples = vec3(rippleLight(ripple0), rippleLight(ripple1), rippleLight(ripple2));
  float high = dot(ripples, bellPitch);
  vec3 bells = vec3(1.0, 0.7, 0.36) * (ripples.x + ripples.y + ripples.z - high) + vec3(0.72, 0.88, 1.0) * high;

  vec3 colour = albedo * (light.rgb * (shade.x + diffuse * falloff)) + light.rgb * (specular * falloff) +
                vec3(1.0, 0.62, 0.3) * ((rims.x + rims.y) * shade.z) + bells * (0.05 + 1.4 * albedo);
  gl_FragColor = vec4(colour, 1.0);
}
