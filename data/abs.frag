// The relief layer: the section's leading photographs lit through the
// stone's normal map by a light that circles the view, with other
// photographs revealed inside two opening circles, and a ring of light for
// every bell. Everything that depends on time arrives from the vertex shader
// (abs.vert); this shader only reads the four textures and shades.
//
// Samplers are named so that declaration order and alphabetical order agree
// (GL implementations report active uniforms in one or the other), and the
// loader binds them to units 0..3 in that order. Values that are the same
// all over the strip are "steady": flat where the driver offers flat
// varyings, which spares interpolating them for every pixel.
#version 120
#ifdef GL_EXT_gpu_shader4
#extension GL_EXT_gpu_shader4 : enable
#define steady flat varying  // the same all over the strip: nothing to interpolate
#else
#define steady varying
#endif
uniform sampler2D u0_normals;  // unit 0: normal map, R = x, G = z, B = y
uniform sampler2D u1_stone;    // unit 1: the photograph the normals come from
uniform sampler2D u2_amber;    // unit 2: rust eating into steel
uniform sampler2D u3_ember;    // unit 3: honey marble

varying vec2 uv;
varying vec4 uvPhotos;
varying vec2 toLight;
varying vec4 circles;
varying vec4 toBells;
steady vec4 light;
steady vec4 leading;
steady vec4 revealed;
steady vec4 ripples;

// The bells' ripples: bands of light around their squared radii, so a young
// ripple is a flash and an older one a ring that thins as it spreads.
float bellLight() {
  vec2 x = vec2(dot(toBells.xy, toBells.xy), dot(toBells.zw, toBells.zw)) - ripples.xy;
  vec2 band = max(1.0 - x * x, 0.0);
  return dot(band * band, ripples.zw);
}

void main() {
  // The normal, tilted towards the viewer a little and not normalised: the
  // map's normals are unit vectors, so scaled by 0.74 this one is close to
  // unit length wherever the relief is gentle, and shorter only on the steep
  // sides of the cracks, which then catch a little less light.
  vec3 texel = texture2D(u0_normals, uv).rgb * 1.48 - 0.74;
  vec3 n = vec3(vec2(texel.r, texel.b) * leading.w, texel.g + 0.26);
  vec3 stone = texture2D(u1_stone, uv).rgb;
  vec3 rust = texture2D(u2_amber, uvPhotos.xy).rgb;
  vec3 marble = texture2D(u3_ember, uvPhotos.zw).rgb;

  // Inside the circles the revealed photographs replace the leading ones;
  // their rims glow. In units of each circle's radius, d² - 1 is about
  // 2 (d - 1) near the rim, which spares the square roots.
  vec2 edge = vec2(dot(circles.xy, circles.xy), dot(circles.zw, circles.zw)) - 1.0;
  float inside = clamp(max(-edge.x, -edge.y) * 5.0, 0.0, 1.0);
  vec2 rims = max(1.0 - abs(edge) * 7.0, 0.0);
  vec3 albedo = mat3(stone, rust, marble) * mix(leading.xyz, revealed.xyz, inside);

  vec3 l3 = vec3(toLight, 0.55);
  float dist2 = dot(l3, l3);
  vec3 l = l3 * inversesqrt(dist2);
  float falloff = 1.0 / (1.0 + light.w * dist2);
  float diffuse = max(dot(n, l), 0.0);
  // Blinn's half vector without normalising it: n·(l + z) / |l + z|, where
  // 1 / |l + z| = 1 / sqrt(2 + 2 l.z) is close to 0.62 - 0.12 l.z over the
  // elevations the light takes. The 28th power by squaring: a software
  // rasteriser's pow is a log and an exp.
  float s1 = clamp((dot(n, l) + n.z) * (0.62 - 0.12 * l.z), 0.0, 1.0);
  float s2 = s1 * s1;
  float s4 = s2 * s2;
  float s8 = s4 * s4;
  float specular = s8 * s8 * s8 * s4 * 0.22;

  float bells = bellLight();

  // The rims glow in the light's colour; the bells in a warm white that
  // takes on the surface's colour.
  vec3 colour = light.rgb * (albedo * (revealed.w + diffuse * falloff) + specular * falloff + 0.45 * (rims.x + rims.y)) +
                vec3(1.0, 0.86, 0.66) * bells * (0.05 + 1.4 * albedo);
  gl_FragColor = vec4(colour, 1.0);
}
