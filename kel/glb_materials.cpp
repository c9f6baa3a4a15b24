// MTL materials as glTF metallic-roughness materials. By default the
// Blinn-Phong fields are converted the way common OBJ converters do: the
// diffuse colour is the base colour, metallic is 0, and roughness falls as
// the exponent Ns (0 to 1000) rises, a dull specular colour (luminance
// below 0.1) keeping it high. Textures set their factors to 1.
#include <algorithm>

#include "kel/glb.h"

namespace {

float clamp01(float x) { return x > 0 ? (x < 1 ? x : 1) : 0; }  // NaN to 0

// The roughness of a Blinn-Phong material. kel keeps Ns on GL's 0..128
// scale; the conversion works on the file's 0..1000.
float blinnPhongRoughness(const KelMaterial& m) {
    float intensity = m.specular[0] * 0.2125f + m.specular[1] * 0.7154f + m.specular[2] * 0.0721f;
    float exponent = m.shininess / 128.0f * 1000.0f;
    float roughness = clamp01(1.0f - exponent / 1000.0f);
    if (intensity < 0.1f) roughness *= 1.0f - intensity;
    return clamp01(roughness);
}

void putColor(std::string& json, const float* c, int components) {
    json += '[';
    for (int i = 0; i < components; i++) {
        if (i) json += ',';
        kelJsonNumber(json, clamp01(c[i]));
    }
    json += ']';
}

// The material's map of `kind`: the diffuse and bump maps by their own
// fields when set (they name those maps on writing too).
const char* mapName(const KelMaterial& m, int kind) {
    if (kind == KEL_MAP_DIFFUSE && m.diffuseMap) return m.diffuseMap;
    if (kind == KEL_MAP_BUMP && m.bumpMap) return m.bumpMap;
    return m.maps[kind].name;
}

struct Textures {
    const KelGLBOptions& options;
    const KelWarnings* to;
    std::vector<KelGLBImage>& images;

    // The texture index of the image made by `read` under `key`, or -1.
    template <typename Read>
    long find(const std::string& key, Read read) {
        for (size_t i = 0; i < images.size(); i++)
            if (images[i].key == key) return long(i);
        KelGLBImage image;
        if (!read(&image)) return -1;
        image.key = key;
        images.push_back(std::move(image));
        return long(images.size() - 1);
    }
    long map(const KelMaterial& m, const char* name) {
        return find(name, [&](KelGLBImage* image) {
            return kelGLBReadImage(options.textureDir, name, m.name ? m.name : "", to, image);
        });
    }
    long metallicRoughness(const KelMaterial& m, const char* roughness, const char* metallic) {
        return find(std::string(roughness ? roughness : "") + '\n' + (metallic ? metallic : ""),
                    [&](KelGLBImage* image) {
                        return kelGLBPackMetallicRoughness(options.textureDir, roughness, metallic,
                                                           m.name ? m.name : "", to, image);
                    });
    }
};

void putTexture(std::string& json, const char* key, long index) {
    json += ",\"";
    json += key;
    json += "\":{\"index\":";
    kelJsonCount(json, uint64_t(index));
    json += '}';
}

}  // namespace

void kelGLBMaterials(const KelMesh* mesh, const KelGLBOptions& options, const KelWarnings* to,
                     KelGLBMaterials* materials) {
    materials->unlit = options.unlit && mesh->nummaterials;
    materials->normalMapped.assign(mesh->nummaterials, false);
    if (!mesh->nummaterials) return;
    Textures textures{options, to, materials->images};
    std::string& json = materials->json;
    json = "[";
    for (unsigned i = 0; i < mesh->nummaterials; i++) {
        const KelMaterial& m = mesh->materials[i];
        const char* name = m.name ? m.name : "";
        // Textures need texture coordinates; a normal texture needs normals
        // too (its tangents are made from both).
        long base = -1, emissive = -1, normal = -1, metallicRoughness = -1;
        float bumpScale = 1;
        if (!options.noTextures) {
            const char* named[4] = {mapName(m, KEL_MAP_DIFFUSE), mapName(m, KEL_MAP_EMISSION),
                                    mapName(m, KEL_MAP_NORMAL), nullptr};
            int normalKind = named[2] ? KEL_MAP_NORMAL : KEL_MAP_BUMP;
            named[2] = mapName(m, normalKind);
            bumpScale = m.maps[normalKind].bumpScale;
            const char* roughness = options.metallicRoughness ? mapName(m, KEL_MAP_ROUGHNESS) : nullptr;
            const char* metallic = options.metallicRoughness ? mapName(m, KEL_MAP_METALLIC) : nullptr;
            named[3] = roughness ? roughness : metallic;
            for (int k = 0; k < 4; k++) {
                if (!named[k]) continue;
                const char* missing = !mesh->texcoords           ? "texture coordinates"
                                      : k == 2 && !mesh->normals ? "normals"
                                                                 : nullptr;
                if (missing) {
                    kelWarn(to, 0,
                            "kelSaveGLB() warning: material \"%s\": texture \"%s\" is left out: the mesh has no %s.",
                            name, named[k], missing);
                    continue;
                }
                long& index = k == 0 ? base : k == 1 ? emissive : k == 2 ? normal : metallicRoughness;
                index = k == 3 ? textures.metallicRoughness(m, roughness, metallic) : textures.map(m, named[k]);
            }
        }
        materials->normalMapped[i] = normal >= 0;

        float color[4] = {m.diffuse[0], m.diffuse[1], m.diffuse[2], clamp01(m.dissolve)};
        if (base >= 0) color[0] = color[1] = color[2] = 1;
        float metallicFactor = 0, roughnessFactor = blinnPhongRoughness(m);
        if (options.metallicRoughness) {
            metallicFactor = m.maps[KEL_MAP_METALLIC].name && metallicRoughness >= 0 ? 1 : m.metallic;
            roughnessFactor = m.maps[KEL_MAP_ROUGHNESS].name && metallicRoughness >= 0 ? 1 : m.roughness;
        }
        const float white[3] = {1, 1, 1};
        const bool blend = color[3] < 1;

        if (i) json += ',';
        json += "{\"name\":";
        kelJsonString(json, name);
        json += ",\"pbrMetallicRoughness\":{\"baseColorFactor\":";
        putColor(json, color, 4);
        json += ",\"metallicFactor\":";
        kelJsonNumber(json, clamp01(metallicFactor));
        json += ",\"roughnessFactor\":";
        kelJsonNumber(json, clamp01(roughnessFactor));
        if (base >= 0) putTexture(json, "baseColorTexture", base);
        if (metallicRoughness >= 0) putTexture(json, "metallicRoughnessTexture", metallicRoughness);
        json += "},\"emissiveFactor\":";
        putColor(json, emissive >= 0 ? white : m.emission, 3);
        if (emissive >= 0) putTexture(json, "emissiveTexture", emissive);
        if (normal >= 0) {
            putTexture(json, "normalTexture", normal);
            json.pop_back();
            json += ",\"scale\":";
            kelJsonNumber(json, bumpScale);
            json += '}';
        }
        if (blend) json += ",\"alphaMode\":\"BLEND\",\"doubleSided\":true";
        if (options.unlit) json += ",\"extensions\":{\"KHR_materials_unlit\":{}}";
        json += '}';
    }
    json += ']';
}
