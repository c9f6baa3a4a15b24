// glTF output read back: the written file's JSON and buffer are parsed here,
// and every triangle's corners, every primitive's material and every
// embedded image are compared with the source.
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/wait.h>

#include <cmath>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "kel/kel_files.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

#ifndef KEL_TOOL_PATH
#define KEL_TOOL_PATH ""
#endif

namespace {

using nlohmann::json;

// A glTF file as read back: its JSON and its one buffer.
struct Gltf {
    json doc;
    std::string bin;

    // Component k of element i of accessor a, whatever its component type.
    double at(int a, size_t i, int k) const {
        const json& acc = doc["accessors"][a];
        const json& view = doc["bufferViews"][acc["bufferView"].get<int>()];
        const int type = acc["componentType"];
        const size_t size = type == 5126 || type == 5125 ? 4 : 2;
        const std::string kind = acc["type"];
        const size_t components = kind == "SCALAR" ? 1 : kind == "VEC2" ? 2 : kind == "VEC3" ? 3 : 4;
        const size_t stride = view.value("byteStride", components * size);
        const size_t offset = view["byteOffset"].get<size_t>() + acc.value("byteOffset", 0) + i * stride + k * size;
        EXPECT_LE(offset + size, view["byteOffset"].get<size_t>() + view["byteLength"].get<size_t>());
        if (offset + size > bin.size()) return NAN;
        if (type == 5126) {
            float f;
            memcpy(&f, &bin[offset], 4);
            return f;
        }
        uint32_t u = 0;
        memcpy(&u, &bin[offset], size);  // little-endian host
        return u;
    }
    std::string viewBytes(int v) const {
        const json& view = doc["bufferViews"][v];
        return bin.substr(view["byteOffset"].get<size_t>(), view["byteLength"].get<size_t>());
    }
};

uint32_t word(const std::string& bytes, size_t at) {
    uint32_t w = 0;
    if (at + 4 <= bytes.size()) memcpy(&w, &bytes[at], 4);
    return w;
}

// Parses a .glb (checking its header and chunks) or a .gltf and its .bin.
Gltf readGltf(const std::string& path) {
    Gltf g;
    std::string bytes = readFile(path);
    if (path.size() > 5 && strcasecmp(path.c_str() + path.size() - 5, ".gltf") == 0) {
        g.doc = json::parse(bytes);
        if (g.doc.contains("buffers")) {
            std::string dir = path.substr(0, path.rfind('/') + 1);
            g.bin = readFile(dir + g.doc["buffers"][0]["uri"].get<std::string>());
            EXPECT_EQ(g.bin.size(), g.doc["buffers"][0]["byteLength"].get<size_t>());
        }
        return g;
    }
    EXPECT_EQ(bytes.substr(0, 4), "glTF");
    EXPECT_EQ(word(bytes, 4), 2u);
    EXPECT_EQ(word(bytes, 8), bytes.size());
    const uint32_t jsonLength = word(bytes, 12);
    EXPECT_EQ(jsonLength % 4, 0u);
    EXPECT_EQ(bytes.substr(16, 4), "JSON");
    g.doc = json::parse(bytes.substr(20, jsonLength));
    if (20 + jsonLength < bytes.size()) {
        EXPECT_EQ(bytes.substr(24 + jsonLength, 4), std::string("BIN\0", 4));
        g.bin = bytes.substr(28 + jsonLength, word(bytes, 20 + jsonLength));
        EXPECT_EQ(g.bin.size(), g.doc["buffers"][0]["byteLength"].get<size_t>());
    }
    return g;
}

std::vector<std::string> warnings;
void collect(void*, unsigned long, const char* message) { warnings.push_back(message); }

// 2 x 2 pixels, top row first: red, green / blue, white.
const unsigned char kPixels[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

std::string ppm() { return std::string("P6\n2 2\n255\n") + std::string(reinterpret_cast<const char*>(kPixels), 12); }

// The same pixels as a 24-bit BMP: rows bottom first, B G R, padded to 4.
std::string bmp() {
    std::string b = "BM";
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; i++) b += char(v >> (8 * i));
    };
    put(54 + 16, 4), put(0, 4), put(54, 4);
    put(40, 4), put(2, 4), put(2, 4), put(1, 2), put(24, 2), put(0, 4), put(16, 4), put(0, 4), put(0, 4), put(0, 4),
        put(0, 4);
    for (int row : {1, 0}) {
        for (int x = 0; x < 2; x++) {
            const unsigned char* p = &kPixels[6 * row + 3 * x];
            b += char(p[2]), b += char(p[1]), b += char(p[0]);
        }
        b += std::string(2, '\0');
    }
    return b;
}

class Glb : public testing::Test {
  protected:
    TempDir dir;
    void SetUp() override {
        warnings.clear();
        dir.write("tex.png", readFile(ORVANDEL_SOURCE_DIR "/docs/ship-smooth.png"));
        dir.write("photo.jpg", std::string("\xFF\xD8\xFF\xE0 not decoded, embedded as it is", 36));
        dir.write("bitmap.bmp", bmp());
        dir.write("glow.ppm", ppm());
        dir.write("other.gif", "GIF89a");
        dir.write("model.mtl",
                  "newmtl m0\nKd 0.8 0.1 0.1\nNs 250\n"
                  "newmtl m1\nKs 1 1 1\nNs 900\nPr 0.3\nPm 0.7\n"
                  "newmtl m2\nKs 0.05 0.05 0.05\nNs 500\nd 0.25\n"
                  "newmtl m3\nNs 1200\nTr 0.4\nKe 2 0.5 0\n"
                  "newmtl m4\nKd 0.3 0.3 0.3\nNs 0\nmap_Kd -s 2 2 1 tex.png\nbump -bm 0.5 photo.jpg\n"
                  "newmtl m5\nNs 0\nmap_Ke -clamp on glow.ppm\nmap_Pr bitmap.bmp\nmap_Pm glow.ppm\n"
                  "newmtl m6\nNs 0\nmap_Kd other.gif\nnorm missing.png\nmap_Ke bitmap.bmp\n");
        // Two groups (one named in Latin-1), colours, a zero normal, a line
        // and points.
        dir.write("model.obj",
                  "mtllib model.mtl\n"
                  "v 0 0 0 1 0 0\nv 1 0 0 0 1 0\nv 1 1 0 0 0 1\nv 0 1 0.5 0.5 0.5 0.5\nv 2 2 2 1 1 1\n"
                  "vt 0 0\nvt 1 0\nvt 1 0.25\nvt 0 1\n"
                  "vn 0 0 2\nvn 0 0 0\nvn 3 0 4\n"
                  "g first\nusemtl m0\nf 1/1/1 2/2/1 3/3/1\nusemtl m1\nf 1/1/3 3/3/3 4/4/3\n"
                  "usemtl m2\nf 4/4/2 3/3/1 2/2/1\nusemtl m3\nf 1/1/1 3/3/1 4/4/1\n"
                  "g caf\xe9\nusemtl m4\nf 2/2/1 3/3/1 4/4/3\nusemtl m5\nf 1/1/1 2/2/1 4/4/1\n"
                  "usemtl m6\nf 1/2/1 2/3/1 3/4/1\n"
                  "l 1 5\np 5 2\n");
        mesh =
            kelLoadMesh(dir.path("model.obj").c_str(), nullptr, KEL_SMOOTH | KEL_TEXTURE | KEL_VERTEX_COLOR, nullptr);
        ASSERT_NE(mesh, nullptr);
        options.textureDir = dir.dir.c_str();
        options.warning = collect;
    }
    void TearDown() override { kelDeleteMesh(mesh); }

    Gltf save(const std::string& name) {
        EXPECT_EQ(kelSaveGLB(mesh, dir.path(name).c_str(), &options, nullptr), KEL_OK);
        return readGltf(dir.path(name));
    }

    KelMesh* mesh = nullptr;
    KelGLBOptions options = {};
};

// The primitives of every mesh in node order, with their node's name.
std::vector<std::pair<std::string, json>> primitives(const Gltf& g) {
    std::vector<std::pair<std::string, json>> all;
    for (const json& node : g.doc["nodes"]) {
        const json& m = g.doc["meshes"][node["mesh"].get<int>()];
        EXPECT_EQ(m["name"], node["name"]);
        for (const json& p : m["primitives"]) all.emplace_back(node["name"], p);
    }
    return all;
}

TEST_F(Glb, EveryCornerAndMaterialReadsBackAsTheMeshHasIt) {
    for (const char* name : {"out.glb", "out.gltf"}) {
        SCOPED_TRACE(name);
        Gltf g = save(name);
        auto prims = primitives(g);
        ASSERT_EQ(prims.size(), mesh->numranges + 2);
        for (unsigned r = 0; r < mesh->numranges; r++) {
            const KelMeshRange& range = mesh->ranges[r];
            const json& p = prims[r].second;
            // The group's name in UTF-8: its Latin-1 e acute as two bytes.
            std::string group = range.group;
            if (group.back() == '\xe9') group.back() = '\xc3', group += '\xa9';
            EXPECT_EQ(prims[r].first, group);
            EXPECT_EQ(p.value("mode", 4), 4);
            EXPECT_EQ(p["material"].get<unsigned>(), range.material);
            EXPECT_EQ(g.doc["materials"][range.material]["name"], mesh->materials[range.material].name);
            const json& at = p["attributes"];
            const int ind = p["indices"];
            ASSERT_EQ(g.doc["accessors"][ind]["count"].get<unsigned>(), range.count);
            for (unsigned j = 0; j < range.count; j++) {
                const size_t v = size_t(g.at(ind, j, 0)), source = mesh->indices[range.first + j];
                const unsigned t = (range.first + j) / 3;
                float n[3];
                memcpy(n, &mesh->normals[3 * source], sizeof n);
                float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
                if (length == 0) {
                    // The facet normal of its triangle, worked out here.
                    const float* a = &mesh->positions[3 * size_t(mesh->indices[3 * t])];
                    const float* b = &mesh->positions[3 * size_t(mesh->indices[3 * t + 1])];
                    const float* c = &mesh->positions[3 * size_t(mesh->indices[3 * t + 2])];
                    float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]},
                          w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
                    n[0] = u[1] * w[2] - u[2] * w[1], n[1] = u[2] * w[0] - u[0] * w[2],
                    n[2] = u[0] * w[1] - u[1] * w[0];
                    length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
                }
                for (int k = 0; k < 3; k++) {
                    EXPECT_EQ(g.at(at["POSITION"], v, k), mesh->positions[3 * source + k]);
                    EXPECT_NEAR(g.at(at["NORMAL"], v, k), n[k] / length, 1e-6);
                    EXPECT_EQ(g.at(at["COLOR_0"], v, k), mesh->colors[3 * source + k]);
                }
                EXPECT_EQ(g.at(at["TEXCOORD_0"], v, 0), mesh->texcoords[2 * source]);
                EXPECT_FLOAT_EQ(float(g.at(at["TEXCOORD_0"], v, 1)), 1 - mesh->texcoords[2 * source + 1]);
                // Tangents are written (m4 has a normal texture): unit, across
                // the normal, handedness +-1.
                double dot = 0, unit = 0;
                for (int k = 0; k < 3; k++)
                    dot += g.at(at["TANGENT"], v, k) * n[k] / length, unit += std::pow(g.at(at["TANGENT"], v, k), 2);
                EXPECT_NEAR(dot, 0, 1e-5);
                EXPECT_NEAR(unit, 1, 1e-5);
                EXPECT_EQ(std::fabs(g.at(at["TANGENT"], v, 3)), 1);
            }
        }
        // The line, then the points, over the same positions.
        const struct {
            const unsigned* indices;
            unsigned count;
            int mode;
            const char* name;
        } others[2] = {{mesh->lineindices, mesh->numlineindices, 1, "lines"},
                       {mesh->pointindices, mesh->numpointindices, 0, "points"}};
        for (int k = 0; k < 2; k++) {
            const json& p = prims[mesh->numranges + k].second;
            EXPECT_EQ(prims[mesh->numranges + k].first, others[k].name);
            EXPECT_EQ(p["mode"], others[k].mode);
            EXPECT_FALSE(p.contains("material"));
            EXPECT_FALSE(p["attributes"].contains("NORMAL"));
            ASSERT_EQ(g.doc["accessors"][p["indices"].get<int>()]["count"], others[k].count);
            for (unsigned i = 0; i < others[k].count; i++) {
                size_t v = size_t(g.at(p["indices"], i, 0));
                for (int c = 0; c < 3; c++) {
                    EXPECT_EQ(g.at(p["attributes"]["POSITION"], v, c), mesh->positions[3 * others[k].indices[i] + c]);
                    EXPECT_EQ(g.at(p["attributes"]["COLOR_0"], v, c), mesh->colors[3 * others[k].indices[i] + c]);
                }
            }
        }
        // POSITION's bounds, as the format asks for.
        const json& position = g.doc["accessors"][prims[0].second["attributes"]["POSITION"].get<int>()];
        EXPECT_EQ(position["min"], json::parse("[0,0,0]"));
        EXPECT_EQ(position["max"], json::parse("[1,1,0.5]"));
    }
}

// Each material as converted by hand: the base colour and its alpha, the
// metallic and roughness factors, the emissive factor, the textures.
TEST_F(Glb, MaterialsAsConvertersMakeThem) {
    struct Expected {
        const char* name;
        std::vector<double> base;
        double metallic, roughness;
        std::vector<double> emissive;
        bool blend;
        std::vector<const char*> textures;  // the images of base colour, metallic-roughness, emissive, normal
    };
    const std::vector<Expected> blinnPhong = {
        {"m0", {0.8, 0.1, 0.1, 1}, 0, 0.75, {0, 0, 0}, false, {}},
        {"m1", {0.8, 0.8, 0.8, 1}, 0, 0.1, {0, 0, 0}, false, {}},
        {"m2", {0.8, 0.8, 0.8, 0.25}, 0, 0.5 * 0.95, {0, 0, 0}, true, {}},
        {"m3", {0.8, 0.8, 0.8, 0.6}, 0, 0, {1, 0.5, 0}, true, {}},
        {"m4", {1, 1, 1, 1}, 0, 1, {0, 0, 0}, false, {"tex.png", "", "", "photo.jpg"}},
        {"m5", {0.8, 0.8, 0.8, 1}, 0, 1, {1, 1, 1}, false, {"", "", "glow.ppm", ""}},
        {"m6", {0.8, 0.8, 0.8, 1}, 0, 1, {1, 1, 1}, false, {"", "", "bitmap.bmp", ""}},
    };
    std::vector<Expected> metallicRoughness = blinnPhong;
    for (Expected& e : metallicRoughness) e.roughness = 0;
    metallicRoughness[1].metallic = 0.7, metallicRoughness[1].roughness = 0.3;
    metallicRoughness[5].metallic = metallicRoughness[5].roughness = 1;
    metallicRoughness[5].textures = {"", "bitmap.bmp+glow.ppm", "glow.ppm", ""};
    const char* slots[4] = {"baseColorTexture", "metallicRoughnessTexture", "emissiveTexture", "normalTexture"};
    for (int mode = 0; mode < 3; mode++) {
        SCOPED_TRACE(mode);
        options.metallicRoughness = mode == 1;
        options.unlit = mode == 2;
        warnings.clear();
        Gltf g = save("materials.glb");
        const json& materials = g.doc["materials"];
        ASSERT_EQ(materials.size(), 8u);  // "default" first
        for (size_t i = 0; i < 7; i++) {
            const Expected& e = (mode == 1 ? metallicRoughness : blinnPhong)[i];
            const json& m = materials[i + 1];
            const json& pbr = m["pbrMetallicRoughness"];
            EXPECT_EQ(m["name"], e.name);
            for (size_t c = 0; c < 4; c++)
                EXPECT_NEAR(pbr["baseColorFactor"][c].get<double>(), e.base[c], 1e-6) << e.name;
            for (size_t c = 0; c < 3; c++) EXPECT_NEAR(m["emissiveFactor"][c].get<double>(), e.emissive[c], 1e-6);
            EXPECT_NEAR(pbr["metallicFactor"].get<double>(), e.metallic, 1e-6) << e.name;
            EXPECT_NEAR(pbr["roughnessFactor"].get<double>(), e.roughness, 1e-6) << e.name;
            EXPECT_EQ(m.value("alphaMode", "OPAQUE"), e.blend ? "BLEND" : "OPAQUE");
            EXPECT_EQ(m.value("doubleSided", false), e.blend);
            EXPECT_EQ(m.contains("extensions"), mode == 2);
            for (size_t s = 0; s < 4; s++) {
                const json& holder = s < 2 ? pbr : m;
                const char* want = s < e.textures.size() ? e.textures[s] : "";
                std::string got;
                if (holder.contains(slots[s])) {
                    int source = g.doc["textures"][holder[slots[s]]["index"].get<int>()]["source"];
                    got = g.doc["images"][source]["name"];
                }
                EXPECT_EQ(got, want) << e.name << " " << slots[s];
            }
        }
        EXPECT_NEAR(materials[5]["normalTexture"]["scale"].get<double>(), 0.5, 1e-6);
        EXPECT_EQ(g.doc.contains("extensionsUsed"), mode == 2);
        // m6's three maps: of another kind, missing, and (as a normal map) fine.
        EXPECT_EQ(warnings.size(), 2u);
        if (warnings.size() == 2) {
            EXPECT_NE(warnings[0].find("other.gif"), std::string::npos);
            EXPECT_NE(warnings[1].find("missing.png"), std::string::npos);
        }
    }
    options.noTextures = 1;
    EXPECT_FALSE(save("plain.glb").doc.contains("images"));
}

// PNG and JPEG bytes embedded as they are; BMP and PPM as PNG of the same
// pixels; the packed metallic-roughness image holds each map's first
// channel in green and blue.
TEST_F(Glb, ImagesEmbeddedWithTheirPixels) {
    options.metallicRoughness = 1;
    Gltf g = save("images.glb");
    std::map<std::string, std::string> bytes, types;
    for (const json& image : g.doc["images"]) {
        bytes[image["name"]] = g.viewBytes(image["bufferView"]);
        types[image["name"]] = image["mimeType"];
    }
    EXPECT_EQ(bytes["tex.png"], readFile(dir.path("tex.png")));
    EXPECT_EQ(types["tex.png"], "image/png");
    EXPECT_EQ(bytes["photo.jpg"], readFile(dir.path("photo.jpg")));
    EXPECT_EQ(types["photo.jpg"], "image/jpeg");
    // Red of each map: 255 0 / 0 255.
    const unsigned char packed[12] = {255, 255, 255, 255, 0, 0, 255, 0, 0, 255, 255, 255};
    const struct {
        const char* name;
        const unsigned char* pixels;
    } converted[3] = {{"bitmap.bmp", kPixels}, {"glow.ppm", kPixels}, {"bitmap.bmp+glow.ppm", packed}};
    for (const auto& c : converted) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(types[c.name], "image/png");
        int w = 0, h = 0, n = 0;
        const std::string& png = bytes[c.name];
        unsigned char* pixels =
            stbi_load_from_memory(reinterpret_cast<const unsigned char*>(png.data()), int(png.size()), &w, &h, &n, 3);
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(w, 2);
        EXPECT_EQ(h, 2);
        EXPECT_EQ(std::vector<unsigned char>(pixels, pixels + 12), std::vector<unsigned char>(c.pixels, c.pixels + 12));
        stbi_image_free(pixels);
    }
}

// Indices are 16-bit where every index of the accessor is below 65535;
// numbers the format cannot hold are written as 0, and bounded so.
TEST(GlbBuffer, IndexSizesAndNumbersTheFormatCannotHold) {
    TempDir dir;
    std::vector<float> positions(3 * 70000);
    for (size_t i = 0; i < positions.size(); i++) positions[i] = float(i % 7 + 1);
    positions[0] = NAN, positions[4] = INFINITY, positions[5] = -INFINITY;
    std::vector<unsigned> indices = {0, 1, 2, 0, 1, 65534, 0, 1, 65535, 69999, 1, 0};
    std::vector<KelMeshRange> ranges = {{0, 3, 0, "a"}, {3, 3, 0, "a"}, {6, 3, 0, "b"}, {9, 3, 0, "b"}};
    KelMesh mesh = {};
    mesh.numvertices = 70000;
    mesh.positions = positions.data();
    mesh.numindices = unsigned(indices.size());
    mesh.indices = indices.data();
    mesh.numranges = unsigned(ranges.size());
    mesh.ranges = ranges.data();
    std::string path = dir.path("big.glb");
    ASSERT_EQ(kelSaveGLB(&mesh, path.c_str(), nullptr, nullptr), KEL_OK);
    Gltf g = readGltf(path);
    auto prims = primitives(g);
    ASSERT_EQ(prims.size(), 4u);
    EXPECT_EQ(prims[0].first, "a");
    EXPECT_EQ(prims[2].first, "b");
    const int expected[4] = {5123, 5123, 5125, 5125};
    for (size_t p = 0; p < 4; p++) {
        int a = prims[p].second["indices"];
        EXPECT_EQ(g.doc["accessors"][a]["componentType"], expected[p]);
        for (size_t i = 0; i < 3; i++) EXPECT_EQ(g.at(a, i, 0), indices[3 * p + i]);
    }
    const json& attributes = prims[0].second["attributes"];
    EXPECT_EQ(attributes.size(), 1u);  // positions only
    for (int c = 0; c < 3; c++) {
        EXPECT_EQ(g.at(attributes["POSITION"], 0, c), c == 0 ? 0 : positions[c]);
        EXPECT_EQ(g.at(attributes["POSITION"], 1, c), c == 0 ? positions[3] : 0);
    }
    EXPECT_EQ(g.doc["accessors"][attributes["POSITION"].get<int>()]["min"], json::parse("[0,0,0]"));
    EXPECT_EQ(g.doc["accessors"][attributes["POSITION"].get<int>()]["max"], json::parse("[7,7,7]"));
    // A hand-built mesh whose range runs past its indices, or whose index
    // names no vertex, is refused before anything is written.
    ranges[3].count = 6;
    EXPECT_EQ(kelSaveGLB(&mesh, dir.path("bad.glb").c_str(), nullptr, nullptr), KEL_ERROR_INDEX);
    ranges[3].count = 3;
    indices[9] = 70000;
    EXPECT_EQ(kelSaveGLB(&mesh, dir.path("bad.glb").c_str(), nullptr, nullptr), KEL_ERROR_INDEX);
    EXPECT_FALSE(std::filesystem::exists(dir.path("bad.glb")));
    // An empty mesh is a document without buffers.
    const KelMesh empty = {};
    ASSERT_EQ(kelSaveGLB(&empty, dir.path("empty.glb").c_str(), nullptr, nullptr), KEL_OK);
    EXPECT_FALSE(readGltf(dir.path("empty.glb")).doc.contains("buffers"));
}

// Failures leave the earlier file as it was; progress runs to the total.
TEST_F(Glb, FailuresKeepEarlierFilesAndProgressEnds) {
    KelError error;
    EXPECT_EQ(kelSaveGLB(mesh, dir.path("none/out.glb").c_str(), &options, &error), KEL_ERROR_OPEN);
    EXPECT_EQ(error.systemError, ENOENT);
    dir.write("kept.glb", "earlier");
    dir.write("kept.bin", "earlier bin");
    static std::vector<std::pair<unsigned long long, unsigned long long>> calls;
    options.progress = [](void*, unsigned long long done, unsigned long long total) {
        calls.emplace_back(done, total);
        return 0;
    };
    for (const char* name : {"kept.glb", "kept.gltf"}) {
        calls.clear();
        EXPECT_EQ(kelSaveGLB(mesh, dir.path(name).c_str(), &options, nullptr), KEL_OK);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().first, calls.back().second);
        uint64_t files = readFile(dir.path(name)).size();
        if (std::string(name).find(".gltf") != std::string::npos) files += readFile(dir.path("kept.bin")).size();
        EXPECT_EQ(calls.back().second, files);
    }
    dir.write("kept.glb", "earlier");
    options.progress = [](void*, unsigned long long, unsigned long long) { return 1; };
    EXPECT_EQ(kelSaveGLB(mesh, dir.path("kept.glb").c_str(), &options, &error), KEL_ERROR_CANCELLED);
    EXPECT_EQ(readFile(dir.path("kept.glb")), "earlier");
    for (const auto& entry : std::filesystem::directory_iterator(dir.dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);  // no temporary file left
}

// The tool writes glTF for .glb and .gltf, refuses kinds it does not write
// and glTF options for OBJ output.
TEST_F(Glb, ToolConvertsByTheOutputKind) {
    if (!*KEL_TOOL_PATH) GTEST_SKIP() << "the tool's path was not given to the build";
    auto run = [&](const std::string& args) {
        std::string command = "cd '" + dir.dir + "' && '" KEL_TOOL_PATH "' " + args + " >/dev/null 2>&1";
        int status = system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run("convert model.obj a.glb --unlit"), 0);
    EXPECT_EQ(readFile(dir.path("a.glb")).substr(0, 4), "glTF");
    EXPECT_TRUE(readGltf(dir.path("a.glb")).doc.contains("extensionsUsed"));
    EXPECT_EQ(run("convert model.obj a.GLTF --scale 2 --no-textures"), 0);
    Gltf g = readGltf(dir.path("a.GLTF"));
    EXPECT_FALSE(g.doc.contains("images"));
    EXPECT_EQ(g.doc["buffers"][0]["uri"], "a.bin");
    EXPECT_EQ(g.doc["accessors"][0]["max"], json::parse("[2,2,1]"));
    EXPECT_EQ(run("convert model.obj a.stl"), 2);
    EXPECT_EQ(run("convert model.obj a.obj --unlit"), 2);
    EXPECT_EQ(readFile(dir.path("a.stl")), "");
    EXPECT_EQ(run("convert model.obj a.obj"), 0);
}

}  // namespace
