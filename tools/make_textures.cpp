// Makes the ten body images in textures/: the Sun, the eight planets and an
// asteroid belt, as 24-bit BMP files. Each is an equirectangular map: columns
// run once around the equator (longitude -180 to 180), the file's first row
// is the south pole and its last the north pole, which is how the sphere
// mesh lays a texture on. Every picture comes from fixed seeds, so the output
// is the same on every run.
//
// Usage: make_textures OUTPUT_DIR
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) {
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
Rgb scale(Rgb a, double k) { return {a.r * k, a.g * k, a.b * k}; }

double clamp01(double t) { return t < 0 ? 0 : t > 1 ? 1 : t; }
double smooth(double e0, double e1, double x) {
    double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

struct Vec3 {
    double x, y, z;
};
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 onSphere(double lonDeg, double latDeg) {
    double lon = lonDeg * kPi / 180, lat = latDeg * kPi / 180;
    return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}

// --- Deterministic noise ---------------------------------------------------------

uint32_t hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

double lattice(int x, int y, int z, uint32_t seed) {
    uint32_t h =
        hash(uint32_t(x) * 0x8da6b343u ^ hash(uint32_t(y) * 0xd8163841u ^ hash(uint32_t(z) * 0xcb1ab31fu ^ seed)));
    return (h & 0xffffff) / double(0x1000000);
}

// Value noise in [0, 1), smoothly interpolated between lattice points.
double noise(Vec3 p, uint32_t seed) {
    int x0 = int(std::floor(p.x)), y0 = int(std::floor(p.y)), z0 = int(std::floor(p.z));
    double fx = p.x - x0, fy = p.y - y0, fz = p.z - z0;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    fz = fz * fz * (3 - 2 * fz);
    double c[2][2];
    for (int dz = 0; dz < 2; ++dz)
        for (int dy = 0; dy < 2; ++dy) {
            double a = lattice(x0, y0 + dy, z0 + dz, seed), b = lattice(x0 + 1, y0 + dy, z0 + dz, seed);
            c[dz][dy] = a + (b - a) * fx;
        }
    double lo = c[0][0] + (c[0][1] - c[0][0]) * fy, hi = c[1][0] + (c[1][1] - c[1][0]) * fy;
    return lo + (hi - lo) * fz;
}

// Fractal sum of `octaves` noise layers, starting at `frequency`; in [0, 1).
double fbm(Vec3 p, double frequency, int octaves, uint32_t seed) {
    double sum = 0, amplitude = 1, total = 0;
    for (int i = 0; i < octaves; ++i) {
        Vec3 q = {p.x * frequency + 17.3 * i, p.y * frequency - 9.1 * i, p.z * frequency + 4.7 * i};
        sum += amplitude * noise(q, seed + uint32_t(i) * 101u);
        total += amplitude;
        amplitude *= 0.5;
        frequency *= 2;
    }
    return sum / total;
}

// A small deterministic generator for placing spots, craters and rocks.
struct Random {
    uint32_t state;
    double next() {
        state = state * 1664525u + 1013904223u;
        return (hash(state) & 0xffffff) / double(0x1000000);
    }
    double range(double lo, double hi) { return lo + (hi - lo) * next(); }
};

// A round feature on the sphere: centre and angular radius in degrees.
struct Spot {
    Vec3 centre;
    double radius;
    double strength;
};

std::vector<Spot> scatter(uint32_t seed, int count, double latLimit, double minRadius, double maxRadius) {
    Random random{seed};
    std::vector<Spot> spots;
    for (int i = 0; i < count; ++i) {
        double lon = random.range(-180, 180);
        // Uniform over the band's area, not its latitude range.
        double s = random.range(-std::sin(latLimit * kPi / 180), std::sin(latLimit * kPi / 180));
        double lat = std::asin(s) * 180 / kPi;
        double r = minRadius * std::pow(maxRadius / minRadius, random.next() * random.next());
        spots.push_back({onSphere(lon, lat), r, random.next()});
    }
    return spots;
}

// Angular distance from the spot's centre in units of its radius (1 = edge).
double spotDistance(const Spot& s, Vec3 p) {
    double d = std::acos(std::fmax(-1.0, std::fmin(1.0, dot(s.centre, p)))) * 180 / kPi;
    return d / s.radius;
}

// --- Pictures --------------------------------------------------------------------

struct Point {
    double lon, lat;
    Vec3 p;
};

Rgb sun(const Point& q) {
    static const std::vector<Spot> spots = scatter(11, 9, 35, 1.5, 5);
    double granules = fbm(q.p, 24, 3, 101);
    double large = fbm(q.p, 4, 4, 102);
    Rgb c = mix(Rgb{225, 95, 10}, Rgb{255, 215, 70}, 0.25 + 0.9 * (granules - 0.5) + 0.8 * (large - 0.5) + 0.35);
    // Bright faculae near the spot belts.
    c = mix(c, Rgb{255, 240, 150}, smooth(0.68, 0.8, fbm(q.p, 10, 3, 103)) * 0.6);
    for (const Spot& s : spots) {
        double d = spotDistance(s, q.p);
        if (d < 1.6) c = mix(c, Rgb{150, 60, 10}, 1 - smooth(1.0, 1.6, d));
        if (d < 1.0) c = mix(c, Rgb{45, 15, 5}, 1 - smooth(0.45, 0.7, d));
    }
    return c;
}

Rgb mercury(const Point& q) {
    static const std::vector<Spot> craters = scatter(21, 260, 90, 1.2, 14);
    double ground = fbm(q.p, 5, 6, 201);
    Rgb c = mix(Rgb{80, 76, 72}, Rgb{175, 168, 160}, 0.15 + ground);
    for (const Spot& s : craters) {
        double d = spotDistance(s, q.p);
        if (d < 1.0)
            c = scale(c, 0.78 + 0.12 * d * d);  // floor
        else if (d < 1.25)
            c = scale(c, 1.0 + 0.35 * (1.25 - d) * 4);                                           // rim
        if (s.strength > 0.93 && d < 3.5) c = mix(c, Rgb{215, 210, 200}, 0.25 * (1 - d / 3.5));  // rays
    }
    return c;
}

Rgb venus(const Point& q) {
    // Cloud bands drawn along the latitude and swirled by noise.
    double warp = fbm(q.p, 3, 4, 301);
    double band = std::sin(q.lat * kPi / 180 * 9 + warp * 8);
    double fine = fbm(q.p, 12, 3, 302);
    Rgb c = mix(Rgb{196, 150, 85}, Rgb{240, 215, 160}, 0.5 + 0.3 * band + 0.6 * (fine - 0.5));
    return mix(c, Rgb{250, 235, 195}, smooth(60, 85, std::fabs(q.lat)) * 0.5);
}

// Coarse continent outlines in longitude and latitude (degrees).
struct Outline {
    std::vector<double> points;  // lon, lat pairs
};

const std::vector<Outline>& continents() {
    static const std::vector<Outline> outlines = {
        // North America
        {{-168, 66,   -156, 71,   -140, 70,   -125, 70,   -95, 72,   -80, 73,   -62, 60,   -56, 52,  -66,
          45,   -70,  42,   -76,  35,   -81,  31,   -80,  25,  -82,  28,  -85,  30,  -90,  29,  -97, 27,
          -97,  22,   -92,  18,   -88,  21,   -87,  16,   -83, 10,   -79, 9,    -86, 13,   -92, 15,  -105,
          20,   -110, 24,   -117, 32,   -124, 40,   -124, 48,  -133, 57,  -150, 60,  -165, 60}},
        // Greenland
        {{-73, 78, -60, 82, -30, 83, -20, 75, -22, 70, -42, 60, -50, 64, -55, 70, -60, 76}},
        // South America
        {{-80, 9,   -77, 8,   -72, 12,  -62, 11,  -52, 5,   -50, 0,   -35, -5,  -35, -9,
          -39, -15, -41, -22, -48, -26, -53, -34, -58, -38, -65, -41, -66, -47, -69, -52,
          -74, -52, -73, -45, -72, -30, -70, -18, -76, -14, -81, -6,  -80, 0}},
        // Eurasia with Arabia and India
        {{-10, 36, -9,  43, -2,  44, -5,  48, 2,   51, 8,   54, 10,  58, 5,   62, 15,  69, 28,  71, 40,  68,
          60,  70, 80,  73, 100, 78, 112, 74, 140, 72, 160, 70, 180, 68, 180, 65, 170, 60, 160, 60, 156, 52,
          141, 53, 135, 45, 128, 40, 127, 35, 122, 40, 121, 30, 117, 23, 109, 21, 106, 11, 100, 14, 104, 1,
          98,  8,  98,  16, 92,  22, 88,  22, 80,  15, 78,  8,  73,  18, 67,  25, 57,  25, 56,  27, 50,  30,
          48,  30, 52,  24, 56,  26, 60,  22, 55,  17, 44,  12, 43,  16, 35,  28, 32,  31, 35,  36, 27,  37,
          26,  40, 22,  37, 20,  40, 13,  45, 16,  41, 18,  40, 12,  44, 8,   44, 3,   43, 0,   39, -5,  36}},
        // Africa
        {{-17, 21, -16, 12, -8,  4,  5,   5,  9,   4,  10,  -2, 13, -10, 12, -17, 15,  -27, 18,
          -34, 25, -34, 32, -29, 35, -24, 40, -16, 40, -10, 39, -5, 43,  0,  51,  11,  44,  11,
          43,  12, 38,  18, 35,  27, 32,  31, 20,  32, 10,  37, 0,  36,  -6, 36,  -10, 30}},
        // Australia
        {{114, -22, 114, -34, 118, -35, 124, -33, 131, -31, 138, -35, 141, -38, 148, -38, 153, -28,
          153, -25, 146, -19, 142, -11, 141, -17, 136, -12, 132, -11, 129, -15, 125, -14, 122, -18}},
        // Islands: Madagascar, Britain, Iceland, Japan, Borneo, Sumatra, New Guinea, New Zealand
        {{44, -25, 47, -25, 50, -15, 49, -12, 44, -17}},
        {{-5, 50, 1, 51, -1, 57, -5, 58, -6, 55}},
        {{-24, 65, -14, 66, -14, 64, -22, 63}},
        {{130, 31, 140, 35, 142, 40, 141, 45, 139, 40, 133, 34}},
        {{109, 1, 117, 7, 119, 1, 116, -4, 110, -3}},
        {{95, 5, 98, 4, 106, -6, 101, -3}},
        {{131, -1, 141, -3, 150, -10, 141, -9, 137, -5}},
        {{172, -35, 178, -38, 174, -42, 167, -46, 171, -44}},
    };
    return outlines;
}

bool inside(const Outline& o, double lon, double lat) {
    bool in = false;
    size_t n = o.points.size() / 2;
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        double xi = o.points[2 * i], yi = o.points[2 * i + 1];
        double xj = o.points[2 * j], yj = o.points[2 * j + 1];
        if ((yi > lat) != (yj > lat) && lon < (xj - xi) * (lat - yi) / (yj - yi) + xi) in = !in;
    }
    return in;
}

Rgb earth(const Point& q) {
    // Ragged coasts: the outlines are looked up at a point pushed about by noise.
    double lon = q.lon + 5 * (fbm(q.p, 6, 4, 401) - 0.5);
    double lat = q.lat + 5 * (fbm(q.p, 6, 4, 402) - 0.5);
    bool land = lat < -68 + 6 * (fbm(q.p, 5, 3, 403) - 0.5);  // Antarctica
    bool greenland = false;
    for (size_t i = 0; i < continents().size() && !land; ++i)
        if (inside(continents()[i], lon, lat)) {
            land = true;
            greenland = i == 1;
        }
    double detail = fbm(q.p, 10, 5, 404);
    double alat = std::fabs(q.lat);
    Rgb c;
    if (land) {
        Rgb forest{40, 95, 35}, grass{105, 135, 60}, desert{205, 175, 115}, tundra{120, 115, 90};
        c = mix(forest, grass, detail * 1.6 - 0.3);
        // The great deserts: Sahara, Arabia, Australia, Gobi, Kalahari, the
        // American south-west, as ovals with ragged edges.
        static const double deserts[][4] = {{8, 23, 30, 9},  {47, 23, 11, 8},  {130, -25, 15, 8}, {100, 42, 14, 5},
                                            {21, -23, 7, 5}, {-112, 32, 8, 5}, {-69, -24, 3, 9}};
        double dry = 0;
        for (const auto& d : deserts) {
            double dx = (q.lon - d[0]) / d[2], dy = (q.lat - d[1]) / d[3];
            dry = std::fmax(dry, 1 - std::sqrt(dx * dx + dy * dy));
        }
        c = mix(c, desert, smooth(-0.05, 0.45, dry + 0.9 * (fbm(q.p, 7, 5, 405) - 0.5)));
        c = mix(c, tundra, smooth(52, 64, alat));
        c = mix(c, Rgb{100, 80, 60}, smooth(0.7, 0.85, fbm(q.p, 8, 4, 406)) * 0.6);  // mountains
        if (greenland || alat > 66 + 6 * detail) c = Rgb{235, 240, 245};
    } else {
        c = mix(Rgb{12, 38, 100}, Rgb{30, 80, 150}, 0.3 + 0.5 * (detail - 0.5));
        if (alat > 76 + 6 * detail) c = Rgb{225, 232, 240};  // sea ice
    }
    // Thin cloud streaks, mostly along the storm tracks.
    double cloud = fbm({q.p.x * 1.0, q.p.y * 1.0, q.p.z * 2.5}, 5, 5, 407);
    double cloudy = smooth(0.58, 0.78, cloud) * (0.55 + 0.45 * smooth(35, 60, alat));
    return mix(c, Rgb{245, 245, 250}, cloudy * 0.8);
}

Rgb mars(const Point& q) {
    double ground = fbm(q.p, 4, 6, 501);
    Rgb c = mix(Rgb{150, 62, 30}, Rgb{220, 120, 70}, 0.2 + 1.2 * (ground - 0.25));
    // Dark albedo regions, mostly south of the equator and in a northern arc.
    double dark = fbm(q.p, 2.5, 5, 502) + 0.12 * std::exp(-std::pow((q.lat + 15) / 25, 2));
    c = mix(c, Rgb{95, 48, 32}, smooth(0.56, 0.66, dark) * 0.8);
    // A long canyon just south of the equator.
    double canyon = std::fabs(q.lat + 8 + 3 * std::sin(q.lon * 0.08)) / (1.2 + fbm(q.p, 12, 2, 503));
    if (q.lon > -110 && q.lon < -40) c = mix(c, Rgb{95, 40, 25}, (1 - smooth(0.5, 1.5, canyon)) * 0.8);
    // Polar caps, the northern one larger.
    double cap = q.lat > 0 ? 78 : -82;
    double edge = 4 * (fbm(q.p, 8, 3, 504) - 0.5);
    if (std::fabs(q.lat) > std::fabs(cap) + edge) c = mix(c, Rgb{240, 235, 230}, 0.92);
    return c;
}

Rgb jupiter(const Point& q) {
    // Alternating light zones and darker belts, their edges stirred by
    // turbulence that grows towards the poles.
    double turbulence = (fbm(q.p, 6, 5, 601) - 0.5) * (3 + 0.08 * std::fabs(q.lat));
    double lat = q.lat + turbulence;
    static const double edges[] = {-90, -60, -48, -40, -30, -20, -14, -7, 7, 18, 25, 32, 40, 50, 62, 90};
    static const Rgb colours[] = {{150, 140, 130}, {190, 160, 130}, {215, 195, 165}, {175, 125, 90},  {235, 220, 190},
                                  {165, 105, 70},  {240, 230, 205}, {225, 205, 170}, {160, 100, 65},  {238, 225, 195},
                                  {175, 120, 80},  {225, 205, 175}, {190, 150, 115}, {205, 185, 160}, {150, 140, 130}};
    int band = 0;
    while (band < 14 && lat > edges[band + 1]) ++band;
    double t = (lat - edges[band]) / (edges[band + 1] - edges[band]);
    Rgb c = colours[band];
    if (t > 0.85 && band < 14) c = mix(c, colours[band + 1], (t - 0.85) / 0.3);
    if (t < 0.15 && band > 0) c = mix(c, colours[band - 1], (0.15 - t) / 0.3);
    c = scale(c, 0.9 + 0.2 * fbm(q.p, 20, 3, 602));
    // The Great Red Spot, an oval in the southern hemisphere with a pale rim.
    double dx = (q.lon - 40) / 13, dy = (q.lat + 22) / 6.5;
    double r = std::sqrt(dx * dx + dy * dy) + 0.15 * (fbm(q.p, 14, 3, 603) - 0.5);
    if (r < 1.35) c = mix(c, Rgb{240, 225, 205}, 1 - smooth(1.05, 1.35, r));
    if (r < 1.05) c = mix(Rgb{195, 85, 55}, Rgb{215, 120, 80}, r * r);
    // Small white ovals further south.
    for (int i = 0; i < 3; ++i) {
        double ox = (q.lon + 60 - 45 * i) / 3.5, oy = (q.lat + 33) / 2.2;
        double d = std::sqrt(ox * ox + oy * oy);
        if (d < 1) c = mix(c, Rgb{245, 240, 230}, 1 - d * d);
    }
    return c;
}

Rgb saturn(const Point& q) {
    double lat = q.lat + 2 * (fbm(q.p, 5, 4, 701) - 0.5);
    double bands = 0.5 + 0.3 * std::sin(lat * kPi / 180 * 14) + 0.2 * std::sin(lat * kPi / 180 * 31 + 1);
    Rgb c = mix(Rgb{196, 170, 120}, Rgb{235, 218, 175}, bands);
    c = mix(c, Rgb{245, 232, 195}, smooth(15, 0, std::fabs(q.lat)) * 0.5);  // bright equatorial zone
    c = mix(c, Rgb{160, 165, 160}, smooth(60, 85, q.lat) * 0.6);            // greyer north polar cap
    return scale(c, 0.94 + 0.12 * fbm(q.p, 16, 3, 702));
}

Rgb uranus(const Point& q) {
    double bands = std::sin(q.lat * kPi / 180 * 10) * 0.5 + 0.5;
    Rgb c = mix(Rgb{150, 205, 215}, Rgb{175, 225, 230}, 0.3 + 0.25 * bands + 0.3 * fbm(q.p, 6, 3, 801));
    return mix(c, Rgb{200, 238, 240}, smooth(40, 85, q.lat) * 0.6);  // bright pole
}

Rgb neptune(const Point& q) {
    double lat = q.lat + 3 * (fbm(q.p, 5, 4, 901) - 0.5);
    double bands = 0.5 + 0.5 * std::sin(lat * kPi / 180 * 8);
    Rgb c = mix(Rgb{35, 70, 175}, Rgb{70, 115, 215}, 0.2 + 0.5 * bands + 0.4 * (fbm(q.p, 10, 3, 902) - 0.5));
    // The Great Dark Spot with bright companion clouds.
    double dx = (q.lon + 30) / 12, dy = (q.lat + 20) / 7;
    double d = std::sqrt(dx * dx + dy * dy);
    if (d < 1) c = mix(c, Rgb{20, 30, 100}, 1 - d * d);
    double streak = std::fabs(q.lat + 27 - 2 * std::sin(q.lon * 0.05)) + 3 * fbm(q.p, 12, 3, 903);
    if (streak < 2.5 && q.lon > -50 && q.lon < 20) c = mix(c, Rgb{230, 235, 255}, (2.5 - streak) / 2.5);
    double high = std::fabs(q.lat - 30) + 4 * fbm(q.p, 9, 3, 904);
    if (high < 2.5) c = mix(c, Rgb{215, 225, 250}, (2.5 - high) / 4);
    return c;
}

Rgb belt(const Point& q) {
    // Rocks of every size, crowded about the equator, on dark sky.
    static const std::vector<Spot> rocks = scatter(1001, 700, 35, 0.6, 4.5);
    Rgb c = mix(Rgb{6, 6, 12}, Rgb{22, 20, 28}, fbm(q.p, 3, 3, 1002));
    for (const Spot& s : rocks) {
        if (s.strength > std::exp(-std::pow(std::asin(s.centre.z) * 180 / kPi / 15, 2))) continue;
        double d = spotDistance(s, q.p) * (0.85 + 0.3 * fbm(q.p, 20, 2, 1003));
        if (d < 1) {
            double shade = 0.55 + 0.45 * std::sqrt(1 - d * d) * fbm(q.p, 30, 3, 1004) * 1.6;
            c = scale(mix(Rgb{120, 105, 90}, Rgb{150, 145, 140}, s.strength), shade);
        }
    }
    return c;
}

// --- Files -----------------------------------------------------------------------

void put32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xff;
}

bool writeBmp(const std::string& path, int width, int height, Rgb (*paint)(const Point&)) {
    size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    std::vector<unsigned char> file(54 + stride * height, 0);
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, uint32_t(file.size()));
    put32(file, 10, 54);
    put32(file, 14, 40);
    put32(file, 18, uint32_t(width));
    put32(file, 22, uint32_t(height));
    file[26] = 1;
    file[28] = 24;
    put32(file, 34, uint32_t(stride * height));
    put32(file, 38, 2835);  // 72 dpi
    put32(file, 42, 2835);
    for (int y = 0; y < height; ++y) {
        double lat = -90 + (y + 0.5) * 180.0 / height;  // first row: south pole
        unsigned char* row = &file[54 + stride * y];
        for (int x = 0; x < width; ++x) {
            double lon = -180 + (x + 0.5) * 360.0 / width;
            Rgb c = paint(Point{lon, lat, onSphere(lon, lat)});
            auto byte = [](double v) { return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); };
            row[3 * x + 0] = byte(c.b);
            row[3 * x + 1] = byte(c.g);
            row[3 * x + 2] = byte(c.r);
        }
    }
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(file.data(), 1, file.size(), f) == file.size();
    return fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    struct Body {
        const char* name;
        int width, height;
        Rgb (*paint)(const Point&);
    };
    const Body bodies[] = {
        {"sun", 512, 256, sun},       {"mercury", 256, 128, mercury}, {"venus", 256, 128, venus},
        {"earth", 512, 256, earth},   {"mars", 512, 256, mars},       {"jupiter", 512, 256, jupiter},
        {"saturn", 256, 128, saturn}, {"uranus", 256, 128, uranus},   {"neptune", 256, 128, neptune},
        {"belt", 256, 128, belt},
    };
    for (const Body& b : bodies) {
        std::string path = std::string(argv[1]) + "/" + b.name + ".bmp";
        if (!writeBmp(path, b.width, b.height, b.paint)) {
            fprintf(stderr, "%s: cannot write\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
