// Writes the ship model: an OBJ file and its MTL library (111.obj, 111.mtl)
// into the directory given as the only argument (default: data).
//
// Model frame: the nose points along -x, +y is up, the wings span z. The
// ship is about 100 units long with its origin near the tail, so that the
// frame that draws it (scaled by 0.01, nose into the screen) keeps it whole
// in view. Parts are lathed from rings of points; vertex normals come from
// the rings' finite differences (smooth parts) or are shared by a whole cap
// (flat parts), and faces are written as v//vn references: quads between
// rings, polygons for the caps.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct V {
    double x, y, z;
};
V operator+(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V operator-(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V operator*(V a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V cross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V unit(V a) {
    double l = std::sqrt(dot(a, a));
    return l > 0 ? a * (1.0 / l) : a;
}

const double pi = 3.14159265358979323846;

struct Corner {
    int v, n;  // 1-based
};
struct Part {
    std::string group, material;
    std::vector<std::vector<Corner>> faces;
};

std::vector<V> positions, normals;
std::vector<Part> parts;

int addPosition(V p) {
    positions.push_back(p);
    return int(positions.size());
}
int addNormal(V n) {
    normals.push_back(unit(n));
    return int(normals.size());
}

// Keeps every face wound counter-clockwise as seen from where its normals
// point.
void addFace(Part& part, std::vector<Corner> face) {
    V newell = {0, 0, 0}, sum = {0, 0, 0};
    for (size_t i = 0; i < face.size(); i++) {
        V a = positions[face[i].v - 1], b = positions[face[(i + 1) % face.size()].v - 1];
        newell = newell + cross(a, b);
        sum = sum + normals[face[i].n - 1];
    }
    if (dot(newell, sum) < 0) std::vector<Corner>(face.rbegin(), face.rend()).swap(face);
    part.faces.push_back(face);
}

using Ring = std::vector<V>;

// A smooth surface through closed rings of equal size, with optional apex
// points before the first ring and after the last. Normals point away from
// the rings' common centre.
void lathe(Part& part, const std::vector<Ring>& rings, const V* startApex, const V* endApex) {
    size_t nr = rings.size(), nc = rings[0].size();
    V centre = {0, 0, 0};
    for (const Ring& r : rings)
        for (V p : r) centre = centre + p * (1.0 / double(nr * nc));
    auto at = [&](long i, long j) -> V {
        if (i < 0) return startApex ? *startApex : rings[0][size_t(j % long(nc))];
        if (i >= long(nr)) return endApex ? *endApex : rings[nr - 1][size_t(j % long(nc))];
        return rings[size_t(i)][size_t((j + long(nc)) % long(nc))];
    };
    std::vector<std::vector<Corner>> grid(nr, std::vector<Corner>(nc));
    for (size_t i = 0; i < nr; i++)
        for (size_t j = 0; j < nc; j++) {
            V p = rings[i][j];
            V along = at(long(i) + 1, long(j)) - at(long(i) - 1, long(j));
            V around = at(long(i), long(j) + 1) - at(long(i), long(j) - 1);
            V n = cross(along, around);
            if (dot(n, n) < 1e-12) n = p - centre;
            if (dot(n, p - centre) < 0) n = n * -1.0;
            grid[i][j] = {addPosition(p), addNormal(n)};
        }
    for (size_t i = 0; i + 1 < nr; i++)
        for (size_t j = 0; j < nc; j++) {
            size_t k = (j + 1) % nc;
            addFace(part, {grid[i][j], grid[i + 1][j], grid[i + 1][k], grid[i][k]});
        }
    for (int end = 0; end < 2; end++) {
        const V* apex = end ? endApex : startApex;
        if (!apex) continue;
        const std::vector<Corner>& ring = end ? grid[nr - 1] : grid[0];
        Corner tip = {addPosition(*apex), addNormal(*apex - centre)};
        for (size_t j = 0; j < nc; j++) addFace(part, {tip, ring[j], ring[(j + 1) % nc]});
    }
}

// A flat polygon over a ring, facing away from `inside`.
void cap(Part& part, const Ring& ring, V inside) {
    V mid = {0, 0, 0}, newell = {0, 0, 0};
    for (size_t i = 0; i < ring.size(); i++) {
        mid = mid + ring[i] * (1.0 / double(ring.size()));
        newell = newell + cross(ring[i], ring[(i + 1) % ring.size()]);
    }
    if (dot(newell, mid - inside) < 0) newell = newell * -1.0;
    int n = addNormal(newell);
    std::vector<Corner> face;
    for (V p : ring) face.push_back({addPosition(p), n});
    addFace(part, face);
}

Part& newPart(const char* group, const char* material) {
    parts.push_back({group, material, {}});
    return parts.back();
}

// An ellipse in the plane x = const, centred on (x, cy, cz).
Ring ellipseX(double x, double cy, double cz, double ry, double rz, int n, double squareness = 1.0) {
    Ring r;
    for (int k = 0; k < n; k++) {
        double a = 2 * pi * k / n, c = std::cos(a), s = std::sin(a);
        double cc = std::copysign(std::pow(std::fabs(c), squareness), c);
        double ss = std::copysign(std::pow(std::fabs(s), squareness), s);
        r.push_back({x, cy + ry * ss, cz + rz * cc});
    }
    return r;
}

// A lens-shaped section: chord from `lead` to `trail`, thickness along
// `thick`, n points going round.
Ring airfoil(V lead, V trail, V thick, int n) {
    Ring r;
    for (int k = 0; k < n; k++) {
        double a = 2 * pi * k / n;
        double c = (1 - std::cos(a)) / 2;  // 0 at the leading edge, 1 at the trailing edge
        double t = 0.5 * std::sin(a) * (1.0 - 0.55 * c);
        r.push_back(lead + (trail - lead) * c + thick * t);
    }
    return r;
}

void buildHull() {
    Part& hull = newPart("hull", "hull");
    const double nose = -86, tail = 12, length = tail - nose;
    const int around = 16, along = 22;
    std::vector<Ring> rings;
    for (int i = 1; i <= along; i++) {
        double t = double(i) / along, x = nose + length * t;
        double w, h;
        if (t < 0.4) {
            double f = std::sqrt(1 - std::pow(1 - t / 0.4, 2));
            w = 7.5 * f, h = 5.5 * f;
        } else if (t < 0.85) {
            w = 7.5 + 1.0 * (t - 0.4) / 0.45, h = 5.5;
        } else {
            w = 8.5 - 3.0 * (t - 0.85) / 0.15, h = 5.5 - 1.5 * (t - 0.85) / 0.15;
        }
        rings.push_back(ellipseX(x, 0, 0, h, w, around, 0.8));
    }
    V tip = {nose, 0, 0};
    lathe(hull, rings, &tip, nullptr);
    cap(hull, rings.back(), {0, 0, 0});

    Part& canopy = newPart("cockpit", "glass");
    std::vector<Ring> domes;
    const V centre = {-56, 3.6, 0};
    for (int i = 0; i < 5; i++) {
        double lat = (pi / 2) * i / 5;
        Ring r;
        for (int k = 0; k < 14; k++) {
            double a = 2 * pi * k / 14;
            r.push_back({centre.x + 15 * std::cos(lat) * std::cos(a), centre.y + 4.6 * std::sin(lat),
                         centre.z + 4.4 * std::cos(lat) * std::sin(a)});
        }
        domes.push_back(r);
    }
    V top = {centre.x, centre.y + 4.6, centre.z};
    lathe(canopy, domes, nullptr, &top);
}

void buildWing(const char* group, const char* cannon, double side) {
    Part& wing = newPart(group, "wing");
    std::vector<Ring> rings;
    const int stations = 6;
    Ring tipRing;
    for (int i = 0; i < stations; i++) {
        double s = double(i) / (stations - 1);
        double z = side * (6 + 34 * s), y = -1.5 + 2.5 * s;
        V lead = {-34 + 30 * s, y, z}, trail = {3 + 5 * s, y, z};
        rings.push_back(airfoil(lead, trail, {0, 2.4 - 1.6 * s, 0}, 10));
    }
    lathe(wing, rings, nullptr, nullptr);
    cap(wing, rings.back(), {0, 0, 0});

    // A cannon along each wing tip.
    Part& gun = newPart(cannon, "metal");
    std::vector<Ring> barrel;
    double zt = side * 41.2, yt = 1.0;
    for (double x : {-22.0, -18.0, 4.0, 8.0})
        barrel.push_back(ellipseX(x, yt, zt, x < -19 ? 0.6 : 1.1, x < -19 ? 0.6 : 1.1, 8));
    V muzzle = {-24, yt, zt};
    lathe(gun, barrel, &muzzle, nullptr);
    cap(gun, barrel.back(), {0, yt, zt});
}

void buildEngine(const char* group, double side) {
    Part& body = newPart(group, "metal");
    const double z = side * 14, y = -2.5;
    std::vector<Ring> rings;
    const double xs[] = {-16, -14, -10, 10, 14, 19};
    const double rs[] = {3.2, 4.4, 4.8, 4.8, 4.2, 4.9};
    for (int i = 0; i < 6; i++) rings.push_back(ellipseX(xs[i], y, z, rs[i], rs[i], 12));
    lathe(body, rings, nullptr, nullptr);
    cap(body, rings.front(), {0, y, z});

    Part& glow = newPart("exhaust", "glow");
    Ring nozzle = ellipseX(19.2, y, z, 4.0, 4.0, 12);
    cap(glow, nozzle, {0, y, z});
}

void buildFin() {
    Part& fin = newPart("fin", "accent");
    std::vector<Ring> rings;
    for (int i = 0; i < 4; i++) {
        double s = i / 3.0, y = 4.5 + 12 * s;
        V lead = {-8 + 15 * s, y, 0}, trail = {12 + 2 * s, y, 0};
        Ring r = airfoil(lead, trail, {0, 0, 1.4 - 0.8 * s}, 10);
        rings.push_back(r);
    }
    lathe(fin, rings, nullptr, nullptr);
    cap(fin, rings.back(), {4, 0, 0});
}

void write(const std::string& dir) {
    std::string objPath = dir + "/111.obj", mtlPath = dir + "/111.mtl";
    FILE* mtl = fopen(mtlPath.c_str(), "w");
    FILE* obj = fopen(objPath.c_str(), "w");
    if (!mtl || !obj) {
        fprintf(stderr, "make_ship: can't write into \"%s\".\n", dir.c_str());
        exit(1);
    }
    fprintf(mtl,
            "# Ship materials, written by tools/make_ship.\n\n"
            "newmtl hull\nKa 0.25 0.25 0.27\nKd 0.72 0.74 0.78\nKs 0.5 0.5 0.5\nNs 250\n\n"
            "newmtl glass\nKa 0.02 0.05 0.1\nKd 0.1 0.25 0.55\nKs 0.9 0.9 0.95\nNs 900\n\n"
            "newmtl wing\nKa 0.2 0.22 0.25\nKd 0.45 0.5 0.6\nKs 0.3 0.3 0.3\nNs 120\n\n"
            "newmtl metal\nKa 0.15 0.15 0.15\nKd 0.3 0.3 0.32\nKs 0.7 0.7 0.7\nNs 400\n\n"
            "newmtl glow\nKa 1.0 0.45 0.1\nKd 1.0 0.6 0.2\nKs 0.0 0.0 0.0\nNs 0\n\n"
            "newmtl accent\nKa 0.3 0.05 0.05\nKd 0.75 0.12 0.1\nKs 0.4 0.4 0.4\nNs 200\n");
    fclose(mtl);

    size_t triangles = 0;
    for (const Part& p : parts)
        for (const auto& f : p.faces) triangles += f.size() - 2;
    fprintf(obj, "# Spaceship, written by tools/make_ship: %zu vertices, %zu triangles.\n", positions.size(),
            triangles);
    fprintf(obj, "# Nose along -x, up +y, wings along z; about 100 units long.\n");
    fprintf(obj, "mtllib 111.mtl\n\n");
    for (V p : positions) fprintf(obj, "v %.4f %.4f %.4f\n", p.x, p.y, p.z);
    fprintf(obj, "\n");
    for (V n : normals) fprintf(obj, "vn %.4f %.4f %.4f\n", n.x, n.y, n.z);
    std::string group, material;
    for (const Part& p : parts) {
        if (p.group != group) fprintf(obj, "\ng %s\n", p.group.c_str());
        if (p.group != group || p.material != material) fprintf(obj, "usemtl %s\n", p.material.c_str());
        group = p.group, material = p.material;
        for (const auto& f : p.faces) {
            fprintf(obj, "f");
            for (Corner c : f) fprintf(obj, " %d//%d", c.v, c.n);
            fprintf(obj, "\n");
        }
    }
    fclose(obj);
    printf("%s: %zu vertices, %zu normals, %zu triangles\n", objPath.c_str(), positions.size(), normals.size(),
           triangles);
}

}  // namespace

int main(int argc, char** argv) {
    buildHull();
    buildWing("wing_left", "cannon_left", 1);
    buildWing("wing_right", "cannon_right", -1);
    buildEngine("engine_left", 1);
    buildEngine("engine_right", -1);
    buildFin();
    write(argc > 1 ? argv[1] : "data");
    return 0;
}
