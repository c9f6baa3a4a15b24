// The MTL reader: defaults, statements before the first material, colours,
// shininess, opacity and the other material fields, texture maps with their
// options, whole keywords and where the library is looked for.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "kel_files.h"

namespace {

struct MtlTest : testing::Test {
    TempDir dir;
    KelModel* model = nullptr;
    // Reads an OBJ file that names `mtl` as its library "lib.mtl".
    KelModel* read(const std::string& mtl) {
        dir.write("lib.mtl", mtl);
        model = kelReadOBJ(dir.write("m.obj", "mtllib lib.mtl\n").c_str());
        return model;
    }
    ~MtlTest() override {
        if (model) kelDelete(model);
    }
};

void expectColour(const float* c, float r, float g, float b, float a) {
    EXPECT_EQ(c[0], r);
    EXPECT_EQ(c[1], g);
    EXPECT_EQ(c[2], b);
    EXPECT_EQ(c[3], a);
}

TEST_F(MtlTest, ALibraryWithoutMaterialsHoldsOnlyDefault) {
    read("# nothing\nsharpness 60\n");  // an unknown statement
    ASSERT_EQ(model->nummaterials, 1u);
    const KelMaterial& m = model->materials[0];
    EXPECT_STREQ(m.name, "default");
    // The statement is kept; the comment, the file's own, is not.
    EXPECT_STREQ(m.extras, "sharpness 60\n");
    expectColour(m.diffuse, 0.8f, 0.8f, 0.8f, 1.0f);
    expectColour(m.ambient, 0.2f, 0.2f, 0.2f, 1.0f);
    expectColour(m.specular, 0.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(m.shininess, 65.0f);
    EXPECT_EQ(m.dissolve, 1.0f);
    EXPECT_EQ(m.diffuseMap, nullptr);
    EXPECT_EQ(m.bumpMap, nullptr);
    expectColour(m.emission, 0, 0, 0, 1);
    EXPECT_EQ(m.ior, 1.0f);
    EXPECT_EQ(m.illum, -1);
    for (float f : {m.roughness, m.metallic, m.sheen, m.clearcoat, m.clearcoatRoughness}) EXPECT_EQ(f, 0.0f);
    for (const KelMap& map : m.maps) {
        EXPECT_EQ(map.name, nullptr);
        EXPECT_EQ(map.options, nullptr);
        EXPECT_EQ(std::vector<float>(map.offset, map.offset + 3), std::vector<float>(3, 0.0f));
        EXPECT_EQ(std::vector<float>(map.scale, map.scale + 3), std::vector<float>(3, 1.0f));
        EXPECT_EQ(map.bumpScale, 1.0f);
        EXPECT_EQ(map.clamp, 0);
    }
}

TEST_F(MtlTest, StatementsFillTheirMaterial) {
    read(
        "# exported by hand\n"
        "Kd 0.1 0.2 0.3\n"  // before the first newmtl: "default"
        "newmtl red\r\n"
        "# a note on red\n"
        "Tf 1 1 1\n"
        "  sharpness  60 \t\r\n"
        "Ka 0.5 0.6 0.7 0.9\n"  // a fourth number is skipped
        "Kd 1 0 0\n"
        "Ks 0.25 0.25\n"          // a missing number keeps the default
        "Ke 0.5 1 2\nKt 1 1 1\n"  // other K statements change nothing
        "Ns 96\n"
        "Ni 1.5\nNx 3\n"  // only Ns sets the shininess
        "illum 2\nPr 0.25\nPm 0.5\nPs 0.75\nPc 0.125\nPcr 0.0625\nPx 1\n"
        "newmtl default\n"
        "Ns x\n"                  // fails: the held value is converted
        "newmtl\n"                // a material without a name
        "newmtlx y\nKdx 0 0 0\n"  // not keywords
        // A name is the whole rest of the line, the blanks around it
        // dropped: two names that share a first word are two materials.
        "newmtl \t Hard Shiny\tPlastic  \r\n"
        "newmtl Hard\n");
    ASSERT_EQ(model->nummaterials, 6u);
    const KelMaterial* m = model->materials;
    expectColour(m[0].diffuse, 0.1f, 0.2f, 0.3f, 1.0f);
    // What kel does not read stays with its material, each line as written
    // without the blanks around it.
    EXPECT_STREQ(m[0].extras, nullptr);
    EXPECT_STREQ(m[1].extras, "# a note on red\nTf 1 1 1\nsharpness  60\nKt 1 1 1\nNx 3\nPx 1\n");
    EXPECT_STREQ(m[2].extras, nullptr);
    EXPECT_STREQ(m[3].extras, "newmtlx y\nKdx 0 0 0\n");
    EXPECT_STREQ(m[4].name, "Hard Shiny\tPlastic");
    EXPECT_STREQ(m[5].name, "Hard");
    EXPECT_EQ(kelFindMaterial(model, "Hard Shiny\tPlastic"), 4u);
    EXPECT_EQ(kelFindMaterial(model, "Hard"), 5u);
    EXPECT_STREQ(m[1].name, "red");
    expectColour(m[1].ambient, 0.5f, 0.6f, 0.7f, 1.0f);
    expectColour(m[1].diffuse, 1, 0, 0, 1);
    expectColour(m[1].specular, 0.25f, 0.25f, 0.0f, 1.0f);
    EXPECT_FLOAT_EQ(m[1].shininess, 12.288f);
    EXPECT_EQ(m[1].shininess, float(float(96 / 1000.0) * 128.0));
    expectColour(m[1].emission, 0.5f, 1, 2, 1);
    EXPECT_EQ(m[1].ior, 1.5f);
    EXPECT_EQ(m[1].illum, 2);
    EXPECT_EQ(std::vector<float>({m[1].roughness, m[1].metallic, m[1].sheen, m[1].clearcoat, m[1].clearcoatRoughness}),
              std::vector<float>({0.25f, 0.5f, 0.75f, 0.125f, 0.0625f}));
    EXPECT_EQ(m[2].illum, -1);
    EXPECT_EQ(m[2].ior, 1.0f);
    EXPECT_STREQ(m[2].name, "default");
    EXPECT_FLOAT_EQ(m[2].shininess, 8.32f);
    EXPECT_STREQ(m[3].name, "");
    expectColour(m[3].diffuse, 0.8f, 0.8f, 0.8f, 1.0f);
    EXPECT_EQ(kelFindMaterial(model, "default"), 0u);
    EXPECT_EQ(kelFindMaterial(model, "red"), 1u);
}

TEST_F(MtlTest, ColourNumbersEndWithTheirLine) {
    // The material count and the materials filled agree whatever follows
    // the numbers.
    read("newmtl a\nKd 1 1 1 newmtl b\nKs 0.5\n0.5 0.5 newmtl c\nKa 1 1\nnewmtl d\n");
    ASSERT_EQ(model->nummaterials, 3u);
    expectColour(model->materials[1].specular, 0.5f, 0.5f, 0.5f, 1.0f);
    EXPECT_STREQ(model->materials[2].name, "d");
    expectColour(model->materials[1].ambient, 1, 1, 0.2f, 1);
}

TEST_F(MtlTest, ShininessRunsFrom0To128) {
    read("newmtl a\nNs 1000\nnewmtl b\nNs 500\nnewmtl c\nNs 0\nnewmtl d\n");
    EXPECT_EQ(model->materials[1].shininess, 128.0f);
    EXPECT_EQ(model->materials[2].shininess, 64.0f);
    EXPECT_EQ(model->materials[3].shininess, 0.0f);
    EXPECT_EQ(model->materials[4].shininess, 65.0f);
}

TEST_F(MtlTest, OpacityComesFromDOrElseFromTr) {
    const struct {
        const char* statements;
        float dissolve;
    } cases[] = {
        {"", 1},
        {"d 0.5\n", 0.5f},
        {"Tr 0.25\n", 0.75f},
        {"d 0.5\nTr 0.25\n", 0.5f},  // "d" wins wherever it stands
        {"Tr 0.25\nd 0.5\n", 0.5f},
        {"Tr 0.25\nTr 1\n", 0},  // the last "Tr"
        {"d 0\n", 0},
        {"d\n0.125\n", 0.125f},      // numbers run across line ends as in other statements
        {"Tr x\n", 1},               // not a number: no change
        {"Tr 0.25\nTr x\n", 0.75f},  // ... nor after a "Tr" that has one
        {"d x\nTr 0.25\n", 1},       // a "d" without a number still takes "Tr"'s place
        {"dd 0.5\nTrx 0.5\n", 1},    // not keywords
    };
    for (const auto& c : cases) {
        // Each material's "d" counts for that material only: "b" after it
        // takes its "Tr".
        read(std::string("newmtl a\n") + c.statements + "newmtl b\nTr 0.5\n");
        ASSERT_EQ(model->nummaterials, 3u) << c.statements;
        EXPECT_EQ(model->materials[0].dissolve, 1.0f) << c.statements;
        EXPECT_EQ(model->materials[1].dissolve, c.dissolve) << c.statements;
        EXPECT_EQ(model->materials[2].dissolve, 0.5f) << c.statements;
        kelDelete(model), model = nullptr;
    }
}

TEST_F(MtlTest, MapNamesAreTheLineAfterTheirOptions) {
    const struct {
        std::string line;     // after "map_Kd"
        const char* name;     // null: none
        const char* options;  // the options kept as written, or null
        std::vector<float> offsetScaleBump;
        int clamp;
    } cases[] = {
        {std::string(" a \0b.png", 8), "a", nullptr, {0, 0, 0, 1, 1, 1, 1}, 0},  // a name is a C string
        {" wood.png", "wood.png", nullptr, {0, 0, 0, 1, 1, 1, 1}, 0},
        {"  my wood  texture.png \t\r",
         "my wood  texture.png",
         nullptr,
         {0, 0, 0, 1, 1, 1, 1},
         0},  // inner blanks kept
        {" -blendu on -blendv off -bm 0.5 -boost 2 -cc on -clamp on -imfchan r -texres 512 a.png",
         "a.png",
         "-blendu on -blendv off -boost 2 -cc on -imfchan r -texres 512",
         {0, 0, 0, 1, 1, 1, 0.5f},
         1},
        {" -mm 0  1 -o 1 -s 1 2 -t 1 2 3 b.png", "b.png", "-mm 0  1 -t 1 2 3", {1, 0, 0, 1, 2, 1, 1}, 0},
        {" -o 0.5 0.5 c.png", "c.png", nullptr, {0.5f, 0.5f, 0, 1, 1, 1, 1}, 0},  // -o with two numbers
        {" -s 1 2 3 4.png", "4.png", nullptr, {0, 0, 0, 1, 2, 3, 1}, 0},          // at most three numbers
        {" -s 2 -x.png", "-x.png", nullptr, {0, 0, 0, 2, 1, 1, 1}, 0},            // not an option: the name starts
        {" -clamp off -clamp on -bm x -type sphere r.png", "r.png", "-type sphere", {0, 0, 0, 1, 1, 1, 1}, 1},
        {" -clamp on", nullptr, nullptr, {}, 0},  // only options: the map stays as it was
        {"", nullptr, nullptr, {}, 0},
        {" .\\textures\\SpiderTex.jpg", ".\\textures\\SpiderTex.jpg", nullptr, {0, 0, 0, 1, 1, 1, 1}, 0},
        {" -mm 1\nmap_Kd d.png", "d.png", nullptr, {0, 0, 0, 1, 1, 1, 1}, 0},  // an option's values end with the line
    };
    for (const auto& c : cases) {
        read("newmtl a\nmap_Kd" + c.line + "\nnewmtl b\nmap_Kd -o 9 -clamp on first.png\nmap_Kd" + c.line + "\n");
        ASSERT_EQ(model->nummaterials, 3u) << c.line;
        const KelMaterial* m = model->materials;
        const KelMap& map = m[1].maps[KEL_MAP_DIFFUSE];
        if (c.name) {
            EXPECT_STREQ(m[1].diffuseMap, c.name) << c.line;
            EXPECT_STREQ(map.name, c.name) << c.line;
            EXPECT_NE(map.name, m[1].diffuseMap) << "each its own copy";
            if (c.options)
                EXPECT_STREQ(map.options, c.options) << c.line;
            else
                EXPECT_EQ(map.options, nullptr) << c.line;
            std::vector<float> fields(map.offset, map.offset + 3);
            fields.insert(fields.end(), map.scale, map.scale + 3);
            fields.push_back(map.bumpScale);
            EXPECT_EQ(fields, c.offsetScaleBump) << c.line;
            EXPECT_EQ(map.clamp, c.clamp) << c.line;
        } else {
            EXPECT_EQ(m[1].diffuseMap, nullptr) << c.line;
            EXPECT_EQ(map.name, nullptr) << c.line;
        }
        // A later statement replaces the map whole; one without a name keeps it.
        EXPECT_STREQ(m[2].diffuseMap, c.name ? c.name : "first.png") << c.line;
        const KelMap& second = m[2].maps[KEL_MAP_DIFFUSE];
        EXPECT_EQ(second.offset[0], c.name ? c.offsetScaleBump[0] : 9.0f) << c.line;
        EXPECT_EQ(second.clamp, c.name ? c.clamp : 1) << c.line;
        EXPECT_EQ(m[1].bumpMap, nullptr);
        kelDelete(model), model = nullptr;
    }
}

TEST_F(MtlTest, EveryMapKeywordFillsItsKind) {
    const struct {
        const char* keyword;
        int kind;
    } cases[] = {{"map_Ka", KEL_MAP_AMBIENT},
                 {"map_Kd", KEL_MAP_DIFFUSE},
                 {"map_Ks", KEL_MAP_SPECULAR},
                 {"map_Ns", KEL_MAP_SHININESS},
                 {"map_d", KEL_MAP_DISSOLVE},
                 {"map_Bump", KEL_MAP_BUMP},
                 {"map_bump", KEL_MAP_BUMP},
                 {"bump", KEL_MAP_BUMP},
                 {"norm", KEL_MAP_NORMAL},
                 {"disp", KEL_MAP_DISPLACEMENT},
                 {"map_disp", KEL_MAP_DISPLACEMENT},
                 {"map_Ke", KEL_MAP_EMISSION},
                 {"refl", KEL_MAP_REFLECTION},
                 {"map_Pr", KEL_MAP_ROUGHNESS},
                 {"map_Pm", KEL_MAP_METALLIC},
                 {"map_Ps", KEL_MAP_SHEEN},
                 {"map_kd", -1},
                 {"bumpy", -1},
                 {"map_Tr", -1},
                 {"normal", -1}};
    for (const auto& c : cases) {
        read(std::string("newmtl a\n") + c.keyword + " -bm 0.3 the map.png\nunknown statement\n");
        ASSERT_EQ(model->nummaterials, 2u) << c.keyword;
        const KelMaterial& m = model->materials[1];
        for (int kind = 0; kind < KEL_MAP_KINDS; kind++) {
            if (kind == c.kind) {
                EXPECT_STREQ(m.maps[kind].name, "the map.png") << c.keyword;
                EXPECT_EQ(m.maps[kind].bumpScale, 0.3f) << c.keyword;
            } else {
                EXPECT_EQ(m.maps[kind].name, nullptr) << c.keyword << " " << kind;
            }
        }
        // The diffuse and bump maps' names are kept again in their own slots.
        EXPECT_STREQ(m.diffuseMap, c.kind == KEL_MAP_DIFFUSE ? "the map.png" : nullptr) << c.keyword;
        EXPECT_STREQ(m.bumpMap, c.kind == KEL_MAP_BUMP ? "the map.png" : nullptr) << c.keyword;
        kelDelete(model), model = nullptr;
    }
}

TEST_F(MtlTest, EveryLibraryNamedAddsItsMaterials) {
    for (const char* sub : {"sub", "sub/mats"}) ASSERT_EQ(mkdir(dir.path(sub).c_str(), 0700), 0);
    dir.write("sub/mats/a.mtl", "Kd 0 0 1\nnewmtl first\nmap_Kd a.png\nbump b.png\nnewmtl shared\nNs 0\n");
    dir.write("sub/b.mtl", "Kd 1 0 0\nnewmtl second\nnewmtl shared\nNs 1000\n");
    dir.write("abs.mtl", "newmtl third\nnewmtl first\nKd 0 1 0\n");
    // Libraries beside the OBJ file (a name with slashes below it), several
    // on one line and in several statements, and one by absolute path; each
    // adds its materials after those before it. The first name is the
    // model's library, a name defined twice is found at its first
    // definition, and only the first library's statements before its first
    // newmtl change "default".
    std::string obj = dir.write("sub/m.obj",
                                "mtllib mats/a.mtl  b.mtl\nv 0 0 0\nf 1 1 1\nusemtl shared\n"
                                "mtllib " +
                                    dir.path("abs.mtl") + "\nusemtl first\nf 1 1 1\n");
    for (unsigned threads : {1u, 2u}) {
        KelReadOptions options = {};
        options.threads = threads;
        KelError error;
        model = kelLoadOBJ(obj.c_str(), &options, &error);
        ASSERT_NE(model, nullptr) << error.message;
        EXPECT_STREQ(model->mtllibname, "mats/a.mtl");
        ASSERT_EQ(model->nummaterials, 7u);
        const char* names[] = {"default", "first", "shared", "second", "shared", "third", "first"};
        for (unsigned i = 0; i < 7; i++) EXPECT_STREQ(model->materials[i].name, names[i]) << i;
        EXPECT_EQ(std::vector<float>(model->materials[0].diffuse, model->materials[0].diffuse + 3),
                  std::vector<float>({0, 0, 1}));
        EXPECT_STREQ(model->materials[1].bumpMap, "b.png");
        EXPECT_EQ(kelFindMaterial(model, "shared"), 2u);
        EXPECT_EQ(kelFindMaterial(model, "third"), 5u);
        // Per triangle: the usemtl before it, the first definition of a name.
        ASSERT_NE(model->trimaterials, nullptr);
        EXPECT_EQ(model->trimaterials[0], 0u);
        EXPECT_EQ(model->trimaterials[1], 1u);
        kelDelete(model), model = nullptr;
    }
    // One of them missing ends the read, naming it.
    dir.write("sub/n.obj", "mtllib b.mtl missing.mtl\n");
    KelError error;
    EXPECT_EQ(kelLoadOBJ(dir.path("sub/n.obj").c_str(), nullptr, &error), nullptr);
    EXPECT_EQ(error.code, KEL_ERROR_LIBRARY);
    EXPECT_NE(std::string(error.message).find("sub/missing.mtl"), std::string::npos) << error.message;
}

}  // namespace
