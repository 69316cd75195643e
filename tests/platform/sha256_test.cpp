#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Vector {
    const char* name;
    std::vector<std::uint8_t> input;
    const char* hex;
};

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

// Published vectors: the empty input, one block, two blocks, and a million bytes that cross
// every block boundary a piece could fall on.
const std::vector<Vector>& vectors() {
    static const std::vector<Vector> table = {
        {"empty", {}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", bytesOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", bytesOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"million a", std::vector<std::uint8_t>(1'000'000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    return table;
}

TEST(Sha256Test, KnownVectorsWhole) {
    for (const Vector& v : vectors()) EXPECT_EQ(platform::sha256Hex(v.input), v.hex) << v.name;
}

TEST(Sha256Test, PiecesOfEverySizeGiveTheWholeDigest) {
    // Pieces smaller than, equal to and larger than a 64-byte block, and empty ones between.
    const std::size_t sizes[] = {1, 0, 55, 64, 9, 65, 4096, 0, 127};
    for (const Vector& v : vectors()) {
        platform::Sha256 digest;
        std::span<const std::uint8_t> rest(v.input);
        for (std::size_t i = 0; !rest.empty(); ++i) {
            const std::size_t size = std::min(sizes[i % std::size(sizes)], rest.size());
            digest.add(rest.first(size));
            rest = rest.subspan(size);
        }
        EXPECT_EQ(digest.hex(), v.hex) << v.name;
    }
}

}  // namespace
