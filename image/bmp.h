// Reader for uncompressed 8- and 24-bit Windows BMP images.
#ifndef ORVANDEL_IMAGE_BMP_H
#define ORVANDEL_IMAGE_BMP_H

#include <cstdint>

// An image as tightly packed R, G, B bytes, `height` rows of `width` pixels,
// the picture's bottom row first (the row order of an ordinary BMP file).
struct BmpImage {
    int32_t width;
    int32_t height;
    unsigned char* pixels;  // heap array owned by the caller of readBmpImage
};

// 1 on a big-endian host, 0 on a little-endian one; set by detectHostByteOrder.
extern int hostIsBigEndian;

void detectHostByteOrder();
void swapBytes32(uint32_t* value);
void swapBytes16(uint16_t* value);

// Reads `path` into `image`. Problems are printed to stdout as one line and
// the record is left as the message's case describes; nothing is returned.
// On success `pixels` is a new heap array of width * height * 3 bytes that
// the caller owns; the reader never frees an earlier array.
void readBmpImage(const char* path, BmpImage* image);

#endif  // ORVANDEL_IMAGE_BMP_H
