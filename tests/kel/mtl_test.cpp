// The MTL reader: defaults, statements before the first material, colours,
// shininess, opacity, texture map names, whole keywords and where the
// library is looked for.
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
    read("# nothing\nillum 2\n");
    ASSERT_EQ(model->nummaterials, 1u);
    const KelMaterial& m = model->materials[0];
    EXPECT_STREQ(m.name, "default");
    expectColour(m.diffuse, 0.8f, 0.8f, 0.8f, 1.0f);
    expectColour(m.ambient, 0.2f, 0.2f, 0.2f, 1.0f);
    expectColour(m.specular, 0.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(m.shininess, 65.0f);
    EXPECT_EQ(m.dissolve, 1.0f);
    EXPECT_EQ(m.diffuseMap, nullptr);
    EXPECT_EQ(m.bumpMap, nullptr);
}

TEST_F(MtlTest, StatementsFillTheirMaterial) {
    read(
        "Kd 0.1 0.2 0.3\n"  // before the first newmtl: "default"
        "newmtl red\r\n"
        "Ka 0.5 0.6 0.7 0.9\n"  // a fourth number is skipped
        "Kd 1 0 0\n"
        "Ks 0.25 0.25\n"        // a missing number keeps the default
        "Ke 1 1 1\nKt 1 1 1\n"  // other K statements change nothing
        "Ns 96\n"
        "Ni 1.5\nNx 3\n"  // only Ns sets the shininess
        "newmtl default\n"
        "Ns x\n"                    // fails: the held value is converted
        "newmtl\n"                  // a material without a name
        "newmtlx y\nKdx 0 0 0\n");  // not keywords
    ASSERT_EQ(model->nummaterials, 4u);
    const KelMaterial* m = model->materials;
    expectColour(m[0].diffuse, 0.1f, 0.2f, 0.3f, 1.0f);
    EXPECT_STREQ(m[1].name, "red");
    expectColour(m[1].ambient, 0.5f, 0.6f, 0.7f, 1.0f);
    expectColour(m[1].diffuse, 1, 0, 0, 1);
    expectColour(m[1].specular, 0.25f, 0.25f, 0.0f, 1.0f);
    EXPECT_FLOAT_EQ(m[1].shininess, 12.288f);
    EXPECT_EQ(m[1].shininess, float(float(96 / 1000.0) * 128.0));
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
        std::string line;  // after "map_Kd"
        const char* name;  // null: none
    } cases[] = {
        {std::string(" a \0b.png", 8), "a"},  // a name is a C string: it ends at a zero byte
        {" wood.png", "wood.png"},
        {"  my wood  texture.png \t\r", "my wood  texture.png"},  // inner blanks kept, outer dropped
        {" -blendu on -blendv off -bm 0.5 -boost 2 -cc on -clamp off -imfchan r -texres 512 a.png", "a.png"},
        {" -mm 0 1 -o 1 -s 1 2 -t 1 2 3 b.png", "b.png"},
        {" -o 0.5 0.5 c.png", "c.png"},  // -o with two numbers
        {" -s 1 2 3 4.png", "4.png"},    // at most three numbers
        {" -s 2 -x.png", "-x.png"},      // not an option: the name starts
        {" -clamp on", nullptr},         // only options
        {"", nullptr},
        {" .\\textures\\SpiderTex.jpg", ".\\textures\\SpiderTex.jpg"},
        {" -mm 1\nmap_Kd d.png", "d.png"},  // an option's values end with the line
    };
    for (const auto& c : cases) {
        read("newmtl a\nmap_Kd" + c.line + "\nnewmtl b\nmap_Kd first.png\nmap_Kd" + c.line + "\n");
        ASSERT_EQ(model->nummaterials, 3u) << c.line;
        const KelMaterial* m = model->materials;
        if (c.name)
            EXPECT_STREQ(m[1].diffuseMap, c.name) << c.line;
        else
            EXPECT_EQ(m[1].diffuseMap, nullptr) << c.line;
        // A later statement replaces the map; one without a name keeps it.
        EXPECT_STREQ(m[2].diffuseMap, c.name ? c.name : "first.png") << c.line;
        EXPECT_EQ(m[1].bumpMap, nullptr);
        kelDelete(model), model = nullptr;
    }
}

TEST_F(MtlTest, BumpMapsHaveTwoKeywords) {
    read(
        "newmtl a\nmap_Bump -bm 0.3 a bump.png\n"
        "newmtl b\nbump b.png\nmap_Kd b diffuse.png\n"
        "newmtl c\nmap_bump c.png\nbumpy c.png\nmap_Ka c.png\nmap_Ks c.png\n");  // other words change nothing
    ASSERT_EQ(model->nummaterials, 4u);
    EXPECT_STREQ(model->materials[1].bumpMap, "a bump.png");
    EXPECT_EQ(model->materials[1].diffuseMap, nullptr);
    EXPECT_STREQ(model->materials[2].bumpMap, "b.png");
    EXPECT_STREQ(model->materials[2].diffuseMap, "b diffuse.png");
    EXPECT_EQ(model->materials[3].bumpMap, nullptr);
    EXPECT_EQ(model->materials[3].diffuseMap, nullptr);
}

TEST_F(MtlTest, TheLibraryIsLookedForBesideTheObjFile) {
    for (const char* sub : {"sub", "sub/mats"}) ASSERT_EQ(mkdir(dir.path(sub).c_str(), 0700), 0);
    dir.write("sub/mats/a.mtl", "newmtl first\nmap_Kd a.png\nbump b.png\n");  // freed when replaced
    dir.write("sub/b.mtl", "newmtl second\nnewmtl third\n");
    std::string obj = dir.write("sub/m.obj", "mtllib mats/a.mtl\nmtllib b.mtl first.mtl\n");
    model = kelReadOBJ(obj.c_str());
    // A later library replaces the earlier one; the first word names it.
    EXPECT_STREQ(model->mtllibname, "b.mtl");
    ASSERT_EQ(model->nummaterials, 3u);
    EXPECT_STREQ(model->materials[2].name, "third");
}

}  // namespace
