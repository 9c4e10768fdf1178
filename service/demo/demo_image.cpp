#include "demo_image.h"

#include <zlib.h>

#include <vector>

namespace corvane::demo {

namespace {

void putBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

// Length, type, data and the CRC-32 of type and data.
void putChunk(std::string& out, const char* type, const std::string& data) {
    putBigEndian(out, static_cast<uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    out += typed;
    putBigEndian(out, static_cast<uint32_t>(
                          crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

// A soft diagonal gradient with a lighter disc in the middle.
void pixel(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint8_t* rgb) {
    const int64_t dx = 2 * int64_t(x) - int64_t(width);
    const int64_t dy = 2 * int64_t(y) - int64_t(height);
    const int64_t radius = int64_t(height < width ? height : width) * 3 / 5;
    const bool inside = dx * dx + dy * dy < radius * radius;
    rgb[0] = static_cast<uint8_t>(40 + 120 * x / (width ? width : 1) + (inside ? 80 : 0));
    rgb[1] = static_cast<uint8_t>(70 + 100 * y / (height ? height : 1) + (inside ? 60 : 0));
    rgb[2] = static_cast<uint8_t>(inside ? 230 : 150);
}

}  // namespace

std::string makeDemoPng(uint32_t width, uint32_t height) {
    // Each row starts with its filter type, 0 (none).
    const size_t rowSize = 1 + size_t(width) * 3;
    std::vector<uint8_t> raw(rowSize * height);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = &raw[y * rowSize];
        row[0] = 0;
        for (uint32_t x = 0; x < width; ++x) {
            pixel(x, y, width, height, row + 1 + 3 * size_t(x));
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&packed[0]), &packedSize, raw.data(), static_cast<uLong>(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        return std::string();
    }
    packed.resize(packedSize);

    std::string header;
    putBigEndian(header, width);
    putBigEndian(header, height);
    header += std::string("\x08\x02\x00\x00\x00", 5);  // depth 8, RGB, deflate, adaptive filters, no interlace

    std::string png("\x89PNG\r\n\x1a\n", 8);
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", packed);
    putChunk(png, "IEND", std::string());
    return png;
}

}  // namespace corvane::demo
