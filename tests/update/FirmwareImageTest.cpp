// The image file's layout checks and the version texts.

#include <gtest/gtest.h>

#include <fstream>

#include "sim/SampleImage.h"
#include "update/FirmwareImage.h"
#include "update/VersionText.h"

namespace tarvex {
namespace {

TEST(FirmwareImageTest, HeaderOffsetFromTheBigEndianLeadSize) {
    const std::vector<std::tuple<std::uint8_t, std::uint8_t, std::uint32_t>> cases = {
        {0x00, 0x00, 512}, {0xFF, 0xFF, 66047}, {0x00, 0x80, 640}, {0x80, 0x00, 33280}};
    for (const auto& [high, low, offset] : cases) {
        std::array<std::uint8_t, kFileHeaderSize> header{};
        header[12] = high;
        header[13] = low;
        EXPECT_EQ(HeaderOffsetFromFileHeader(header), offset);
    }
}

TEST(FirmwareImageTest, LayoutCheckMeasuresThePayloadFromItsRealStart) {
    struct Case {
        std::uint64_t fileSize;
        std::uint64_t headerOffset;
        std::uint32_t payloadLength;
        ImageRefusal expected;
    };
    const std::vector<Case> cases = {
        {15, 512, 1, ImageRefusal::ShorterThanFileHeader},
        {539, 512, 1, ImageRefusal::EndsBeforeImageHeader},  // 512 + 28 = 540 needed
        {540, 512, 0, ImageRefusal::EmptyPayload},
        {540 + 99, 512, 100, ImageRefusal::PayloadBeyondEndOfFile},
        {540 + 100, 512, 100, ImageRefusal::None},
        {540 + 140, 512, 100, ImageRefusal::None},
        // A file that is long enough for PayloadLength + 28 but not from the payload's start.
        {600, 512, 400, ImageRefusal::PayloadBeyondEndOfFile},
        // No wrap-around.
        {1 << 20, 512, 0xFFFFFFF0, ImageRefusal::PayloadBeyondEndOfFile},
        {0xFFFFFFFFULL + 600, 66047, 0xFFFFFFFF, ImageRefusal::PayloadBeyondEndOfFile},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CheckImageLayout(c.fileSize, c.headerOffset, c.payloadLength), c.expected)
            << c.fileSize << " " << c.headerOffset << " " << c.payloadLength;
    }
}

TEST(FirmwareImageTest, ProbeReadsTheFieldsOfARealFile) {
    const auto path = std::filesystem::temp_directory_path() / "tarvex-probe-test.dat";
    sim::SampleImageSpec spec;
    spec.LeadSize = 0x0080;
    spec.Version = 115;
    spec.Beta = 3;
    spec.TargetAddress = 0x08004000;
    spec.PayloadLength = 100;
    ASSERT_TRUE(sim::WriteSampleImage(path, spec));

    const ImageProbe probe = ProbeImageFile(path);
    EXPECT_EQ(probe.Refusal, ImageRefusal::None);
    EXPECT_EQ(probe.HeaderOffset, 640U);
    EXPECT_EQ(probe.Fields.Version(), 115);
    EXPECT_EQ(probe.Fields.Beta(), 3);
    EXPECT_EQ(probe.Fields.TargetAddress, 0x08004000U);
    EXPECT_EQ(probe.Fields.PayloadLength, 100U);

    // Cut inside the payload: refused now, before anything would be sent.
    std::filesystem::resize_file(path, 640 + 28 + 99);
    EXPECT_EQ(ProbeImageFile(path).Refusal, ImageRefusal::PayloadBeyondEndOfFile);
    std::filesystem::resize_file(path, 10);
    EXPECT_EQ(ProbeImageFile(path).Refusal, ImageRefusal::ShorterThanFileHeader);
    std::filesystem::remove(path);
    EXPECT_EQ(ProbeImageFile(path).Refusal, ImageRefusal::CannotOpen);
}

TEST(VersionTextTest, DeviceVersions) {
    const std::vector<std::pair<std::uint32_t, std::string>> cases = {
        {105, "V1.05"}, {0x105, "V2.61"},  {0x00010064, "V1.00"},
        {0, "V0.00"},   {0xFFFFFFFF, "?"}, {0x0000FFFF, "V655.35"}};
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(FormatDeviceVersionText(value), text) << value;
    }
}

TEST(VersionTextTest, ImageQuestionUsesTheBetaTextOnlyForBetaImages) {
    const std::string release = "Update firmware version: V%.02f";
    const std::string beta = "Update firmware version: V%.02f  Beta%d";
    const std::vector<std::pair<std::uint32_t, std::string>> cases = {
        {115, "Update firmware version: V1.15"},
        {0x00030000 | 115, "Update firmware version: V1.15  Beta3"},
        {0xAB000000 | 115, "Update firmware version: V1.15"},  // byte 3 is not looked at
        {0, "Update firmware version: V0.00"},
    };
    for (const auto& [word, text] : cases) {
        ImageHeaderFields fields;
        fields.ImageVersion = word;
        EXPECT_EQ(FormatImageVersionPrompt(release, beta, fields), text);
    }
}

}  // namespace
}  // namespace tarvex
