#include "res/ico_file.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

std::uint32_t little(const std::vector<std::uint8_t>& bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes.at(at + static_cast<std::size_t>(i));
    return value;
}

// The file read back as a reader of the format reads it: each directory entry's bitmap has the
// icon's palette, and its colour and mask rows, from the bottom up, give the image's palette
// indices and transparency; where it is transparent the colour is black.
TEST(IcoFile, ReadsBackAsTheApplicationIcon) {
    const res::Icon& icon = res::applicationIcon();
    const std::vector<std::uint8_t> ico = res::icoFile(icon);
    EXPECT_EQ(little(ico, 0, 4), 0x00010000u);  // reserved, then 1: an icon
    ASSERT_EQ(little(ico, 4, 2), icon.images.size());
    std::size_t end = 6 + 16 * icon.images.size();
    for (std::size_t n = 0; n < icon.images.size(); ++n) {
        const res::IconImage& image = icon.images[n];
        const auto size = static_cast<std::size_t>(image.size);
        SCOPED_TRACE(size);
        const std::size_t entry = 6 + 16 * n;
        EXPECT_EQ(little(ico, entry, 3), size | size << 8 | 16 << 16);  // sides, colours
        EXPECT_EQ(little(ico, entry + 4, 4), 1u | 4u << 16);            // planes, bits a pixel
        const std::size_t at = little(ico, entry + 12, 4);
        EXPECT_EQ(at, end);
        end = at + little(ico, entry + 8, 4);

        EXPECT_EQ(little(ico, at, 4), 40u);
        EXPECT_EQ(little(ico, at + 4, 4), size);
        EXPECT_EQ(little(ico, at + 8, 4), 2 * size);
        EXPECT_EQ(little(ico, at + 12, 4), 1u | 4u << 16);
        std::vector<std::uint32_t> palette;
        for (std::size_t c = 0; c < 16; ++c) palette.push_back(little(ico, at + 40 + 4 * c, 4));
        EXPECT_EQ(palette,
                  std::vector<std::uint32_t>(std::begin(icon.palette), std::end(icon.palette)));

        const std::size_t colourRow = (size * 4 + 31) / 32 * 4, maskRow = (size + 31) / 32 * 4;
        const std::size_t colours = at + 40 + 64, mask = colours + colourRow * size;
        EXPECT_EQ(mask + maskRow * size, end);
        std::vector<std::uint8_t> pixels;
        std::vector<bool> clear;
        bool clearIsBlack = true;
        for (std::size_t y = 0; y < size; ++y)
            for (std::size_t x = 0; x < size; ++x) {
                const std::size_t row = size - 1 - y;
                const std::uint8_t pair = ico.at(colours + row * colourRow + x / 2);
                const auto index = static_cast<std::uint8_t>(x % 2 ? pair & 0x0F : pair >> 4);
                clear.push_back((ico.at(mask + row * maskRow + x / 8) >> (7 - x % 8) & 1) != 0);
                pixels.push_back(clear.back() ? image.pixels[y * size + x] : index);
                clearIsBlack = clearIsBlack && (!clear.back() || icon.palette[index] == 0);
            }
        EXPECT_EQ(clear, image.mask);
        EXPECT_EQ(pixels, image.pixels);
        EXPECT_TRUE(clearIsBlack);
    }
    EXPECT_EQ(end, ico.size());
}

}  // namespace
