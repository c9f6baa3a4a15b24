// kelSaveGLB: a mesh as glTF 2.0. The JSON document is made first, with the
// layout of the one buffer: the vertex arrays (shared by every primitive),
// each primitive's indices, then the embedded images, each part starting at
// a multiple of 4 bytes. The buffer is then written part by part straight
// from the mesh's arrays, into one .glb file or a .bin beside the .gltf.
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>

#include "kel/glb.h"

namespace {

enum class PartKind { POSITIONS, NORMALS, TEXCOORDS, COLORS, TANGENTS, INDICES, IMAGE };

// A part of the buffer: a buffer view and what fills it.
struct Part {
    PartKind kind;
    uint64_t length;           // bytes, padding not included
    const unsigned* indices;   // INDICES: the first of them
    unsigned count;            // INDICES: how many; vertex streams: vertices
    bool shortIndices;         // INDICES: written as 16 bits
    const KelGLBImage* image;  // IMAGE
};

struct Document {
    std::string accessors, views, meshes, nodes;
    unsigned numAccessors = 0, numViews = 0, numNodes = 0;
    std::vector<Part> parts;
    uint64_t binLength = 0;
    std::vector<float> tangents;

    // A buffer view for `part`; vertex attributes (`stride` nonzero) give
    // their stride, as the positions and colours serve two accessors.
    unsigned view(const Part& part, int target, unsigned stride = 0) {
        views += numViews ? ",{" : "{";
        views += "\"buffer\":0,\"byteOffset\":";
        kelJsonCount(views, binLength);
        views += ",\"byteLength\":";
        kelJsonCount(views, part.length);
        if (stride) views += ",\"byteStride\":", kelJsonCount(views, stride);
        if (target) views += ",\"target\":", kelJsonCount(views, uint64_t(target));
        views += '}';
        parts.push_back(part);
        binLength += (part.length + 3) / 4 * 4;
        return numViews++;
    }
    unsigned accessor(unsigned view, unsigned count, int componentType, const char* type, const float* low = nullptr,
                      const float* high = nullptr) {
        accessors += numAccessors ? ",{" : "{";
        accessors += "\"bufferView\":";
        kelJsonCount(accessors, view);
        accessors += ",\"componentType\":";
        kelJsonCount(accessors, uint64_t(componentType));
        accessors += ",\"count\":";
        kelJsonCount(accessors, count);
        accessors += ",\"type\":\"";
        accessors += type;
        accessors += '"';
        for (const float* bound : {low, high}) {
            if (!bound) continue;
            accessors += bound == low ? ",\"min\":[" : ",\"max\":[";
            for (int c = 0; c < 3; c++) {
                if (c) accessors += ',';
                kelJsonNumber(accessors, bound[c]);
            }
            accessors += ']';
        }
        accessors += '}';
        return numAccessors++;
    }
};

constexpr int kFloat = 5126, kUnsignedShort = 5123, kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;

void attribute(std::string& attributes, const char* name, unsigned accessor) {
    attributes += attributes.empty() ? "\"" : ",\"";
    attributes += name;
    attributes += "\":";
    kelJsonCount(attributes, accessor);
}

// One primitive: its attributes, an index accessor of its own, its
// material (-1: none) and mode.
void primitive(Document& doc, std::string& primitives, const std::string& attributes, const unsigned* indices,
               unsigned count, unsigned high, long material, int mode) {
    // 65535 stays free: it would restart the primitive in some APIs.
    const bool shortIndices = high < 65535;
    const unsigned view = doc.view(
        Part{PartKind::INDICES, uint64_t(count) * (shortIndices ? 2 : 4), indices, count, shortIndices, nullptr},
        kElementArrayBuffer);
    const unsigned accessor = doc.accessor(view, count, shortIndices ? kUnsignedShort : kUnsignedInt, "SCALAR");
    primitives += primitives.empty() ? "{\"attributes\":{" : ",{\"attributes\":{";
    primitives += attributes;
    primitives += "},\"indices\":";
    kelJsonCount(primitives, accessor);
    if (material >= 0) primitives += ",\"material\":", kelJsonCount(primitives, uint64_t(material));
    if (mode != 4) primitives += ",\"mode\":", kelJsonCount(primitives, uint64_t(mode));
    primitives += '}';
}

// A node with a mesh of its own, both named `name`.
void meshNode(Document& doc, const char* name, const std::string& primitives) {
    std::string quoted;
    kelJsonString(quoted, name);
    doc.meshes += doc.numNodes ? ",{\"name\":" : "{\"name\":";
    doc.meshes += quoted + ",\"primitives\":[" + primitives + "]}";
    doc.nodes += doc.numNodes ? ",{\"name\":" : "{\"name\":";
    doc.nodes += quoted + ",\"mesh\":";
    kelJsonCount(doc.nodes, doc.numNodes++);
    doc.nodes += '}';
}

// The whole JSON document; `binName` the buffer's URI for a .gltf, null
// for a .glb.
std::string makeDocument(const KelMesh* mesh, const KelGLBScan& scan, const KelGLBMaterials& materials,
                         const std::string* binName, Document& doc) {
    const unsigned all = mesh->numvertices, tri = scan.triangleVertices;
    const uint64_t vertexBytes = uint64_t(all) * 12;
    std::string triangleAttributes, otherAttributes;
    bool tangents = false;
    for (unsigned r = 0; r < mesh->numranges; r++)
        if (mesh->nummaterials && mesh->ranges[r].material < mesh->nummaterials &&
            materials.normalMapped[mesh->ranges[r].material])
            tangents = true;
    if (all) {
        unsigned positions =
            doc.view(Part{PartKind::POSITIONS, vertexBytes, nullptr, all, false, nullptr}, kArrayBuffer, 12);
        unsigned colors =
            mesh->colors ? doc.view(Part{PartKind::COLORS, vertexBytes, nullptr, all, false, nullptr}, kArrayBuffer, 12)
                         : 0;
        if (tri) {
            attribute(triangleAttributes, "POSITION",
                      doc.accessor(positions, tri, kFloat, "VEC3", scan.low, scan.high));
            if (mesh->normals) {
                unsigned view = doc.view(Part{PartKind::NORMALS, uint64_t(tri) * 12, nullptr, tri, false, nullptr},
                                         kArrayBuffer, 12);
                attribute(triangleAttributes, "NORMAL", doc.accessor(view, tri, kFloat, "VEC3"));
            }
            if (mesh->texcoords) {
                unsigned view = doc.view(Part{PartKind::TEXCOORDS, uint64_t(tri) * 8, nullptr, tri, false, nullptr},
                                         kArrayBuffer, 8);
                attribute(triangleAttributes, "TEXCOORD_0", doc.accessor(view, tri, kFloat, "VEC2"));
            }
            if (mesh->colors) attribute(triangleAttributes, "COLOR_0", doc.accessor(colors, tri, kFloat, "VEC3"));
            if (tangents) {
                unsigned view = doc.view(Part{PartKind::TANGENTS, uint64_t(tri) * 16, nullptr, tri, false, nullptr},
                                         kArrayBuffer, 16);
                attribute(triangleAttributes, "TANGENT", doc.accessor(view, tri, kFloat, "VEC4"));
            }
        }
        // Lines and points take positions and colours only, over every
        // vertex (theirs come after the triangles').
        if (mesh->numlineindices || mesh->numpointindices) {
            attribute(otherAttributes, "POSITION",
                      doc.accessor(positions, all, kFloat, "VEC3", scan.allLow, scan.allHigh));
            if (mesh->colors) attribute(otherAttributes, "COLOR_0", doc.accessor(colors, all, kFloat, "VEC3"));
        }
    }
    // A node and a mesh for each run of ranges of one group.
    for (unsigned r = 0; r < mesh->numranges;) {
        const char* group = mesh->ranges[r].group ? mesh->ranges[r].group : "";
        std::string primitives;
        for (; r < mesh->numranges && !strcmp(mesh->ranges[r].group ? mesh->ranges[r].group : "", group); r++) {
            const KelMeshRange& range = mesh->ranges[r];
            if (!range.count) continue;
            long material = range.material < mesh->nummaterials ? long(range.material) : -1;
            primitive(doc, primitives, triangleAttributes, &mesh->indices[range.first], range.count, scan.rangeMax[r],
                      material, 4);
        }
        if (!primitives.empty()) meshNode(doc, group, primitives);
    }
    const struct {
        const char* name;
        const unsigned* indices;
        unsigned count;
        int mode;
    } others[2] = {{"lines", mesh->lineindices, mesh->numlineindices, 1},
                   {"points", mesh->pointindices, mesh->numpointindices, 0}};
    for (int k = 0; k < 2; k++) {
        if (!others[k].count) continue;
        std::string primitives;
        primitive(doc, primitives, otherAttributes, others[k].indices, others[k].count,
                  scan.rangeMax[mesh->numranges + unsigned(k)], -1, others[k].mode);
        meshNode(doc, others[k].name, primitives);
    }
    std::string images, textures;
    for (size_t i = 0; i < materials.images.size(); i++) {
        const KelGLBImage& image = materials.images[i];
        unsigned view = doc.view(Part{PartKind::IMAGE, image.bytes.size(), nullptr, 0, false, &image}, 0);
        images += i ? ",{\"name\":" : "{\"name\":";
        kelJsonString(images, image.name.c_str());
        images += ",\"mimeType\":\"";
        images += image.mimeType;
        images += "\",\"bufferView\":";
        kelJsonCount(images, view);
        images += '}';
        textures += i ? ",{\"source\":" : "{\"source\":";
        kelJsonCount(textures, i);
        textures += '}';
    }

    std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"kel\"}";
    if (materials.unlit) json += ",\"extensionsUsed\":[\"KHR_materials_unlit\"]";
    json += ",\"scene\":0,\"scenes\":[{";
    if (doc.numNodes) {
        json += "\"nodes\":[";
        for (unsigned n = 0; n < doc.numNodes; n++) {
            if (n) json += ',';
            kelJsonCount(json, n);
        }
        json += ']';
    }
    json += "}]";
    if (doc.numNodes) json += ",\"nodes\":[" + doc.nodes + "],\"meshes\":[" + doc.meshes + "]";
    if (!materials.json.empty()) json += ",\"materials\":" + materials.json;
    if (!images.empty()) json += ",\"textures\":[" + textures + "],\"images\":[" + images + "]";
    if (doc.numAccessors) json += ",\"accessors\":[" + doc.accessors + "]";
    if (doc.binLength) {
        json += ",\"bufferViews\":[" + doc.views + "],\"buffers\":[{";
        if (binName) {
            json += "\"uri\":\"" + *binName + "\",";
        }
        json += "\"byteLength\":";
        kelJsonCount(json, doc.binLength);
        json += "}]";
    }
    json += '}';
    return json;
}

void putBuffer(KelOut* out, const KelMesh* mesh, const KelGLBScan& scan, const Document& doc) {
    for (const Part& part : doc.parts) {
        switch (part.kind) {
        case PartKind::POSITIONS:
            if (scan.finitePositions)
                kelGLBPutBytes(out, mesh->positions, part.length);
            else
                kelGLBPutFinite(out, mesh->positions, part.length / sizeof(float));
            break;
        case PartKind::COLORS:
            if (scan.finiteColors)
                kelGLBPutBytes(out, mesh->colors, part.length);
            else
                kelGLBPutFinite(out, mesh->colors, part.length / sizeof(float));
            break;
        case PartKind::NORMALS: kelGLBPutNormals(out, mesh, scan); break;
        case PartKind::TEXCOORDS: kelGLBPutTexcoords(out, mesh, part.count); break;
        case PartKind::TANGENTS: kelGLBPutBytes(out, doc.tangents.data(), part.length); break;
        case PartKind::INDICES: kelGLBPutIndices(out, part.indices, part.count, part.shortIndices); break;
        case PartKind::IMAGE: kelGLBPutBytes(out, part.image->bytes.data(), part.length); break;
        }
        kelGLBPad(out, part.length);
    }
}

void putWord(KelOut* out, uint32_t word) {
    char bytes[4];
    memcpy(bytes, &word, 4);
    kelPut(out, bytes, 4);
    out->progress->done += 4;
}

bool endsWith(const char* path, const char* suffix) {
    size_t n = strlen(path), m = strlen(suffix);
    return n >= m && strcasecmp(path + n - m, suffix) == 0;
}

// A file name as a URI relative to the document: every byte but the
// unreserved ones percent-encoded.
std::string uriOf(const std::string& name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri;
    for (unsigned char c : name) {
        if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            uri += char(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

// Whether every range lies inside the indices and every index names a
// vertex, as in a mesh kel made; a mesh built otherwise may not.
bool checkMesh(const KelMesh* mesh, const KelGLBScan* scan, KelError* error) {
    for (unsigned r = 0; !scan && r < mesh->numranges; r++)
        if (uint64_t(mesh->ranges[r].first) + mesh->ranges[r].count > mesh->numindices) {
            kelSetError(error, KEL_ERROR_INDEX, 0, "kelSaveGLB(): range %u runs past the mesh's %u indices.", r,
                        mesh->numindices);
            return false;
        }
    for (unsigned r = 0; scan && r < mesh->numranges + 2; r++) {
        const unsigned count = r < mesh->numranges    ? mesh->ranges[r].count
                               : r == mesh->numranges ? mesh->numlineindices
                                                      : mesh->numpointindices;
        if (count && scan->rangeMax[r] >= mesh->numvertices) {
            kelSetError(error, KEL_ERROR_INDEX, 0, "kelSaveGLB(): index %u names no vertex of the mesh's %u.",
                        scan->rangeMax[r], mesh->numvertices);
            return false;
        }
    }
    return true;
}

int save(const KelMesh* mesh, const char* path, const KelGLBOptions& options, KelError* error) {
    const KelWarnings to = {options.warning, options.user};
    KelGLBScan scan;
    if (!checkMesh(mesh, nullptr, error)) return KEL_ERROR_INDEX;
    kelGLBScanMesh(mesh, &scan);
    if (!checkMesh(mesh, &scan, error)) return KEL_ERROR_INDEX;
    KelGLBMaterials materials;
    kelGLBMaterials(mesh, options, &to, &materials);
    Document doc;
    const bool text = endsWith(path, ".gltf");
    std::string binPath, binName;
    if (text) {
        binPath = std::string(path, strlen(path) - 5) + ".bin";
        const char* slash = strrchr(binPath.c_str(), '/');
        binName = uriOf(slash ? slash + 1 : binPath.c_str());
    }
    std::string json = makeDocument(mesh, scan, materials, text ? &binName : nullptr, doc);
    for (const Part& part : doc.parts)
        if (part.kind == PartKind::TANGENTS) doc.tangents = kelGLBTangents(mesh, scan);
    while (!text && json.size() % 4) json += ' ';
    const uint64_t total =
        text ? json.size() + doc.binLength : 12 + 8 + json.size() + (doc.binLength ? 8 + doc.binLength : 0);
    if (!text && total > UINT32_MAX) {
        kelSetError(error, KEL_ERROR_LIMIT, 0,
                    "kelSaveGLB(): \"%s\" would take %llu bytes, past the 4 GiB of a GLB file.", path,
                    (unsigned long long)total);
        return KEL_ERROR_LIMIT;
    }

    static const KelSaveMessages cannot = {"kelSaveGLB() failed: can't open file \"%s\" to write.",
                                           "kelSaveGLB() failed: can't write file \"%s\"."};
    KelSaveProgress progress = {options.progress, options.user, 0, total, false};
    KelOut bin, out;
    const char* failed = path;
    KelOut* failedOut = &out;
    int status = KEL_OK;
    if (text && doc.binLength) {
        failed = binPath.c_str(), failedOut = &bin;
        if ((status = kelOpenOut(&bin, binPath.c_str(), &progress, false)) == KEL_OK) {
            putBuffer(&bin, mesh, scan, doc);
            if (!kelCompleteOut(&bin)) status = KEL_ERROR_IO;
        }
    }
    if (status == KEL_OK) {
        failed = path, failedOut = &out;
        if ((status = kelOpenOut(&out, path, &progress, false)) != KEL_OK) {
            if (text && doc.binLength) kelAbandonOut(&bin);
        }
    }
    if (status == KEL_OK) {
        if (!text) {
            putWord(&out, 0x46546C67);  // "glTF"
            putWord(&out, 2);
            putWord(&out, uint32_t(total));
            putWord(&out, uint32_t(json.size()));
            putWord(&out, 0x4E4F534A);  // "JSON"
        }
        kelPut(&out, json.data(), json.size());
        progress.done += json.size();
        if (!text && doc.binLength) {
            putWord(&out, uint32_t(doc.binLength));
            putWord(&out, 0x004E4942);  // "BIN\0"
            putBuffer(&out, mesh, scan, doc);
        }
        if (!kelCompleteOut(&out)) {
            status = KEL_ERROR_IO;
            if (text && doc.binLength) kelAbandonOut(&bin);
        } else {
            status = kelPlaceOuts(text && doc.binLength ? &bin : nullptr, &out);
        }
    }
    if (status == KEL_OK) return KEL_OK;
    if (progress.cancelled) {
        kelSetError(error, KEL_ERROR_CANCELLED, 0, "kelSaveGLB() cancelled writing \"%s\".", path);
        return KEL_ERROR_CANCELLED;
    }
    return kelSaveFailure(error, status, &progress, cannot, failed, failedOut->systemError);
}

}  // namespace

int kelSaveGLB(const KelMesh* mesh, const char* path, const KelGLBOptions* options, KelError* error) {
    assert(mesh && path);
    KelError local;
    if (!error) error = &local;
    *error = {};
    const KelGLBOptions none = {};
    try {
        return save(mesh, path, options ? *options : none, error);
    } catch (const std::bad_alloc&) {
        kelSetError(error, KEL_ERROR_MEMORY, 0, "kelSaveGLB(): out of memory writing \"%s\".", path);
        return KEL_ERROR_MEMORY;
    }
}
