// Model records: group and material lookups, kelDelete and kelDirName, and
// the assertions that stay on in release builds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "kel/model_copy.h"
#include "kel_files.h"

namespace {

KelModel* emptyModel() { return static_cast<KelModel*>(calloc(1, sizeof(KelModel))); }

TEST(KelGroups, AddFindsOrCreatesGroupsNewestFirst) {
    KelModel* m = emptyModel();
    KelGroup* def = kelAddGroup(m, "default");
    KelGroup* hull = kelAddGroup(m, "hull");
    kelAddGroup(m, "Hull");
    kelAddGroup(m, " hull");
    KelGroup* wing2 = kelAddGroup(m, "wing2");
    KelGroup* win = kelAddGroup(m, "win");
    EXPECT_EQ(kelAddGroup(m, "hull"), hull);
    EXPECT_EQ(m->numgroups, 6u);
    EXPECT_EQ(groupNames(m), (std::vector<std::string>{"win", "wing2", " hull", "Hull", "hull", "default"}));
    EXPECT_EQ(kelFindGroup(m, "default"), def);
    // Whole names only: neither a longer nor a shorter name matches.
    EXPECT_EQ(kelFindGroup(m, "wing"), nullptr);
    EXPECT_EQ(kelFindGroup(m, "wing2"), wing2);
    EXPECT_EQ(kelFindGroup(m, "win"), win);
    EXPECT_EQ(hull->triangles, nullptr);
    EXPECT_EQ(hull->material, 0u);
    // The group keeps its own copy of the name.
    char name[] = "wing";
    KelGroup* wing = kelAddGroup(m, name);
    name[0] = 'x';
    EXPECT_STREQ(wing->name, "wing");
    kelDelete(m);  // no tables at all
}

TEST(KelGroups, AddingFailsWithNullAndLeavesTheModelAsItWas) {
    KelModel* m = emptyModel();
    KelGroup* def = kelAddGroup(m, "default");
    // The group and its name are two allocations; either failing adds
    // nothing. A group the model has takes none.
    for (unsigned long n : {1ul, 2ul}) {
        const ModelCopy before(m);
        kelFailingAllocation = n;
        KelGroup* group = kelAddGroup(m, "hull");
        bool failed = kelFailingAllocation == 0;
        kelFailingAllocation = 0;
        EXPECT_TRUE(failed) << n;
        EXPECT_EQ(group, nullptr) << n;
        EXPECT_TRUE(ModelCopy(m) == before) << n;
    }
    kelFailingAllocation = 1;
    EXPECT_EQ(kelAddGroup(m, "default"), def);
    EXPECT_EQ(kelFailingAllocation, 1u);
    kelFailingAllocation = 0;
    EXPECT_EQ(groupNames(m), (std::vector<std::string>{"default"}));
    kelDelete(m);
}

TEST(KelMaterials, FindReturnsTheFirstMatchOrReportsAndFallsBackToZero) {
    KelModel* m = emptyModel();
    testing::internal::CaptureStdout();
    EXPECT_EQ(kelFindMaterial(m, "steel"), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "kelFindMaterial():  can't find material \"steel\".\n");
    m->nummaterials = 4;
    m->materials = static_cast<KelMaterial*>(calloc(4, sizeof(KelMaterial)));
    const char* names[] = {"default", "red", "Red", "red"};
    for (int i = 0; i < 4; i++) m->materials[i].name = strdup(names[i]);
    EXPECT_EQ(kelFindMaterial(m, "red"), 1u);
    EXPECT_EQ(kelFindMaterial(m, "Red"), 2u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(kelFindMaterial(m, " red"), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "kelFindMaterial():  can't find material \" red\".\n");
    // kelDelete frees every table and string hanging from the model (the
    // leak check of the sanitizer build tells).
    m->materials[1].maps[KEL_MAP_NORMAL].name = strdup("n.png");
    m->materials[1].maps[KEL_MAP_SHEEN].options = strdup("-blendu off");
    m->materials[3].diffuseMap = strdup("d.png");
    m->numobjects = 2;
    m->objects = static_cast<KelObject*>(calloc(2, sizeof(KelObject)));
    m->objects[1].name = strdup("Cube");
    for (unsigned** table : {&m->trimaterials, &m->smoothing, &m->lines, &m->points})
        *table = static_cast<unsigned*>(calloc(4, sizeof(unsigned)));
    kelDelete(m);
}

TEST(KelDirName, KeepsEverythingUpToTheLastSlash) {
    const struct {
        const char* path;
        const char* dir;
    } cases[] = {{"data/111.obj", "data/"}, {"111.obj", ""},  {"/111.obj", "/"},
                 {"a/b/c/", "a/b/c/"},      {"a\\b.obj", ""}, {"", ""}};
    for (const auto& c : cases) {
        char* dir = kelDirName(c.path);
        EXPECT_STREQ(dir, c.dir) << c.path;
        free(dir);
        // Out of memory: null, not the end of the process.
        kelFailingAllocation = 1;
        dir = kelDirName(c.path);
        kelFailingAllocation = 0;
        EXPECT_EQ(dir, nullptr) << c.path;
        free(dir);
    }
}

TEST(KelAssertions, ANullModelStopsTheProcessInEveryBuild) {
    EXPECT_DEATH(kelFindGroup(nullptr, "default"), "Assertion `model' failed");
    EXPECT_DEATH(kelDelete(nullptr), "Assertion `model' failed");
}

}  // namespace
