#include <GL/gl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/state.h"
#include "gldouble/gldouble.h"
#include "image/bmp.h"
#include "scene/scene.h"

namespace fs = std::filesystem;

namespace {

// The body images in texture-object order come from scene/bodies.def
// (bodyImages); this checks that table against the bodies' names.
TEST(BodyImages, AreTheBodiesInOrderUnderTheirKoreanNamesInCp949) {
    const char* const english[10] = {"sun",     "mercury", "venus",  "earth",   "mars",
                                     "jupiter", "saturn",  "uranus", "neptune", "belt"};
    const char* const korean[10] = {"Sun", "수성", "금성", "지구", "화성", "목성", "토성", "천왕성", "해왕성", "Belt"};
    iconv_t toCp949 = iconv_open("CP949", "UTF-8");
    ASSERT_NE(toCp949, iconv_t(-1));
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(std::string(bodyImages[i].texture), std::string(english[i]) + ".bmp");
        char in[32], out[32];
        snprintf(in, sizeof in, "%s", korean[i]);
        char *from = in, *to = out;
        size_t inLeft = strlen(in), outLeft = sizeof out;
        ASSERT_NE(iconv(toCp949, &from, &inLeft, &to, &outLeft), size_t(-1)) << english[i];
        EXPECT_EQ(std::string(bodyImages[i].opened), std::string(out, to) + ".bmp") << english[i];
    }
    iconv_close(toCp949);
}

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;
};

Picture readSource(int i) {
    std::string path = std::string(ORVANDEL_SOURCE_DIR) + "/textures/" + bodyImages[i].texture;
    BmpImage image = {0, 0, nullptr};
    testing::internal::CaptureStdout();
    readBmpImage(path.c_str(), &image);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << path;
    Picture p{image.width, image.height, {}};
    if (image.pixels) p.pixels.assign(image.pixels, image.pixels + size_t(image.width) * image.height * 3);
    free(image.pixels);
    return p;
}

class InitScene : public testing::Test {
  protected:
    void SetUp() override {
        localViewerOn = twoSideOn = 0;
        freeTextureImage();
        glRecording = true;
        glDoubleReset();
    }
    void TearDown() override { freeTextureImage(); }
    static void freeTextureImage() {
        free(textureImage.pixels);
        textureImage = {0, 0, nullptr};
    }

    // Runs initScene and returns what it printed.
    static std::string run() {
        testing::internal::CaptureStdout();
        initScene();
        return testing::internal::GetCapturedStdout();
    }

    // Runs initScene in a copy of the run directory without the named file.
    static std::string runWithout(const char* missing) {
        char pattern[] = "/tmp/orvandel_rundir_XXXXXX";
        const fs::path dir = mkdtemp(pattern);
        for (const fs::directory_entry& e : fs::directory_iterator(fs::current_path()))
            if (e.is_regular_file()) fs::copy_file(e.path(), dir / e.path().filename());
        fs::remove(dir / missing);
        const fs::path home = fs::current_path();
        fs::current_path(dir);
        std::string out = run();
        fs::current_path(home);
        fs::remove_all(dir);
        return out;
    }

    static std::vector<const GlCall*> uploads() {
        std::vector<const GlCall*> out;
        for (const GlCall& c : glCalls)
            if (c.name == "glTexImage2D") out.push_back(&c);
        return out;
    }
};

// Every call of the setup, the lighting flags as given.
std::vector<std::string> expectedSetup(double localViewer, double twoSide) {
    std::vector<std::string> s = {
        glFormat("glClearColor", {0, 0, 0, 1}),
        glFormat("glLightModelf", {GL_LIGHT_MODEL_LOCAL_VIEWER, localViewer}),
        glFormat("glLightModelf", {GL_LIGHT_MODEL_TWO_SIDE, twoSide}),
        glFormat("glLightModelfv", {GL_LIGHT_MODEL_AMBIENT, 0.2f, 0.2f, 0.2f, 1}),
        glFormat("glLightfv", {GL_LIGHT0, GL_POSITION, 0, 0, 50, 1}),
        glFormat("glLightfv", {GL_LIGHT0, GL_AMBIENT, 0, 0, 0, 1}),
        glFormat("glLightfv", {GL_LIGHT0, GL_DIFFUSE, 1, 1, 1, 1}),
        glFormat("glLightfv", {GL_LIGHT0, GL_SPECULAR, 1, 1, 1, 1}),
        glFormat("glLightfv", {GL_LIGHT0, GL_SPOT_DIRECTION, -1, -1, -1}),
        glFormat("glLightf", {GL_LIGHT0, GL_SPOT_CUTOFF, 180}),
        glFormat("glLightf", {GL_LIGHT0, GL_SPOT_EXPONENT, 30}),
        glFormat("glMaterialfv", {GL_FRONT, GL_AMBIENT, 0.91f, 0.1f, 0.11f, 1}),
        glFormat("glMaterialfv", {GL_FRONT, GL_DIFFUSE, 0.43f, 0.37f, 0.57f, 1}),
        glFormat("glMaterialfv", {GL_FRONT, GL_SPECULAR, 0.33f, 0.33f, 0.52f, 1}),
        glFormat("glMaterialfv", {GL_FRONT, GL_SHININESS, 10}),
        glFormat("glMaterialfv", {GL_FRONT, GL_EMISSION, 0, 0, 0, 0}),
        glFormat("glColorMaterial", {GL_FRONT, GL_AMBIENT_AND_DIFFUSE}),
        glFormat("glShadeModel", {GL_SMOOTH}),
    };
    for (double cap :
         {GL_CULL_FACE, GL_COLOR_MATERIAL, GL_LIGHTING, GL_LIGHT0, GL_DEPTH_TEST, GL_NORMALIZE, GL_TEXTURE_2D})
        s.push_back(glFormat("glEnable", {cap}));
    for (const std::string& call : {
             glFormat("glPolygonMode", {GL_BACK, GL_LINE}),
             glFormat("glPolygonMode", {GL_FRONT, GL_FILL}),
             glFormat("glEnable", {GL_FOG}),
             glFormat("glFogfv", {GL_FOG_COLOR, 0.2f, 0.2f, 0.2f, 1}),
             glFormat("glFogi", {GL_FOG_MODE, GL_LINEAR}),
             glFormat("glFogf", {GL_FOG_START, 10}),
             glFormat("glFogf", {GL_FOG_END, -10}),
             glFormat("glFogf", {GL_FOG_DENSITY, 0.3f}),
         })
        s.push_back(call);
    return s;
}

// The calls that make texture object `name` from a width x height image.
std::vector<std::string> expectedTexture(int name, int width, int height) {
    return {
        glFormat("glBindTexture", {GL_TEXTURE_2D, double(name)}),
        glFormat("glTexParameteri", {GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST}),
        glFormat("glTexParameteri", {GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST}),
        glFormat("glTexParameteri", {GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT}),
        glFormat("glTexParameteri", {GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT}),
        glFormat("glTexEnvf", {GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE}),
        glFormat("glPixelStorei", {GL_UNPACK_ALIGNMENT, 1}),
        glFormat("glTexImage2D",
                 {GL_TEXTURE_2D, 0, GL_RGB, double(width), double(height), 0, GL_RGB, GL_UNSIGNED_BYTE}),
    };
}

TEST_F(InitScene, IssuesTheSetupThenMakesTenTexturesInTableOrder) {
    EXPECT_EQ(run(), "");
    std::vector<std::string> want = expectedSetup(0, 0);
    for (int i = 0; i < 10; ++i) {
        Picture p = readSource(i);
        std::vector<std::string> t = expectedTexture(i + 1, p.width, p.height);
        want.insert(want.end(), t.begin(), t.end());
    }
    EXPECT_EQ(glCallStrings(), want);
}

TEST_F(InitScene, EachObjectReceivesItsBodyImage) {
    run();
    std::vector<const GlCall*> up = uploads();
    ASSERT_EQ(up.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(bodyImages[i].texture);
        Picture p = readSource(i);
        EXPECT_GT(p.width, 0);
        EXPECT_EQ(p.width % 4, 0);
        EXPECT_EQ(p.width & (p.width - 1), 0);
        EXPECT_EQ(p.height & (p.height - 1), 0);
        EXPECT_TRUE(up[i]->data == p.pixels);
    }
    // The last array stays with the record; the earlier ones were freed.
    EXPECT_EQ(up[9]->pointer, textureImage.pixels);
}

TEST_F(InitScene, LightModelFlagsComeFromTheGlobals) {
    localViewerOn = 1;
    twoSideOn = 1;
    run();
    std::vector<std::string> calls = glCallStrings();
    std::vector<std::string> want = expectedSetup(1, 1);
    ASSERT_GE(calls.size(), want.size());
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + want.size()), want);
}

TEST_F(InitScene, MissingMercuryImageGetsTheSunsPictureAndGoesOn) {
    EXPECT_EQ(runWithout(bodyImages[1].opened), std::string("Could not open file '") + bodyImages[1].opened + "'\n");
    std::vector<const GlCall*> up = uploads();
    ASSERT_EQ(up.size(), 10u);
    Picture sun = readSource(0);
    EXPECT_EQ(up[1]->args[3], sun.width);
    EXPECT_EQ(up[1]->args[4], sun.height);
    EXPECT_TRUE(up[1]->data == sun.pixels);
    for (int i = 2; i < 10; ++i) EXPECT_TRUE(up[i]->data == readSource(i).pixels) << bodyImages[i].texture;
}

TEST_F(InitScene, MissingSunImageUploadsTheEmptyRecord) {
    EXPECT_EQ(runWithout("Sun.bmp"), "Could not open file 'Sun.bmp'\n");
    std::vector<const GlCall*> up = uploads();
    ASSERT_EQ(up.size(), 10u);
    EXPECT_EQ(up[0]->args[3], 0);
    EXPECT_EQ(up[0]->args[4], 0);
    EXPECT_EQ(up[0]->pointer, nullptr);
    EXPECT_TRUE(up[1]->data == readSource(1).pixels);
}

}  // namespace
