// kel: shows what an OBJ model holds, or converts one through the model
// library's operations.
//
//   kel info [--optional-library] [--mesh] FILE.obj
//   kel convert IN.obj OUT.obj [operation ...] [--write WHAT] [--optional-library]
//   kel convert IN.obj OUT.glb|OUT.gltf [operation ...] [--metallic-roughness] [--unlit] [--no-textures]
//               [--optional-library]
//   kel check [--optional-library] FILE.obj ...
//   kel --version
//
// A command's options may come before, between or after its files; "--"
// ends them, so that a file whose name starts with '-' can be named.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kel/kel.h"

namespace {

const char kUsage[] =
    "usage: kel info [--optional-library] [--mesh] FILE.obj\n"
    "       kel convert IN.obj OUT.obj [operation ...] [--write WHAT] [--optional-library]\n"
    "       kel convert IN.obj OUT.glb|OUT.gltf [operation ...] [--metallic-roughness] [--unlit]\n"
    "                   [--no-textures] [--optional-library]\n"
    "       kel check [--optional-library] FILE.obj ...\n"
    "       kel --help\n"
    "       kel --version\n"
    "\n"
    "info prints the counts (with lines, points and smoothing groups when the model\n"
    "has them), whether the vertices have colours, the groups with their triangles\n"
    "and materials, the objects, the materials (with every field that differs from\n"
    "its default and the texture maps with their options) and the bounding box of\n"
    "a model; with --mesh also the vertex, index and range counts of its mesh (one\n"
    "vertex per distinct combination of position, normal, texture coordinate and\n"
    "colour).\n"
    "\n"
    "convert reads IN.obj, applies the operations in the order given and writes\n"
    "OUT.obj (and, with materials, the material library beside it).\n"
    "  --unitize               centre the model and scale it into -1..1\n"
    "  --scale F               scale by F\n"
    "  --translate X Y Z       move by X, Y, Z\n"
    "  --reverse               reverse the winding of every triangle, flip the normals\n"
    "  --facet-normals         compute one normal per triangle\n"
    "  --vertex-normals ANGLE  compute facet normals, then vertex normals: faces\n"
    "                          within ANGLE degrees of each other are smoothed,\n"
    "                          sharper edges stay creased\n"
    "  --weld EPSILON          merge vertices closer than EPSILON on every axis\n"
    "  --linear-texture        texture coordinates from x and z\n"
    "  --spheremap-texture     texture coordinates from the vertex normals\n"
    "  --write WHAT            what to write besides the vertices and faces: a\n"
    "                          comma-separated list of normals, facet-normals,\n"
    "                          texcoords and materials, or none; by default\n"
    "                          everything the model has\n"
    "\n"
    "OUT.glb (one binary file) or OUT.gltf (JSON and OUT.bin) is glTF 2.0 with\n"
    "everything the model has, its textures embedded; another kind of OUT is refused.\n"
    "  --metallic-roughness    take the materials' Pr, Pm, map_Pr and map_Pm as they\n"
    "                          are, instead of converting Ns and Ks\n"
    "  --unlit                 mark every material unlit (KHR_materials_unlit)\n"
    "  --no-textures           write no textures\n"
    "\n"
    "check reads each file strictly, as the format has it, and prints FILE: ok\n"
    "with its counts, or FILE:LINE: and what is wrong there; it fails when any\n"
    "file does.\n"
    "\n"
    "--optional-library reads a model whose material library is missing or\n"
    "unreadable with the default material only, after a warning, instead of\n"
    "failing.\n"
    "\n"
    "Options may come before or after the files; -- ends the options.\n";

// A usage mistake: one line on stderr, status 2.
[[noreturn]] void usageError(const char* problem, const char* detail) {
    fprintf(stderr, "kel: %s%s (kel --help shows the usage)\n", problem, detail);
    exit(2);
}

// One option of a command: its name and how many values follow it.
struct OptionKind {
    const char* name;
    int values;
};

// An option as given, with its values (argv entries that follow it).
struct GivenOption {
    const OptionKind* kind;
    char** values;
};

// A command's words: its operands (files) and its options in the order
// given. A word that starts with '-' (other than "-" alone) is an option
// wherever it stands, until "--", after which every word is an operand.
struct Arguments {
    std::vector<const char*> operands;
    std::vector<GivenOption> options;
};

Arguments parseArguments(int argc, char** argv, const std::vector<OptionKind>& kinds) {
    Arguments arguments;
    bool optionsEnded = false;
    for (int i = 0; i < argc; i++) {
        const char* word = argv[i];
        if (optionsEnded || word[0] != '-' || word[1] == '\0') {
            arguments.operands.push_back(word);
            continue;
        }
        if (!strcmp(word, "--")) {
            optionsEnded = true;
            continue;
        }
        const OptionKind* kind = nullptr;
        for (const OptionKind& k : kinds)
            if (!strcmp(word, k.name)) kind = &k;
        if (!kind) usageError("unknown option: ", word);
        if (i + kind->values >= argc) usageError("missing value after ", word);
        arguments.options.push_back({kind, argv + i + 1});
        i += kind->values;
    }
    return arguments;
}

float number(const char* text) {
    char* end;
    float value = strtof(text, &end);
    if (end == text || *end) usageError("not a number: ", text);
    return value;
}

int spheremap(KelModel* model, const float*) {
    if (!model->normals) {
        fprintf(stderr, "kel: --spheremap-texture needs vertex normals (read or made by --vertex-normals)\n");
        exit(1);
    }
    return kelSpheremapTexture(model);
}

// An operation of convert: its option, how many numbers follow it, and what
// it does with them (KEL_OK, or KEL_ERROR_MEMORY with the model unchanged).
struct Operation {
    const char* name;
    int arguments;
    int (*run)(KelModel* model, const float* values);
};

const Operation kOperations[] = {
    {"--unitize", 0,
     [](KelModel* m, const float*) {
         kelUnitize(m);
         return KEL_OK;
     }},
    {"--scale", 1,
     [](KelModel* m, const float* v) {
         kelScale(m, v[0]);
         return KEL_OK;
     }},
    {"--translate", 3,
     [](KelModel* m, const float* v) {
         kelTranslate(m, v);
         return KEL_OK;
     }},
    {"--reverse", 0,
     [](KelModel* m, const float*) {
         kelReverseWinding(m);
         return KEL_OK;
     }},
    {"--facet-normals", 0, [](KelModel* m, const float*) { return kelFacetNormals(m); }},
    {"--vertex-normals", 1,
     [](KelModel* m, const float* v) {
         int code = kelFacetNormals(m);
         return code != KEL_OK ? code : kelVertexNormals(m, v[0]);
     }},
    {"--weld", 1, [](KelModel* m, const float* v) { return kelWeld(m, v[0]); }},
    {"--linear-texture", 0, [](KelModel* m, const float*) { return kelLinearTexture(m); }},
    {"--spheremap-texture", 0, spheremap},
};

// A step of the conversion: an operation and the numbers given with it.
struct Step {
    const Operation* op;
    float values[3];
};

// Applies the steps in order; running out of memory ends the program.
void runSteps(KelModel* model, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        if (step.op->run(model, step.values) != KEL_OK) {
            fprintf(stderr, "kel: out of memory in %s\n", step.op->name);
            exit(1);
        }
    }
}

unsigned writeFlags(const char* list) {
    static const struct {
        const char* name;
        unsigned flag;
    } kinds[] = {{"normals", KEL_SMOOTH},
                 {"facet-normals", KEL_FLAT},
                 {"texcoords", KEL_TEXTURE},
                 {"materials", KEL_MATERIAL},
                 {"none", KEL_NONE}};
    unsigned mode = KEL_NONE;
    for (const char* p = list; *p;) {
        size_t length = strcspn(p, ",");
        bool known = false;
        for (const auto& kind : kinds)
            if (strlen(kind.name) == length && strncmp(p, kind.name, length) == 0) {
                mode |= kind.flag;
                known = true;
            }
        if (!known) usageError("--write takes normals, facet-normals, texcoords, materials or none, not: ", list);
        p += length + (p[length] == ',');
    }
    return mode;
}

// A progress bar on stderr, for files large enough to wait for and only
// when stderr is a terminal.
struct Bar {
    const char* what;  // "reading" or "writing"
    const char* path;
    int shown;  // percent last drawn, -1 for none
};

int drawBar(void* user, unsigned long long done, unsigned long long total) {
    Bar* bar = static_cast<Bar*>(user);
    int percent = total ? int(done * 100 / total) : 100;
    if (percent != bar->shown) {
        bar->shown = percent;
        char cells[41];
        memset(cells, '.', 40);
        memset(cells, '#', size_t(percent * 40 / 100));
        cells[40] = '\0';
        fprintf(stderr, "\r%s %s [%s] %3d%%", bar->what, bar->path, cells, percent);
    }
    return 0;
}

void endBar(const Bar& bar) {
    if (bar.shown >= 0) fputs("\r\033[K", stderr);
}

// Whether a file this large deserves a progress bar.
bool showsProgress(const char* path) {
    struct stat info;
    return isatty(STDERR_FILENO) && stat(path, &info) == 0 && info.st_size > (64ll << 20);
}

// The library's message, and the system's reason when a system call failed.
void printError(FILE* stream, const KelError& error) {
    if (error.systemError)
        fprintf(stream, "%s (%s)\n", error.message, strerror(error.systemError));
    else
        fprintf(stream, "%s\n", error.message);
}

// What a load or save reports to: the progress bar, and the file that
// warnings name.
struct Report {
    Bar bar;
    const char* path;
};

int reportProgress(void* user, unsigned long long done, unsigned long long total) {
    return drawBar(&static_cast<Report*>(user)->bar, done, total);
}

// A warning of the library on stderr, as FILE:LINE: warning: ... (no LINE
// when it concerns no line).
void printWarning(void* user, unsigned long line, const char* message) {
    const Report* report = static_cast<const Report*>(user);
    endBar(report->bar);
    if (line)
        fprintf(stderr, "%s:%lu: warning: %s\n", report->path, line, message);
    else
        fprintf(stderr, "%s: warning: %s\n", report->path, message);
}

// Reads the model at `path` (strictly when `strict`), with a progress bar
// when `bar`; null, with the error, when it cannot.
KelModel* tryLoad(const char* path, bool bar, bool optionalLibrary, bool strict, KelError* error) {
    Report report = {{"reading", path, -1}, path};
    KelReadOptions options = {};
    options.optionalLibrary = optionalLibrary;
    options.strict = strict;
    options.warning = printWarning;
    options.user = &report;
    if (bar) options.progress = reportProgress;
    KelModel* model = kelLoadOBJ(path, &options, error);
    endBar(report.bar);
    return model;
}

// tryLoad that ends the tool with status 1 and the library's message when
// the model cannot be read.
KelModel* load(const char* path, bool bar, bool optionalLibrary) {
    KelError error;
    KelModel* model = tryLoad(path, bar, optionalLibrary, false, &error);
    if (!model) {
        printError(stderr, error);
        exit(1);
    }
    return model;
}

// What convert writes, by OUT's extension (any case): OBJ for ".obj" and
// for a name without one (such as /dev/stdout), glTF for ".glb" and
// ".gltf"; any other extension names a kind the tool does not write.
enum class OutputKind { OBJ, GLTF, OTHER };

OutputKind outputKind(const char* path) {
    const char* base = strrchr(path, '/');
    base = base ? base + 1 : path;
    const char* dot = strrchr(base, '.');
    if (!dot || dot == base) return OutputKind::OBJ;
    if (!strcasecmp(dot, ".obj")) return OutputKind::OBJ;
    if (!strcasecmp(dot, ".glb") || !strcasecmp(dot, ".gltf")) return OutputKind::GLTF;
    return OutputKind::OTHER;
}

// The mesh of everything the file has, read with kelLoadMesh (which needs
// no model beside the mesh).
KelMesh* loadMesh(const char* path, bool bar, bool optionalLibrary) {
    Report report = {{"reading", path, -1}, path};
    KelReadOptions options = {};
    options.optionalLibrary = optionalLibrary;
    options.warning = printWarning;
    options.user = &report;
    if (bar) options.progress = reportProgress;
    KelError error;
    KelMesh* mesh = kelLoadMesh(path, &options, KEL_SMOOTH | KEL_TEXTURE | KEL_VERTEX_COLOR | KEL_IF_PRESENT, &error);
    endBar(report.bar);
    if (!mesh) {
        printError(stderr, error);
        exit(1);
    }
    return mesh;
}

// convert to glTF: the model read, the operations applied (without any,
// the mesh is read directly), and the mesh of everything it has written.
int convertGLTF(const char* in, const char* out, const std::vector<Step>& steps, bool optionalLibrary,
                KelGLBOptions options) {
    bool bar = showsProgress(in);
    KelMesh* mesh;
    if (steps.empty()) {
        mesh = loadMesh(in, bar, optionalLibrary);
    } else {
        KelModel* model = load(in, bar, optionalLibrary);
        runSteps(model, steps);
        unsigned mode = (model->normals      ? KEL_SMOOTH
                         : model->facetnorms ? KEL_FLAT
                                             : 0) |
                        (model->texcoords ? KEL_TEXTURE : 0) | (model->colors ? KEL_VERTEX_COLOR : 0);
        KelError error;
        mesh = kelMakeMesh(model, mode, &error);
        kelDelete(model);
        if (!mesh) {
            printError(stderr, error);
            return 1;
        }
    }
    // Texture maps are looked up beside the OBJ file.
    char* dir = kelDirName(in);
    Report report = {{"writing", out, -1}, out};
    options.textureDir = dir;
    options.progress = bar ? reportProgress : nullptr;
    options.warning = printWarning;
    options.user = &report;
    KelError error;
    int status = kelSaveGLB(mesh, out, &options, &error);
    endBar(report.bar);
    free(dir);
    kelDeleteMesh(mesh);
    if (status != KEL_OK) printError(stderr, error);
    return status == KEL_OK ? 0 : 1;
}

int convert(int argc, char** argv) {
    std::vector<OptionKind> kinds = {
        {"--optional-library", 0}, {"--write", 1}, {"--metallic-roughness", 0}, {"--unlit", 0}, {"--no-textures", 0}};
    const size_t firstOperation = kinds.size();
    for (const Operation& op : kOperations) kinds.push_back({op.name, op.arguments});
    // Every option is checked before any file is touched.
    Arguments arguments = parseArguments(argc, argv, kinds);
    if (arguments.operands.size() < 2) usageError("convert needs an input and an output file", "");
    if (arguments.operands.size() > 2)
        usageError("convert takes one input and one output file, not: ", arguments.operands[2]);
    const char* in = arguments.operands[0];
    const char* out = arguments.operands[1];
    const OutputKind kind = outputKind(out);
    if (kind == OutputKind::OTHER) usageError("convert writes .obj, .glb or .gltf files, not: ", out);
    KelGLBOptions glb = {};
    int* const glbFlags[] = {&glb.metallicRoughness, &glb.unlit, &glb.noTextures};
    std::vector<Step> steps;
    bool chosen = false, optionalLibrary = false;
    unsigned mode = KEL_NONE;
    for (const GivenOption& option : arguments.options) {
        if (option.kind == &kinds[0]) {
            optionalLibrary = true;
        } else if (option.kind == &kinds[1]) {
            if (kind == OutputKind::GLTF) usageError("--write is for OBJ output; glTF takes everything", "");
            mode = writeFlags(option.values[0]);
            chosen = true;
        } else if (option.kind < &kinds[firstOperation]) {
            if (kind != OutputKind::GLTF) usageError("only for .glb and .gltf output: ", option.kind->name);
            *glbFlags[option.kind - &kinds[2]] = 1;
        } else {
            const Operation* op = &kOperations[option.kind - &kinds[firstOperation]];
            Step step = {op, {0, 0, 0}};
            for (int a = 0; a < op->arguments; a++) step.values[a] = number(option.values[a]);
            steps.push_back(step);
        }
    }
    if (kind == OutputKind::GLTF) return convertGLTF(in, out, steps, optionalLibrary, glb);

    bool bar = showsProgress(in);
    KelModel* model = load(in, bar, optionalLibrary);
    runSteps(model, steps);
    if (!chosen) {
        if (model->normals)
            mode |= KEL_SMOOTH;
        else if (model->facetnorms)
            mode |= KEL_FLAT;
        if (model->texcoords) mode |= KEL_TEXTURE;
        if (model->materials) mode |= KEL_MATERIAL;
    }
    Report report = {{"writing", out, -1}, out};
    KelSaveOptions options = {0, bar ? reportProgress : nullptr, &report, printWarning};
    KelError error;
    int status = kelSaveOBJWithOptions(model, out, mode, &options, &error);
    endBar(report.bar);
    kelDelete(model);
    if (status != KEL_OK) printError(stderr, error);
    return status == KEL_OK ? 0 : 1;
}

// The counts of the model's mesh made with everything the model has.
void showMesh(const KelModel* model) {
    unsigned mode = (model->normals ? KEL_SMOOTH : 0) | (model->texcoords ? KEL_TEXTURE : 0) |
                    (model->colors ? KEL_VERTEX_COLOR : 0);
    KelError error;
    KelMesh* mesh = kelMakeMesh(model, mode, &error);
    if (!mesh) {
        fprintf(stderr, "%s\n", error.message);
        exit(1);
    }
    printf("mesh:%s%s%s%s\n", mode ? "" : " positions only", (mode & KEL_SMOOTH) ? " normals" : "",
           (mode & KEL_TEXTURE) ? " texture-coords" : "", (mode & KEL_VERTEX_COLOR) ? " colors" : "");
    printf("  vertices          %u\n", mesh->numvertices);
    printf("  indices           %u (%u triangles)\n", mesh->numindices, mesh->numindices / 3);
    printf("  ranges            %u\n", mesh->numranges);
    if (mesh->numlineindices) printf("  line indices      %u\n", mesh->numlineindices);
    if (mesh->numpointindices) printf("  point indices     %u\n", mesh->numpointindices);
    kelDeleteMesh(mesh);
}

// A material's fields beyond its colours and shininess: only those that
// differ from their defaults, and the maps it names with their options.
void printMaterialExtras(const KelMaterial& m) {
    if (m.dissolve != 1) printf(", dissolve %g", m.dissolve);
    if (m.emission[0] || m.emission[1] || m.emission[2])
        printf(", emission %g %g %g", m.emission[0], m.emission[1], m.emission[2]);
    if (m.ior != 1) printf(", refraction index %g", m.ior);
    if (m.illum != -1) printf(", illumination model %d", m.illum);
    const struct {
        const char* name;
        float value;
    } scalars[] = {{"roughness", m.roughness},
                   {"metallic", m.metallic},
                   {"sheen", m.sheen},
                   {"clearcoat", m.clearcoat},
                   {"clearcoat roughness", m.clearcoatRoughness}};
    for (const auto& scalar : scalars)
        if (scalar.value != 0) printf(", %s %g", scalar.name, scalar.value);
    static const char* const kinds[KEL_MAP_KINDS] = {"ambient",   "diffuse",  "specular",     "shininess", "dissolve",
                                                     "bump",      "normal",   "displacement", "emission",  "reflection",
                                                     "roughness", "metallic", "sheen"};
    for (int kind = 0; kind < KEL_MAP_KINDS; kind++) {
        const KelMap& map = m.maps[kind];
        const char* name = kind == KEL_MAP_DIFFUSE && m.diffuseMap ? m.diffuseMap
                           : kind == KEL_MAP_BUMP && m.bumpMap     ? m.bumpMap
                                                                   : map.name;
        if (!name) continue;
        printf(", %s map \"%s\"", kinds[kind], name);
        std::string options;
        char number[160];
        if (map.offset[0] || map.offset[1] || map.offset[2])
            snprintf(number, sizeof number, " -o %g %g %g", map.offset[0], map.offset[1], map.offset[2]),
                options += number;
        if (map.scale[0] != 1 || map.scale[1] != 1 || map.scale[2] != 1)
            snprintf(number, sizeof number, " -s %g %g %g", map.scale[0], map.scale[1], map.scale[2]),
                options += number;
        if (map.bumpScale != 1) snprintf(number, sizeof number, " -bm %g", map.bumpScale), options += number;
        if (map.clamp) options += " -clamp on";
        if (map.options) options += std::string(" ") + map.options;
        if (!options.empty()) printf(" (%s)", options.c_str() + 1);
    }
}

int info(int argc, char** argv) {
    const std::vector<OptionKind> kinds = {{"--optional-library", 0}, {"--mesh", 0}};
    Arguments arguments = parseArguments(argc, argv, kinds);
    if (arguments.operands.empty()) usageError("info needs a file", "");
    if (arguments.operands.size() > 1)
        usageError("info takes one file, --optional-library and --mesh, not: ", arguments.operands[1]);
    const char* path = arguments.operands[0];
    bool optionalLibrary = false, mesh = false;
    for (const GivenOption& option : arguments.options) {
        optionalLibrary = optionalLibrary || option.kind == &kinds[0];
        mesh = mesh || option.kind == &kinds[1];
    }
    KelModel* model = load(path, showsProgress(path), optionalLibrary);
    printf("%s\n", path);
    printf("  vertices          %u\n", model->numvertices);
    printf("  normals           %u\n", model->numnormals);
    printf("  texture coords    %u\n", model->numtexcoords);
    printf("  vertex colors     %s\n", model->colors ? "yes" : "no");
    printf("  triangles         %u\n", model->numtriangles);
    // What only some files have is shown when they have it.
    if (model->numlines) printf("  line segments     %u\n", model->numlines);
    if (model->numpoints) printf("  points            %u\n", model->numpoints);
    if (model->smoothing) {
        std::vector<unsigned> groups(model->smoothing, model->smoothing + model->numtriangles);
        std::sort(groups.begin(), groups.end());
        groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
        size_t smooth = groups.size() - (groups[0] == 0);
        size_t flat = size_t(std::count(model->smoothing, model->smoothing + model->numtriangles, 0u));
        printf("  smoothing groups  %zu (%zu triangle%s in none)\n", smooth, flat, flat == 1 ? "" : "s");
    }
    printf("  material library  %s\n", model->mtllibname ? model->mtllibname : "(none)");

    // Groups in the order the file creates them (the list holds the newest first).
    std::vector<const KelGroup*> groups;
    for (const KelGroup* g = model->groups; g; g = g->next) groups.insert(groups.begin(), g);
    printf("groups: %u\n", model->numgroups);
    for (const KelGroup* g : groups) {
        printf("  \"%s\"  %u triangle%s", g->name, g->numtriangles, g->numtriangles == 1 ? "" : "s");
        if (model->materials) printf(", material \"%s\"", model->materials[g->material].name);
        printf("\n");
    }
    if (model->numobjects) printf("objects: %u\n", model->numobjects);
    for (unsigned i = 0; i < model->numobjects; i++) {
        const KelObject& o = model->objects[i];
        printf("  \"%s\"  %u triangle%s from %u\n", o.name, o.count, o.count == 1 ? "" : "s", o.first);
    }
    printf("materials: %u\n", model->nummaterials);
    for (unsigned i = 0; i < model->nummaterials; i++) {
        const KelMaterial& m = model->materials[i];
        printf("  \"%s\"  diffuse %g %g %g, ambient %g %g %g, specular %g %g %g, shininess %g", m.name, m.diffuse[0],
               m.diffuse[1], m.diffuse[2], m.ambient[0], m.ambient[1], m.ambient[2], m.specular[0], m.specular[1],
               m.specular[2], m.shininess);
        printMaterialExtras(m);
        printf("\n");
    }
    if (model->numvertices == 0) {
        printf("bounding box: none (no vertices)\n");
    } else {
        float lo[3], hi[3];
        for (int a = 0; a < 3; a++) lo[a] = hi[a] = model->vertices[3 + a];
        for (unsigned i = 1; i <= model->numvertices; i++)
            for (int a = 0; a < 3; a++) {
                float c = model->vertices[3 * size_t(i) + a];
                if (c < lo[a]) lo[a] = c;
                if (c > hi[a]) hi[a] = c;
            }
        printf("bounding box: %g %g %g to %g %g %g (size %g %g %g)\n", lo[0], lo[1], lo[2], hi[0], hi[1], hi[2],
               hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
    }
    if (mesh) showMesh(model);
    kelDelete(model);
    return 0;
}

// check: each file read strictly; status 1 when any fails.
int check(int argc, char** argv) {
    const std::vector<OptionKind> kinds = {{"--optional-library", 0}};
    Arguments arguments = parseArguments(argc, argv, kinds);
    if (arguments.operands.empty()) usageError("check needs a file", "");
    const bool optionalLibrary = !arguments.options.empty();
    int status = 0;
    for (const char* path : arguments.operands) {
        KelError error;
        KelModel* model = tryLoad(path, showsProgress(path), optionalLibrary, true, &error);
        if (!model) {
            if (error.line)
                printf("%s:%lu: ", path, error.line);
            else
                printf("%s: ", path);
            printError(stdout, error);
            status = 1;
            continue;
        }
        printf("%s: ok, %u vertices, %u normals, %u texture coordinates, %u triangles, %u groups, %u materials\n", path,
               model->numvertices, model->numnormals, model->numtexcoords, model->numtriangles, model->numgroups,
               model->nummaterials);
        kelDelete(model);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && !strcmp(argv[1], "--version")) {
        printf("kel %d.%d.%d\n", KEL_VERSION_MAJOR, KEL_VERSION_MINOR, KEL_VERSION_PATCH);
        return 0;
    }
    if (argc < 2) usageError("no command given", "");
    if (!strcmp(argv[1], "info")) return info(argc - 2, argv + 2);
    if (!strcmp(argv[1], "check")) return check(argc - 2, argv + 2);
    if (!strcmp(argv[1], "convert")) return convert(argc - 2, argv + 2);
    usageError("unknown command: ", argv[1]);
}
