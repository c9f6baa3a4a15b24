// Saves a region of an X screen as an RGB PNG file.
// Usage: screenshot OUT.png [X Y WIDTH HEIGHT | WINDOW]
// Default: the whole screen. WINDOW (an id, as xdotool prints it): the part
// of the screen the window covers, cut from the screen so that whatever is
// drawn there is caught. The display is taken from $DISPLAY.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

// Writes width * height RGB pixels, top row first, to `path`. Returns false
// after a message on stderr when the file cannot be written.
static bool writePng(const char* path, const unsigned char* rgb, int width, int height) {
    FILE* f = fopen(path, "wb");
    if (!f) {
        fprintf(stderr, "screenshot: cannot write %s\n", path);
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info && !setjmp(png_jmpbuf(png));
    if (ok) {
        png_init_io(png, f);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y) png_write_row(png, const_cast<png_bytep>(rgb + size_t(y) * size_t(width) * 3));
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    if (fclose(f) != 0) ok = false;
    if (!ok) fprintf(stderr, "screenshot: failed writing %s\n", path);
    return ok;
}

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3 && argc != 6) {
        fprintf(stderr, "usage: screenshot OUT.png [X Y WIDTH HEIGHT | WINDOW]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        fprintf(stderr, "screenshot: cannot open the display\n");
        return 1;
    }
    // A bad window id makes a call fail instead of ending the program.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    int x = 0, y = 0, width = attributes.width, height = attributes.height;
    if (argc == 6) {
        x = atoi(argv[2]);
        y = atoi(argv[3]);
        width = atoi(argv[4]);
        height = atoi(argv[5]);
    } else if (argc == 3) {
        // The window's rectangle on the root, clipped to the screen.
        const Window window = Window(strtoul(argv[2], nullptr, 0));
        XWindowAttributes wa;
        Window child;
        if (!XGetWindowAttributes(display, window, &wa) ||
            !XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child)) {
            fprintf(stderr, "screenshot: no window %s\n", argv[2]);
            XCloseDisplay(display);
            return 1;
        }
        width = std::min(x + wa.width, attributes.width) - std::max(x, 0);
        height = std::min(y + wa.height, attributes.height) - std::max(y, 0);
        x = std::max(x, 0);
        y = std::max(y, 0);
    }
    if (x < 0 || y < 0 || width <= 0 || height <= 0 || x + width > attributes.width || y + height > attributes.height) {
        fprintf(stderr, "screenshot: region outside the %dx%d screen\n", attributes.width, attributes.height);
        XCloseDisplay(display);
        return 2;
    }
    XImage* image = XGetImage(display, root, x, y, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (!image) {
        fprintf(stderr, "screenshot: cannot read the screen\n");
        XCloseDisplay(display);
        return 1;
    }
    std::vector<unsigned char> rgb(size_t(width) * size_t(height) * 3);
    unsigned char* out = rgb.data();
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            const unsigned long p = XGetPixel(image, col, row);
            *out++ = (unsigned char)((p & image->red_mask) >> __builtin_ctzl(image->red_mask));
            *out++ = (unsigned char)((p & image->green_mask) >> __builtin_ctzl(image->green_mask));
            *out++ = (unsigned char)((p & image->blue_mask) >> __builtin_ctzl(image->blue_mask));
        }
    }
    XDestroyImage(image);
    XCloseDisplay(display);
    if (!writePng(argv[1], rgb.data(), width, height)) return 1;
    printf("%s\n", argv[1]);
    return 0;
}
