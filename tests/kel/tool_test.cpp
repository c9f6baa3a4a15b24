// The kel command-line tool, run as a user runs it: the built program with
// arguments, its output and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "kel/kel_files.h"

namespace {

#ifndef KEL_TOOL_PATH
#define KEL_TOOL_PATH ""
#endif

struct ToolRun {
    int status;
    std::string out, err;
};

class KelTool : public testing::Test {
  protected:
    TempDir dir;

    void SetUp() override {
        if (!*KEL_TOOL_PATH) GTEST_SKIP() << "the tool's path was not given to the build";
        dir.write("ship.mtl", "newmtl red\nKd 1 0 0\n");
        dir.write("ship.obj",
                  "mtllib ship.mtl\n"
                  "v 1 0 0\nv 0 1 0\nv 0 0 1\nv 1 0 0.001\n"
                  "vn 0 0 1\n"
                  "g hull\nusemtl red\nf 1//1 2//1 3//1\nf 4//1 3//1 2//1\n"
                  "g fin\nf 1 2 4\n");
    }

    // Runs the tool with `args` (shell words) in the temporary directory.
    ToolRun run(const std::string& args) {
        std::string out = dir.path("stdout.txt"), err = dir.path("stderr.txt");
        std::string command =
            "cd '" + dir.dir + "' && '" KEL_TOOL_PATH "' " + args + " >'" + out + "' 2>'" + err + "' </dev/null";
        int status = system(command.c_str());
        ToolRun r = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
        remove(out.c_str());
        remove(err.c_str());
        return r;
    }

    // The lines of a written file that start with `prefix`.
    std::string lines(const std::string& name, const std::string& prefix) {
        std::istringstream in(readFile(dir.path(name)));
        std::string line, result;
        while (std::getline(in, line))
            if (line.compare(0, prefix.size(), prefix) == 0) result += line + "\n";
        return result;
    }

    ToolRun convert(const std::string& options) { return run("convert ship.obj out.obj " + options); }
};

TEST_F(KelTool, HelpAndVersionSucceedAndBadUsageFailsInOneLine) {
    ToolRun help = run("--help");
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.out.find("usage: kel info [--optional-library] [--mesh] FILE.obj"));
    EXPECT_NE(std::string::npos, help.out.find("--vertex-normals ANGLE"));

    ToolRun version = run("--version");
    EXPECT_EQ(0, version.status);
    EXPECT_EQ("kel " KEL_PACKAGE_VERSION "\n", version.out);

    for (const char* args : {"", "frobnicate x.obj", "info", "info ship.obj ship.obj", "info --optional", "--version x",
                             "convert ship.obj", "convert ship.obj out.obj --bogus", "convert ship.obj out.obj --scale",
                             "convert ship.obj out.obj --scale 2x", "convert ship.obj out.obj --translate 1 2",
                             "convert ship.obj out.obj --write normals,colour", "convert ship.obj out.obj extra.obj",
                             "convert --scale 2 ship.obj", "check", "check --optional-library", "check --mesh ship.obj",
                             "info ship.obj -- --mesh", "convert ship.obj -- out.obj --write"}) {
        ToolRun r = run(args);
        EXPECT_EQ(2, r.status) << args;
        EXPECT_EQ(0u, r.err.find("kel: ")) << args;
        EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << args << ": " << r.err;
        EXPECT_NE(std::string::npos, r.err.find("kel --help")) << args;
        EXPECT_EQ("", r.out) << args;
    }
    // Nothing was written by the refused conversions.
    EXPECT_EQ("", readFile(dir.path("out.obj")));
}

TEST_F(KelTool, InfoDescribesTheModel) {
    ToolRun r = run("info ship.obj");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(
        "ship.obj\n"
        "  vertices          4\n"
        "  normals           1\n"
        "  texture coords    0\n"
        "  vertex colors     no\n"
        "  triangles         3\n"
        "  material library  ship.mtl\n"
        "groups: 3\n"
        "  \"default\"  0 triangles, material \"default\"\n"
        "  \"hull\"  2 triangles, material \"red\"\n"
        "  \"fin\"  1 triangle, material \"red\"\n"
        "materials: 2\n"
        "  \"default\"  diffuse 0.8 0.8 0.8, ambient 0.2 0.2 0.2, specular 0 0 0, shininess 65\n"
        "  \"red\"  diffuse 1 0 0, ambient 0.2 0.2 0.2, specular 0 0 0, shininess 65\n"
        "bounding box: 0 0 0 to 1 1 1 (size 1 1 1)\n",
        r.out);
    EXPECT_EQ("", r.err);
    // The fin's corners have no normal, so they are vertices of their own.
    ToolRun mesh = run("info --mesh ship.obj");
    EXPECT_EQ(0, mesh.status);
    EXPECT_EQ(r.out +
                  "mesh: normals\n"
                  "  vertices          7\n"
                  "  indices           9 (3 triangles)\n"
                  "  ranges            2\n",
              mesh.out);

    ToolRun missing = run("info nothing.obj");
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("nothing.obj"));
}

TEST_F(KelTool, OptionalLibraryReadsAModelWhoseLibraryIsMissing) {
    dir.write("lost.obj", "mtllib lost.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\nf 1 2 3\n");
    for (const char* args : {"info lost.obj", "convert lost.obj out.obj"}) {
        ToolRun r = run(args);
        EXPECT_EQ(1, r.status) << args;
        EXPECT_NE(std::string::npos, r.err.find("lost.mtl")) << args;
    }
    ToolRun r = run("info --optional-library lost.obj");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("  \"default\"  1 triangle, material \"default\"\n")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("warning")) << r.out;
    EXPECT_EQ(0u, r.err.find("lost.obj:1: warning: kelReadOBJ() warning: ")) << r.err;
    r = run("convert lost.obj out.obj --optional-library --write none");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("f 1 2 3\n", lines("out.obj", "f "));
}

TEST_F(KelTool, InfoShowsVertexColoursOpacityAndMaps) {
    dir.write("paint.mtl",
              "newmtl glass\nd 0.25\nmap_Kd -clamp on -s 2 2 my glass.png \n"
              "newmtl rough\nTr 0.5\nbump -bm 0.5 rough bump.png\n"
              "newmtl plain\nd 1\n"
              "newmtl pbr\nKe 1 0.5 0\nNi 1.5\nillum 2\nPr 0.25\nPm 1\nPs 0.5\nPc 0.125\nPcr 0.0625\n"
              "map_bump -imfchan l b.png\nnorm -o 0.5 n.png\nrefl -type sphere r.png\nmap_Pr -clamp on r.tga\n");
    dir.write("paint.obj",
              "mtllib paint.mtl\no Body\nv 0 0 0 1 0 0\nv 1 0 0\nv 0 1 0 0 0 1\ns 1\nf 1 2 3\ns 2\nf 1 2 3\ns off\n"
              "f 3 2 1\no Wire\nl 1 2 3\np 1\n");
    const std::string models = "/usr/share/assimp/models/OBJ/";
    const struct {
        std::string file;
        std::vector<std::string> lines;  // whole lines the output must hold
    } cases[] = {
        {"paint.obj",
         {"  vertex colors     yes", "  line segments     2", "  points            1",
          "  smoothing groups  2 (1 triangle in none)", "objects: 2", "  \"Body\"  3 triangles from 0",
          "  \"Wire\"  0 triangles from 3",
          "  \"glass\"  diffuse 0.8 0.8 0.8, ambient 0.2 0.2 0.2, specular 0 0 0, shininess 65, dissolve 0.25, "
          "diffuse map \"my glass.png\" (-s 2 2 1 -clamp on)",
          "  \"rough\"  diffuse 0.8 0.8 0.8, ambient 0.2 0.2 0.2, specular 0 0 0, shininess 65, dissolve 0.5, "
          "bump map \"rough bump.png\" (-bm 0.5)",
          "  \"plain\"  diffuse 0.8 0.8 0.8, ambient 0.2 0.2 0.2, specular 0 0 0, shininess 65",
          "  \"pbr\"  diffuse 0.8 0.8 0.8, ambient 0.2 0.2 0.2, specular 0 0 0, shininess 65, emission 1 0.5 0, "
          "refraction index 1.5, illumination model 2, roughness 0.25, metallic 1, sheen 0.5, clearcoat 0.125, "
          "clearcoat roughness 0.0625, bump map \"b.png\" (-imfchan l), normal map \"n.png\" (-o 0.5 0 0), "
          "reflection map \"r.png\" (-type sphere), roughness map \"r.tga\" (-clamp on)"}},
        {models + "cube_with_vertexcolors.obj", {"  vertex colors     yes", "  vertices          8"}},
        {models + "box_mat_with_spaces.obj",
         {"  vertex colors     no",
          "  \"Windows\"  diffuse 0.6 0.7 0.8, ambient 0.6 0.7 0.8, specular 0.9 0.9 0.9, shininess 0, dissolve 0.5, "
          "illumination model 2",
          "  \"Door\"  diffuse 0.8 0.6 0.4, ambient 0.8 0.6 0.4, specular 0.9 0.9 0.9, shininess 0, illumination model "
          "2"}},
        {models + "spider.obj",
         {"  \"Skin\"  diffuse 0.827451 0.792157 0.772549, ambient 0.2 0.2 0.2, specular 0 0 0, shininess 0, "
          "diffuse map \".\\wal67ar_small.jpg\"",
          "  \"Augentex\"  diffuse 0.8 0.8 0.8, ambient 0.2 0.2 0.2, specular 0 0 0, shininess 0, "
          "diffuse map \".\\engineflare1.jpg\""}},
    };
    for (const auto& c : cases) {
        if (c.file[0] == '/' && access(c.file.c_str(), R_OK) != 0) continue;  // assimp-testmodels not installed
        ToolRun r = run("info '" + c.file + "'");
        EXPECT_EQ(0, r.status) << c.file << "\n" << r.err;
        for (const std::string& line : c.lines)
            EXPECT_NE(std::string::npos, ("\n" + r.out).find("\n" + line + "\n")) << c.file << ": " << line << "\n"
                                                                                  << r.out;
    }
}

TEST_F(KelTool, CheckReadsEachFileStrictly) {
    dir.write("bad.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2\n");
    ToolRun r = run("check ship.obj bad.obj nothing.obj");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(
        "ship.obj: ok, 4 vertices, 1 normals, 0 texture coordinates, 3 triangles, 3 groups, 2 materials\n"
        "bad.obj:4: kelReadOBJ() failed: a face needs three references in \"bad.obj\" line 4.\n"
        "nothing.obj: kelReadOBJ() failed: can't open data file \"nothing.obj\". (No such file or directory)\n",
        r.out);
    r = run("check ship.obj");
    EXPECT_EQ(0, r.status) << r.out;
}

TEST_F(KelTool, OptionsStandBeforeBetweenOrAfterTheFiles) {
    dir.write("lost.obj", "mtllib lost.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\nf 1 2 3\n");
    dir.write("-dash.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    // Each row: the same command written in several ways, which must all
    // succeed with the same output and the same file written (if any).
    const struct {
        std::vector<std::string> forms;
        const char* written;
    } cases[] = {
        {{"check --optional-library lost.obj", "check lost.obj --optional-library",
          "check --optional-library lost.obj --"},
         nullptr},
        {{"info --mesh --optional-library lost.obj", "info lost.obj --mesh --optional-library",
          "info --mesh lost.obj --optional-library"},
         nullptr},
        {{"convert --scale 2 --write none ship.obj out.obj", "convert ship.obj --scale 2 out.obj --write none",
          "convert ship.obj out.obj --scale 2 --write none"},
         "out.obj"},
        {{"convert --optional-library --translate -1 -2 -3 lost.obj out.obj --write none",
          "convert lost.obj out.obj --translate -1 -2 -3 --optional-library --write none"},
         "out.obj"},
        // After "--", a word that starts with '-' is a file.
        {{"check -- -dash.obj"}, nullptr},
        {{"convert --write none -- -dash.obj -out.obj", "convert --write none -- ./-dash.obj -out.obj"}, "-out.obj"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> outs, files;
        for (const std::string& args : c.forms) {
            ToolRun r = run(args);
            EXPECT_EQ(0, r.status) << args << ": " << r.err << r.out;
            outs.push_back(r.out);
            files.push_back(c.written ? readFile(dir.path(c.written)) : "");
            if (c.written) {
                EXPECT_NE("", files.back()) << args;
                remove(dir.path(c.written).c_str());
            }
            EXPECT_EQ(outs[0], outs.back()) << args;
            EXPECT_EQ(files[0], files.back()) << args;
        }
    }
    // "--" after the files is no file; one before a word that starts with
    // '-' makes it one.
    EXPECT_EQ(0u, run("check -- -dash.obj").out.find("-dash.obj: ok, 3 vertices"));
    EXPECT_EQ(2, run("convert --write none -- -dash.obj -out.obj --write").status);
    // The option is taken as one, not as a file name.
    ToolRun r = run("check --optional-library lost.obj");
    EXPECT_EQ("lost.obj: ok, 3 vertices, 0 normals, 0 texture coordinates, 1 triangles, 1 groups, 1 materials\n",
              r.out);
    EXPECT_EQ(std::string::npos, r.out.find("--optional-library")) << r.out;
    EXPECT_EQ(1, run("check lost.obj").status);
}

TEST_F(KelTool, ConvertWritesWhatTheModelHasByDefault) {
    ToolRun r = convert("");
    EXPECT_EQ(0, r.status) << r.err;
    // The input's library, beside the output, is left as it is: the
    // output's library is named after it, with a warning.
    EXPECT_EQ("mtllib out.mtl\n", lines("out.obj", "mtllib"));
    EXPECT_EQ("newmtl red\nKd 1 0 0\n", readFile(dir.path("ship.mtl")));
    EXPECT_NE(std::string::npos, r.err.find("out.obj: warning: ")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("\"ship.mtl\" is left as it is")) << r.err;
    EXPECT_EQ("vn 0.000000 0.000000 1.000000\n", lines("out.obj", "vn"));
    // Groups in the order the file made them; the fin's face came without
    // normals. No "g default" and no second "default" material.
    EXPECT_EQ("f 1//1 2//1 3//1\nf 4//1 3//1 2//1\nf 1 2 4\n", lines("out.obj", "f "));
    EXPECT_EQ("g hull\ng fin\n", lines("out.obj", "g "));
    EXPECT_EQ("usemtl red\nusemtl red\n", lines("out.obj", "usemtl"));
    EXPECT_EQ("newmtl red\n", lines("out.mtl", "newmtl"));
    // Converted again, in place, the output is the same.
    const std::string first = readFile(dir.path("out.obj")), library = readFile(dir.path("out.mtl"));
    r = run("convert out.obj out.obj");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.err);
    EXPECT_EQ(first, readFile(dir.path("out.obj")));
    EXPECT_EQ(library, readFile(dir.path("out.mtl")));
    // Nor is the input replaced by an output named as its library: that is
    // no kind of file convert writes.
    r = run("convert ship.obj ship.mtl");
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.err.find("not: ship.mtl")) << r.err;
    EXPECT_EQ("newmtl red\nKd 1 0 0\n", readFile(dir.path("ship.mtl")));
}

TEST_F(KelTool, OperationsApplyInTheOrderGiven) {
    ASSERT_EQ(0, convert("--translate 1 2 3 --scale 2 --write none").status);
    EXPECT_EQ("v 4.000000 4.000000 6.000000\nv 4.000000 4.000000 6.002000\n", lines("out.obj", "v 4"));
    ASSERT_EQ(0, convert("--scale 2 --translate 1 2 3 --write none").status);
    EXPECT_EQ("v 3.000000 2.000000 3.000000\nv 3.000000 2.000000 3.002000\n", lines("out.obj", "v 3"));
    EXPECT_EQ("", lines("out.obj", "vn") + lines("out.obj", "usemtl") + lines("out.obj", "mtllib"));
}

TEST_F(KelTool, NormalsTexturesWeldAndWinding) {
    ToolRun r = convert("--weld 0.01 --reverse --facet-normals --write facet-normals");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("# 3 vertices\n", lines("out.obj", "# 3 vertices"));
    // Vertex 4 joins vertex 1; the triangles, reversed, get facet normals
    // in table order (the fin's is the third) and are written fin last.
    EXPECT_EQ("f 3//1 2//1 1//1\nf 2//2 3//2 1//2\nf 1//3 2//3 1//3\n", lines("out.obj", "f "));

    r = convert("--unitize --vertex-normals 90 --linear-texture --write normals,texcoords");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("# 4 texcoords\n", lines("out.obj", "# 4 texcoords"));
    // At 90 degrees the second hull triangle, facing away, keeps its own
    // normals at vertices 2 to 4.
    EXPECT_EQ("f 1/1/1 2/2/2 3/3/5\nf 4/4/7 3/3/4 2/2/3\nf 1/1/1 2/2/2 4/4/6\n", lines("out.obj", "f "));

    r = convert("--vertex-normals 0 --spheremap-texture --write texcoords");
    EXPECT_EQ(0, r.status) << r.err;
    // At 0 degrees every corner has its own normal, and the sphere map one
    // texture coordinate per normal.
    EXPECT_EQ("# 9 texcoords\n", lines("out.obj", "# 9"));
    EXPECT_EQ("f 1/2 2/5 3/7\nf 4/9 3/6 2/4\nf 1/1 2/3 4/8\n", lines("out.obj", "f "));
}

TEST_F(KelTool, SpheremapNeedsNormals) {
    ToolRun r = convert("--write none --reverse --weld 0 --spheremap-texture");
    EXPECT_EQ(0, r.status) << r.err;  // the file has normals
    r = convert("--write texcoords --spheremap-texture --linear-texture");
    EXPECT_EQ(0, r.status);
    dir.write("bare.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    r = run("convert bare.obj out.obj --spheremap-texture");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("needs vertex normals"));
    // Asked to write normals it does not have, the save warns on stderr.
    r = run("convert bare.obj out.obj --write normals");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("out.obj: warning: kelWriteOBJ() warning: smooth normal output requested with no normals defined.\n",
              r.err);
}

}  // namespace
