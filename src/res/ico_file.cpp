#include "res/ico_file.h"

#include <algorithm>
#include <cstddef>

namespace res {
namespace {

constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kBitmapHeaderSize = 40;
constexpr std::size_t kPaletteSize = 16 * 4;

void put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// Bytes in one row of a bitmap of that many bits a pixel: rows end on a four-byte boundary.
std::size_t rowBytes(int size, int bitsPerPixel) {
    return static_cast<std::size_t>((size * bitsPerPixel + 31) / 32 * 4);
}

std::size_t imageBytes(int size) {
    return kBitmapHeaderSize + kPaletteSize +
           (rowBytes(size, 4) + rowBytes(size, 1)) * static_cast<std::size_t>(size);
}

void putImage(std::vector<std::uint8_t>& out, const Icon& icon, const IconImage& image) {
    const auto size = static_cast<std::uint32_t>(image.size);
    const std::size_t colourRow = rowBytes(image.size, 4);
    const std::size_t maskRow = rowBytes(image.size, 1);
    put32(out, kBitmapHeaderSize);
    put32(out, size);
    put32(out, size * 2);  // the colour rows and the mask's, one above the other
    put16(out, 1);         // planes
    put16(out, 4);         // bits a pixel
    put32(out, 0);         // not compressed
    put32(out, static_cast<std::uint32_t>((colourRow + maskRow) * size));
    put32(out, 0);  // pixels a metre, across and down
    put32(out, 0);
    put32(out, 16);  // colours used
    put32(out, 0);   // colours that matter: all
    for (const std::uint32_t rgb : icon.palette) {
        out.push_back(static_cast<std::uint8_t>(rgb));        // blue
        out.push_back(static_cast<std::uint8_t>(rgb >> 8));   // green
        out.push_back(static_cast<std::uint8_t>(rgb >> 16));  // red
        out.push_back(0);
    }
    // Where the mask lets the screen through, the colour is black, which leaves it as it is.
    const auto* black = std::find(std::begin(icon.palette), std::end(icon.palette), 0u);
    const auto clear = static_cast<std::uint8_t>(
        black == std::end(icon.palette) ? 0 : black - std::begin(icon.palette));
    const auto pixel = [&](int x, int y) {
        const auto i = static_cast<std::size_t>(y * image.size + x);
        return image.mask[i] ? clear : static_cast<std::uint8_t>(image.pixels[i] & 0x0F);
    };
    for (int y = image.size - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(colourRow, 0);
        for (int x = 0; x < image.size; ++x)
            row[static_cast<std::size_t>(x / 2)] |=
                static_cast<std::uint8_t>(pixel(x, y) << (x % 2 == 0 ? 4 : 0));
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = image.size - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(maskRow, 0);
        for (int x = 0; x < image.size; ++x)
            if (image.mask[static_cast<std::size_t>(y * image.size + x)])
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
}

}  // namespace

std::vector<std::uint8_t> icoFile(const Icon& icon) {
    std::vector<std::uint8_t> out;
    put16(out, 0);  // reserved
    put16(out, 1);  // an icon, not a cursor
    put16(out, static_cast<std::uint32_t>(icon.images.size()));
    auto offset = static_cast<std::uint32_t>(kDirectorySize + kEntrySize * icon.images.size());
    for (const IconImage& image : icon.images) {
        // A side of 256 is written as 0.
        out.push_back(static_cast<std::uint8_t>(image.size));
        out.push_back(static_cast<std::uint8_t>(image.size));
        out.push_back(16);  // colours
        out.push_back(0);   // reserved
        put16(out, 1);      // planes
        put16(out, 4);      // bits a pixel
        const auto bytes = static_cast<std::uint32_t>(imageBytes(image.size));
        put32(out, bytes);
        put32(out, offset);
        offset += bytes;
    }
    for (const IconImage& image : icon.images) putImage(out, icon, image);
    return out;
}

}  // namespace res
