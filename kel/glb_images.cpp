// The images the glTF writer embeds. PNG and JPEG files go in as they are;
// BMP and PPM files are decoded and encoded as PNG with Debian's stb
// headers (libstb-dev), compiled into this file alone, so the library links
// nothing new. The app's BMP reader (image/) is not used: it prints its
// problems on stdout, and kel, an installed library, cannot link that
// uninstalled one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "kel/glb.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_PNM
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

namespace {

enum class Kind { PNG, JPEG, BMP, PPM, OTHER };

Kind kindOf(const std::vector<unsigned char>& b) {
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (b.size() >= 8 && memcmp(b.data(), png, 8) == 0) return Kind::PNG;
    if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return Kind::JPEG;
    if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') return Kind::BMP;
    if (b.size() >= 2 && b[0] == 'P' && b[1] == '6') return Kind::PPM;
    return Kind::OTHER;
}

// The whole file; false with errno set when it cannot be read.
bool readWhole(const std::string& path, std::vector<unsigned char>& bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    bool ok = fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) ok = false, errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    if (ok) bytes.resize(size_t(info.st_size));
    for (size_t done = 0; ok && done < bytes.size();) {
        ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            if (n == 0) errno = EIO;  // cut short meanwhile
        } else {
            done += size_t(n);
        }
    }
    int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

// The file a map names: beside `dir` unless absolute; a name written with
// backslashes (as programs on Windows write them) is tried with slashes too.
bool readMap(const char* dir, const char* name, std::vector<unsigned char>& bytes) {
    std::string base = name[0] == '/' || !dir ? "" : dir;
    if (!base.empty() && base.back() != '/') base += '/';
    if (readWhole(base + name, bytes)) return true;
    if (!strchr(name, '\\')) return false;
    int saved = errno;
    std::string slashed = name;
    for (char& c : slashed)
        if (c == '\\') c = '/';
    if (readWhole(base + slashed, bytes)) return true;
    errno = saved;
    return false;
}

void appendBytes(void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<unsigned char>*>(context);
    bytes->insert(bytes->end(), static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
}

struct FreePixels {
    void operator()(unsigned char* pixels) const { stbi_image_free(pixels); }
};
using Pixels = std::unique_ptr<unsigned char, FreePixels>;

// Decodes an image of any kind read here into `channels` per pixel.
Pixels decode(const std::vector<unsigned char>& bytes, int channels, int* width, int* height) {
    int given;
    if (bytes.size() > size_t(INT32_MAX)) return nullptr;
    return Pixels(stbi_load_from_memory(bytes.data(), int(bytes.size()), width, height, &given, channels));
}

bool encodePNG(const unsigned char* pixels, int width, int height, int channels, std::vector<unsigned char>& png) {
    png.clear();
    return stbi_write_png_to_func(appendBytes, &png, width, height, channels, pixels, width * channels) != 0;
}

// The map's bytes, or a warning and false.
bool readOrWarn(const char* dir, const char* name, const char* material, const KelWarnings* to,
                std::vector<unsigned char>& bytes) {
    if (readMap(dir, name, bytes)) return true;
    kelWarn(to, 0, "kelSaveGLB() warning: material \"%s\": cannot read texture \"%s\" (%s); it is left out.", material,
            name, strerror(errno));
    return false;
}

}  // namespace

bool kelGLBReadImage(const char* dir, const char* name, const char* material, const KelWarnings* to,
                     KelGLBImage* image) {
    std::vector<unsigned char> bytes;
    if (!readOrWarn(dir, name, material, to, bytes)) return false;
    image->key = name;
    image->name = name;
    switch (kindOf(bytes)) {
    case Kind::PNG: image->mimeType = "image/png", image->bytes.swap(bytes); return true;
    case Kind::JPEG: image->mimeType = "image/jpeg", image->bytes.swap(bytes); return true;
    case Kind::OTHER:
        kelWarn(to, 0,
                "kelSaveGLB() warning: material \"%s\": texture \"%s\" is no PNG, JPEG, BMP or PPM image; it is "
                "left out.",
                material, name);
        return false;
    default: break;
    }
    int width, height;
    Pixels pixels = decode(bytes, 3, &width, &height);
    if (!pixels || !encodePNG(pixels.get(), width, height, 3, image->bytes)) {
        kelWarn(to, 0, "kelSaveGLB() warning: material \"%s\": texture \"%s\" cannot be decoded (%s); it is left out.",
                material, name, pixels ? "too large" : stbi_failure_reason());
        return false;
    }
    image->mimeType = "image/png";
    return true;
}

bool kelGLBPackMetallicRoughness(const char* dir, const char* roughness, const char* metallic, const char* material,
                                 const KelWarnings* to, KelGLBImage* image) {
    const char* names[2] = {roughness, metallic};  // green, blue
    Pixels pixels[2];
    int width[2] = {0, 0}, height[2] = {0, 0};
    for (int i = 0; i < 2; i++) {
        if (!names[i]) continue;
        std::vector<unsigned char> bytes;
        if (!readOrWarn(dir, names[i], material, to, bytes)) return false;
        pixels[i] = decode(bytes, 3, &width[i], &height[i]);
        if (!pixels[i]) {
            kelWarn(to, 0,
                    "kelSaveGLB() warning: material \"%s\": texture \"%s\" cannot be decoded (%s); its "
                    "metallic-roughness texture is left out.",
                    material, names[i], stbi_failure_reason());
            return false;
        }
    }
    // Maps of different sizes are packed at the smaller, each sampled at
    // its nearest pixel.
    int w = 0, h = 0;
    for (int i = 0; i < 2; i++)
        if (pixels[i]) w = w && w < width[i] ? w : width[i], h = h && h < height[i] ? h : height[i];
    std::vector<unsigned char> packed(size_t(w) * size_t(h) * 3, 255);
    for (int i = 0; i < 2; i++) {
        if (!pixels[i]) continue;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                size_t sx = size_t(x) * size_t(width[i]) / size_t(w), sy = size_t(y) * size_t(height[i]) / size_t(h);
                packed[3 * (size_t(y) * size_t(w) + size_t(x)) + 1 + size_t(i)] =
                    pixels[i].get()[3 * (sy * size_t(width[i]) + sx)];
            }
    }
    if (!encodePNG(packed.data(), w, h, 3, image->bytes)) {
        kelWarn(to, 0, "kelSaveGLB() warning: material \"%s\": the metallic-roughness texture is left out.", material);
        return false;
    }
    image->key = std::string(roughness ? roughness : "") + '\n' + (metallic ? metallic : "");
    image->name = image->key;
    for (char& c : image->name)
        if (c == '\n') c = '+';
    image->mimeType = "image/png";
    return true;
}
