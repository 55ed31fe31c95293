#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "hid/ReportLayout.h"
#include "sim/SampleImage.h"

namespace tarvex::sim {
namespace {

TEST(SampleImage, LaysOutLeadHeaderPayloadAndTrail) {
    const SampleImageSpec spec{.LeadSize = 0x0123,
                               .Version = 0x0273,
                               .Beta = 2,
                               .TargetAddress = 0x08010000,
                               .PayloadLength = 100,
                               .TrailingBytes = 7,
                               .Seed = 42};
    const auto image = BuildSampleImage(spec);
    const std::size_t headerOffset = 0x0123 + 512;
    ASSERT_EQ(image.size(), headerOffset + 28 + 100 + 7);
    EXPECT_EQ(image[12], 0x01);
    EXPECT_EQ(image[13], 0x23);

    const auto header = std::span(image).subspan(headerOffset, 28);
    EXPECT_EQ(header[0], 0x73);
    EXPECT_EQ(header[1], 0x02);
    EXPECT_EQ(header[2], 2);
    EXPECT_EQ(header[3], 0);
    EXPECT_EQ(ReadLe32(header.subspan(4, 4)), 0x08010000u);
    EXPECT_EQ(ReadLe32(header.subspan(8, 4)), 100u);

    const auto payloadStart = image.begin() + static_cast<std::ptrdiff_t>(headerOffset + 28);
    EXPECT_EQ(std::vector<std::uint8_t>(payloadStart, payloadStart + 100), SamplePayload(spec));
}

TEST(SampleImage, IsAFunctionOfItsSeed) {
    SampleImageSpec spec;
    EXPECT_EQ(BuildSampleImage(spec), BuildSampleImage(spec));
    const auto payload = SamplePayload(spec);
    EXPECT_NE(payload, std::vector<std::uint8_t>(payload.size(), 0));
    spec.Seed = 2;
    EXPECT_NE(SamplePayload(spec), payload);
}

TEST(SampleImage, WritesTheImageItBuilds) {
    const SampleImageSpec spec{.LeadSize = 5, .PayloadLength = 300, .TrailingBytes = 3};
    const std::filesystem::path dir = ::testing::TempDir();
    const auto path = dir / "tarvex-sample-image-test.dat";
    ASSERT_TRUE(WriteSampleImage(path, spec));
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> written{std::istreambuf_iterator<char>(file),
                                            std::istreambuf_iterator<char>()};
    file.close();
    std::filesystem::remove(path);
    EXPECT_EQ(written, BuildSampleImage(spec));

    EXPECT_FALSE(WriteSampleImage(dir / "no-such-directory" / "image.dat", spec));
}

}  // namespace
}  // namespace tarvex::sim
