// The picture-header probe: pixel size, bits per pixel and kind of a PNG, GIF, BMP or JPEG file,
// read from its first 65,535 bytes without decoding the picture.
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "message.h"
#include "misc.h"
#include "shared_files.h"

namespace {

constexpr std::size_t HEAD = 65535;       // bytes looked at
constexpr std::size_t JPEG_LIMIT = 65525;  // a JPEG walk that gets this far gives up

using Head = std::array<unsigned char, HEAD>;

struct Stats {
    std::int64_t height = 0, width = 0;
    std::int32_t bits = 0, kind = IMAGE_UNKNOWN;
};

unsigned big16(const Head &h, std::size_t high) { return (h[high] << 8) | h[high + 1]; }
unsigned little16(const Head &h, std::size_t low) { return h[low] | (h[low + 1] << 8); }

Stats png(const Head &h)
{
    const unsigned depth = h[24];
    unsigned bits;
    switch (h[25]) {  // colour type
    case 0: bits = depth; break;          // grey
    case 2: bits = 3 * depth; break;      // RGB
    case 3: bits = 8; break;              // palette
    case 4: bits = 2 * depth; break;      // grey and alpha
    case 6: bits = 4 * depth; break;      // RGB and alpha
    default: return {};
    }
    return {big16(h, 22), big16(h, 18), static_cast<std::int32_t>(bits), IMAGE_PNG};
}

Stats gif(const Head &h) { return {little16(h, 8), little16(h, 6), (h[10] & 7) + 1, IMAGE_GIF}; }

Stats bmp(const Head &h) { return {little16(h, 22), little16(h, 18), h[28], IMAGE_BMP}; }

bool start_of_frame(unsigned marker) { return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC; }

// Walks the markers after the start pattern up to the first start-of-frame; m is the position of
// its marker byte, from which the frame header's fields follow.
Stats jpeg(const Head &h)
{
    std::size_t p = 0;
    while (p < JPEG_LIMIT && !(h[p] == 0xFF && h[p + 1] == 0xD8 && h[p + 2] == 0xFF)) ++p;
    if (p >= JPEG_LIMIT) return {};
    for (p += 2; p < JPEG_LIMIT;) {
        if (h[p] != 0xFF || h[p + 1] == 0xFF) {
            ++p;
            continue;
        }
        const std::size_t m = p + 1;
        if (start_of_frame(h[m])) return {big16(h, m + 4), big16(h, m + 6), h[m + 8] * 8, IMAGE_JPEG};
        p = m + 1 + big16(h, m + 1);
    }
    return {};
}

} // namespace

void misc_get_image_stats(std::int64_t *height, std::int64_t *width, std::int32_t *bits_per_pixel,
                          std::int32_t *kind, const char *path)
{
    *height = *width = 0;
    *bits_per_pixel = *kind = 0;
    // Never waiting on a FIFO: its read then fails like any other. Below a shared directory only
    // a picture of our own (or root's), never one reached through a link.
    const int fd = open_to_read(path, O_NONBLOCK);
    if (fd < 0) Abort("Error %s when attempting to open %s for image stats", misc_get_error().c_str(), path);
    // A short file fills only the front; the rest stays zero, so every read below is defined.
    Head h{};
    std::size_t got = 0;
    while (got < HEAD) {
        const ssize_t n = read(fd, h.data() + got, HEAD - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            std::string error = misc_get_error();
            close(fd);
            Abort("Error %s when reading %s for image stats", error.c_str(), path);
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0) Abort("Error %s when closing %s for image stats", misc_get_error().c_str(), path);

    Stats s;
    if (h[0] == 0x89 && h[1] == 'P' && h[2] == 'N')
        s = png(h);
    else if (h[0] == 'G' && h[1] == 'I' && h[2] == 'F')
        s = gif(h);
    else if (h[0] == 'B' && h[1] == 'M')
        s = bmp(h);
    else
        s = jpeg(h);
    *height = s.height;
    *width = s.width;
    *bits_per_pixel = s.bits;
    *kind = s.kind;
}
