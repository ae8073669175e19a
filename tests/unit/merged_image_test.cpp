// The merged image's heads: what binmerge writes must be what the A/B upgrade accepts, and nothing else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarn_crc.h"
#include "tarn_merged_image.h"

namespace {

void Append(std::vector<uint8_t> &image, int type, const std::vector<uint8_t> &bytes) {
    uint8_t head[kMergedHeadSize];
    Merged_PackHead(type, static_cast<uint32_t>(bytes.size()), Crc_Crc32Raw(bytes.data(), bytes.size()), head);
    image.insert(image.end(), head, head + sizeof head);
    image.insert(image.end(), bytes.begin(), bytes.end());
}

TEST(MergedImage, HeadsPackedAreWalkedBack) {
    std::vector<uint8_t> image;
    Append(image, kMergedUboot, {'a', 'b', 'c'});
    Append(image, kMergedAppfs, std::vector<uint8_t>(5000, 0x5A));
    // Name zero-padded, then size and the raw CRC of "abc", little-endian.
    const std::vector<uint8_t> firstHead = {'u', 'b', 'o', 'o', 't', 0, 0, 0, 0,    0,    0,    0,
                                            0,   0,   0,   0,   3,   0, 0, 0, 0xD0, 0x98, 0x65, 0xCA};
    EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + kMergedHeadSize), firstHead);

    MergedComponent components[kMergedComponentCount];
    const MergedWalk walk = Merged_Walk(image.data(), image.size(), components, kMergedComponentCount);
    EXPECT_EQ(walk.status, MergedStatus::Ok);
    ASSERT_EQ(walk.count, 2);
    EXPECT_STREQ(components[1].head.name, "appfs");
    EXPECT_EQ(components[1].head.type, kMergedAppfs);
    EXPECT_EQ(components[1].head.size, 5000u);
    EXPECT_EQ(components[1].offset, 2 * kMergedHeadSize + 3);
    EXPECT_EQ(Merged_Walk(image.data(), image.size(), components, 1).status, MergedStatus::TooMany);
}

TEST(MergedImage, BrokenHeadsAreRefused) {
    std::vector<uint8_t> good;
    Append(good, kMergedKernel, {1, 2, 3, 4});
    MergedComponent components[kMergedComponentCount];
    const auto walked = [&](std::vector<uint8_t> image) {
        return Merged_Walk(image.data(), image.size(), components, kMergedComponentCount);
    };

    std::vector<uint8_t> image = good;
    memcpy(image.data(), "cfgfs", 6);
    EXPECT_EQ(walked(image).status, MergedStatus::BadName);
    memset(image.data(), 'k', kMergedNameSize); // no terminator inside the name field
    const MergedWalk unterminated = walked(image);
    EXPECT_EQ(unterminated.status, MergedStatus::BadName);
    EXPECT_EQ(std::string(unterminated.head.name), std::string(16, 'k'));

    image = good;
    image[16] = 5; // one byte more than the image holds
    EXPECT_EQ(walked(image).status, MergedStatus::PastEnd);
    image = good;
    image.back() ^= 1;
    const MergedWalk damaged = walked(image);
    EXPECT_EQ(damaged.status, MergedStatus::CrcMismatch);
    EXPECT_EQ(damaged.computedCrc, Crc_Crc32Raw(image.data() + kMergedHeadSize, 4));

    image = good;
    Append(image, kMergedRootfs, {});
    const MergedWalk empty = walked(image);
    EXPECT_EQ(empty.status, MergedStatus::ZeroSize);
    EXPECT_EQ(empty.count, 1);
    EXPECT_EQ(empty.offset, good.size());
    image.resize(good.size() + kMergedHeadSize - 1);
    EXPECT_EQ(walked(image).status, MergedStatus::ShortHead);
}

} // namespace
