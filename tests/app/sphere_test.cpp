#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "scene/scene.h"
#include "view_state.h"

struct Corner {
    double s, t, x, y, z;
};
struct Face {
    double n[3];
    std::vector<Corner> corners;
};

// Draws one sphere against the double and reads its faces back.
static std::vector<Face> sphereFaces(float radius, int stacks, int slices) {
    glDoubleReset();
    drawSphere(radius, stacks, slices);
    std::vector<Face> faces;
    for (size_t i = 0; i < glCalls.size(); ++i) {
        const GlCall& c = glCalls[i];
        if (c.name == "glBegin") {
            EXPECT_EQ(c.args[0], GL_POLYGON);
            faces.emplace_back();
        } else if (c.name == "glNormal3fv") {
            for (int k = 0; k < 3; ++k) faces.back().n[k] = c.args[k];
        } else if (c.name == "glTexCoord2fv") {
            const GlCall& v = glCalls[i + 1];
            EXPECT_EQ(v.name, "glVertex3fv");
            faces.back().corners.push_back({c.args[0], c.args[1], v.args[0], v.args[1], v.args[2]});
        }
    }
    return faces;
}

TEST(Sphere, GridOf441PointsAnd400OutwardFaces) {
    const float r = 4.0f;
    const std::vector<Face> faces = sphereFaces(r, 20, 20);
    ASSERT_EQ(faces.size(), 400u);
    EXPECT_EQ(std::count_if(glCalls.begin(), glCalls.end(), [](const GlCall& c) { return c.name == "glEnd"; }), 400);

    // A grid point is named by its texture coordinate (k / 20, j / 20); every
    // one of the 21 x 21 is used and always with the same position.
    std::map<std::pair<double, double>, Corner> points;
    for (const Face& f : faces) {
        ASSERT_EQ(f.corners.size(), 4u);
        for (const Corner& c : f.corners) {
            auto it = points.emplace(std::make_pair(c.s, c.t), c).first;
            EXPECT_EQ(it->second.x, c.x);
            EXPECT_EQ(it->second.z, c.z);
            EXPECT_NEAR(std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z), r, 1e-5);
        }
    }
    EXPECT_EQ(points.size(), 441u);

    // The first face uses grid points 0, 1, 22, 21: (0,0), (1,0), (1,1), (0,1) in (k, j).
    const double step = float(1) / float(20);
    const double st[4][2] = {{0, 0}, {step, 0}, {step, step}, {0, step}};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(faces[0].corners[c].s, st[c][0]);
        EXPECT_EQ(faces[0].corners[c].t, st[c][1]);
    }
    // Face 21 is row 1, column 1: its first corner is grid point 22.
    EXPECT_EQ(faces[21].corners[0].s, step);
    EXPECT_EQ(faces[21].corners[0].t, step);

    for (const Face& f : faces) {
        // Unit normals through the cell, and the corners wind counter-
        // clockwise seen from outside (Newell's polygon normal points out).
        double newell[3] = {0, 0, 0}, centre[3] = {0, 0, 0};
        for (size_t i = 0; i < 4; ++i) {
            const Corner& a = f.corners[i];
            const Corner& b = f.corners[(i + 1) % 4];
            newell[0] += (a.y - b.y) * (a.z + b.z);
            newell[1] += (a.z - b.z) * (a.x + b.x);
            newell[2] += (a.x - b.x) * (a.y + b.y);
            centre[0] += a.x / 4, centre[1] += a.y / 4, centre[2] += a.z / 4;
        }
        EXPECT_NEAR(std::sqrt(f.n[0] * f.n[0] + f.n[1] * f.n[1] + f.n[2] * f.n[2]), 1.0, 1e-6);
        EXPECT_GT(newell[0] * f.n[0] + newell[1] * f.n[1] + newell[2] * f.n[2], 0.0);
        EXPECT_GT(centre[0] * f.n[0] + centre[1] * f.n[1] + centre[2] * f.n[2], 0.0);
    }
}

TEST(Sphere, AnglesAreAccumulatedInFloat) {
    // Grid point (j, k) = (13, 7), the first corner of face 13 * 20 + 7, with
    // its angles summed step by step in float as the mesh does.
    const float r = 1.02f;
    const std::vector<Face> faces = sphereFaces(r, 20, 20);
    const float dLat = float(piValue / 20), dLon = float(2.0 * piValue / 20);
    float lat = float(-0.5 * piValue), lon = 0.0f;
    for (int j = 0; j < 13; ++j) lat += dLat;
    for (int k = 0; k < 7; ++k) lon += dLon;
    const Corner& c = faces[13 * 20 + 7].corners[0];
    EXPECT_EQ(c.x, r * cosf(lat) * cosf(lon));
    EXPECT_EQ(c.y, r * cosf(lat) * sinf(lon));
    EXPECT_EQ(c.z, r * sinf(lat));
    const double latC = double(lat) + double(dLat) / 2, lonC = double(lon) + double(dLon) / 2;
    const double n[3] = {r * std::cos(latC) * std::cos(lonC), r * std::cos(latC) * std::sin(lonC), r * std::sin(latC)};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(faces[13 * 20 + 7].n[i], float(n[i]) / r);
}

TEST(Sphere, PolesRowsAndSeamColumn) {
    const float r = 0.78f;
    const std::vector<Face> faces = sphereFaces(r, 20, 20);
    int south = 0, north = 0;
    std::map<double, Corner> seamStart, seamEnd;  // by t
    for (const Face& f : faces) {
        for (const Corner& c : f.corners) {
            if (c.t == 0.0) {  // the south pole row: 21 separate points, s = k / 20
                ++south;
                EXPECT_EQ(c.z, -r);
                EXPECT_NEAR(c.x, 0.0, 1e-6);
                EXPECT_NEAR(c.y, 0.0, 1e-6);
                EXPECT_EQ(c.s, double(float(std::lround(c.s * 20)) / 20.0f));
            }
            if (c.t == 1.0) {
                ++north;
                EXPECT_NEAR(c.z, r, 1e-6);
            }
            if (c.s == 0.0) seamStart[c.t] = c;
            if (c.s == 1.0) seamEnd[c.t] = c;
        }
    }
    EXPECT_EQ(south, 2 * 20);  // each face of the first row has two corners there
    EXPECT_EQ(north, 2 * 20);
    ASSERT_EQ(seamEnd.size(), 21u);
    for (const auto& [t, c] : seamEnd) {
        const Corner& a = seamStart.at(t);
        EXPECT_NEAR(c.x, a.x, 1e-5 * r);  // the accumulated longitude drifts a little
        EXPECT_NEAR(c.y, a.y, 1e-5 * r);
        EXPECT_EQ(c.z, a.z);
    }
}

TEST(Sphere, NonSquareGridsStepLatitudeByStacksAndLongitudeBySlices) {
    const float r = 2.0f;
    for (auto [stacks, slices] : {std::pair{3, 5}, std::pair{5, 3}}) {
        const std::vector<Face> faces = sphereFaces(r, stacks, slices);
        ASSERT_EQ(faces.size(), size_t(stacks * slices));
        for (const Face& f : faces) {
            // Grid point (j, k) is at latitude -90 + 180 j / stacks degrees and
            // longitude 360 k / slices, with texture coordinate (k / slices, j / stacks).
            double j = std::round(f.corners[0].t * stacks), k = std::round(f.corners[0].s * slices);
            for (const Corner& c : f.corners) {
                const double lat = piValue * (std::round(c.t * stacks) / stacks - 0.5);
                const double lon = 2 * piValue * std::round(c.s * slices) / slices;
                const double want[3] = {r * cos(lat) * cos(lon), r * cos(lat) * sin(lon), r * sin(lat)};
                const double got[3] = {c.x, c.y, c.z};
                for (int i = 0; i < 3; ++i)
                    ASSERT_NEAR(got[i], want[i], 1e-5) << stacks << " x " << slices << ", s " << c.s << " t " << c.t;
            }
            // The normal points through the middle of the cell.
            const double lat = piValue * ((j + 0.5) / stacks - 0.5), lon = 2 * piValue * (k + 0.5) / slices;
            const double want[3] = {cos(lat) * cos(lon), cos(lat) * sin(lon), sin(lat)};
            for (int i = 0; i < 3; ++i)
                ASSERT_NEAR(f.n[i], want[i], 1e-5) << stacks << " x " << slices << ", face " << j << ", " << k;
        }
    }
}

TEST(Sphere, NormalsDoNotDependOnTheRadius) {
    const std::vector<Face> small = sphereFaces(0.04f, 20, 20);
    const std::vector<Face> large = sphereFaces(4.0f, 20, 20);
    ASSERT_EQ(small.size(), large.size());
    for (size_t f = 0; f < small.size(); ++f) {
        // Equal up to the rounding of the centre point scaled by the radius.
        for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(small[f].n[k], large[f].n[k]);
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(small[f].corners[c].z * 100, large[f].corners[c].z, 1e-5);
    }
}

TEST(Sphere, EmptyGridDrawsNothing) {
    const std::pair<int, int> grids[] = {{0, 20}, {20, 0}, {-3, 5}, {5, -1}};
    for (auto [stacks, slices] : grids) {
        glDoubleReset();
        drawSphere(1.0f, stacks, slices);
        EXPECT_TRUE(glCalls.empty());
    }
    // The smallest grid: one face spanning the whole sphere.
    EXPECT_EQ(sphereFaces(1.0f, 1, 1).size(), 1u);
}
