#version 150 core
// The Blob as a sheet of glass over a warped grid: where the sound is loud the glass rises,
// refracts the dome picture behind it, splits the grid lines into colour fringes and catches
// a highlight. The map holds per mesh node the amplitude (x), its slope along the bands (y)
// and along the frames (z) and a shadow term (w).
in vec2 vTexCoord;
out vec4 fragColor;

uniform float uDensity;
uniform float uOpacity;
uniform vec2 uDim2;
uniform vec2 uGrid2;
uniform vec2 uGridWarp2;
uniform vec2 uMouse;
uniform vec3 uLightPos;
uniform vec4 uColBg;
uniform vec4 uColGrid;
uniform vec4 uColTrack;
uniform sampler2D uTexMap;
uniform sampler2D uTexBG;

float boxmoid(float x) { return x * x * (3.0 - 2.0 * x); }

float softBell(float x) {
    float a = abs(x);
    return 1.0 / (1.0 + a * a * a);
}

float hash(vec2 p) {
    vec3 q = fract(vec3(p.x, p.y, p.x) * 0.1031);
    q += dot(q, q.yzx + 33.33);
    return fract((q.x + q.y) * q.z);
}

// Bends 0..1 towards one end by s (-1..1); warp(x, -s) undoes it.
vec2 warp(vec2 x, vec2 s) { return (1.0 + s) * x / (1.0 + s * (2.0 * x - 1.0)); }

vec2 warpSnap(vec2 u, vec2 s, vec2 n) { return warp(floor(warp(u, s) * n + 0.5) / n, -s); }

// Brightness of the grid line nearest p (pixels), lines w pixels wide.
float gridAmp(vec2 p, float w) {
    vec2 pSnap = uDim2 * warpSnap(p / uDim2, uGridWarp2, vec2(6.0));
    float d = min(abs(p.x - pSnap.x), abs(p.y - pSnap.y));
    float a = max(1.0, w);
    return a * sqrt(a) / (a * a + d * d);
}

// Squeezes any offset into 0..1, 0 going to the middle.
vec2 unitSat2(vec2 x) {
    vec2 ax = abs(x);
    return 0.5 + 0.5 * x * (1.0 + 0.5 * ax) / (0.4 + ax * (1.0 + 0.5 * ax));
}

// A smooth four-tap sample of the map, so that the coarse node grid reads as a soft surface.
vec4 textureW(sampler2D t, vec2 p) {
    vec2 size = vec2(textureSize(t, 0));
    vec2 q = p * size + 0.5;
    vec2 f = fract(q);
    vec2 g = 1.0 - f;
    vec2 s = f * g * (0.5 - f);
    vec2 base = floor(q) - 0.5;
    vec2 low = -0.33 * g * g / (0.15 + 0.85 * g);
    vec2 high = 1.0 + 0.33 * f * f / (0.15 + 0.85 * f);
    vec2 u = 0.5 + 0.5 * (f - 0.5) - 0.22 * s;
    vec2 v = 1.0 - u;
    return texture(t, (base + vec2(low.x, low.y)) / size) * v.x * v.y +
           texture(t, (base + vec2(high.x, low.y)) / size) * u.x * v.y +
           texture(t, (base + vec2(low.x, high.y)) / size) * v.x * u.y +
           texture(t, (base + vec2(high.x, high.y)) / size) * u.x * u.y;
}

void main() {
    vec2 xy = gl_FragCoord.xy;
    vec2 xyN = xy / uDim2;

    vec4 T = textureW(uTexMap, vTexCoord);
    float amp = T.x;
    vec2 grad = T.yz;
    float z0 = max(0.0, amp - 0.1);
    float zFloor = 0.01 * length(grad) + 1e-9;
    float mask = boxmoid(min(1.0, z0 / zFloor));
    float blobZ = (amp - 0.1) + 0.5 * z0 / (z0 + 0.1);
    vec2 blobGrad = grad * (1.0 + (z0 + 0.25) / (z0 + 1e-9));

    // Refraction of the dome picture, each colour bent a little differently.
    vec2 dir = -0.016 * blobGrad + 0.01 * (hash(120.0 * vTexCoord) - 0.5);
    float lod = clamp(log2(length(dir) + 1e-4) + 5.5, 0.5, 6.5);
    vec2 mid = xyN - vec2(0.5, 0.4) + 0.5 * uGridWarp2;
    vec3 dome;
    for (int i = 0; i < 3; ++i) {
        vec2 c = unitSat2(mid + dir * (1.0 + 0.1 * float(i - 1)));
        c.y = 1.0 - c.y;
        dome[i] = textureLod(uTexBG, c, lod)[i];
    }
    dome *= dome;

    float shadow = clamp(T.w, 0.0, 1.0);

    vec3 normal = normalize(vec3(-blobGrad.x, -blobGrad.y, 2.0));
    vec2 aberr = 20.0 * normal.xy * max(0.0, blobZ - 0.1);
    float w = 0.5 + 12.0 * blobZ;
    vec3 grid = vec3(gridAmp(xy + 0.66 * aberr, w), gridAmp(xy + aberr, w), gridAmp(xy + 1.33 * aberr, w));
    vec3 bg = (1.0 - grid) * uColBg.rgb + grid * uColGrid.rgb;
    bg *= bg;

    vec3 col = bg / (1.0 + uOpacity * (0.5 + blobZ) * mask);

    vec3 L = normalize(uLightPos - vec3(0.5 * uGridWarp2.x, 0.5 * uGridWarp2.y, 0.0));
    float cc = max(0.0, dot(L, normal));
    float focus = 100.0 - 90.0 * abs(uDensity);
    float strength = 0.7 - 0.35 * abs(uDensity);
    float m = max(0.0, -uDensity);
    vec3 fw = fwidth(normal);
    float aa = 1.0 / (1.0 + 2.0 * focus * dot(fw, fw));
    float spot = aa * softBell(aa * focus * (1.0 - cc)) * (1.0 + m * (0.8 * cos(40.0 * m * (1.0 - cc)) - 0.5));
    float soft = cc * cc;
    col += mask * (dome * (1.0 - 0.5 * (1.0 - shadow)) + (0.01 * soft + strength * spot) * shadow);

    fragColor = vec4(sqrt(max(col, 0.0)), 1.0);
}
