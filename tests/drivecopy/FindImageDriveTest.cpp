// Choosing the device's volume and reading what goes onto it: pure over their inputs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "sim/SampleImage.h"
#include "tests/drivecopy/DriveCopyTestSupport.h"
#include "update/DriveCopy.h"

namespace tarvex::testing {
namespace {

VolumeInfo Volume(std::string mountPoint, std::uint64_t capacity, std::string usbDevice = {}) {
    return VolumeInfo{std::move(mountPoint), "test", capacity, std::move(usbDevice), {}};
}

TEST(ImageDriveCapacityTest, OnlyTheKibibyteFrom104KiBMatches) {
    const struct {
        std::uint64_t capacity;
        bool matches;
    } cases[] = {
        {0, false},
        {106'495, false},
        {106'496, true},  // 104 KiB exactly
        {106'497, true},
        {107'519, true},  // the last byte before 105 KiB
        {107'520, false},
        {110'592, false},  // what the kernel makes of a tmpfs asked for 105k (whole pages)
        // Equal in the low 32 bits to 104 KiB; a 32-bit comparison would take it.
        {(std::uint64_t{1} << 32) + 106'496, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsImageDriveCapacity(c.capacity), c.matches) << c.capacity;
        const std::vector<VolumeInfo> volumes = {Volume("/mnt/v", c.capacity)};
        EXPECT_EQ(ChooseImageDrive(volumes, {}).Volume.has_value(), c.matches) << c.capacity;
    }
}

TEST(ChooseImageDriveTest, ByCapacityAndOrderOrOnlyOnTheDevicesOwnVolume) {
    const std::string kOwn = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
    const std::string kOther = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4";
    const std::vector<std::string> none;
    const std::vector<std::string> own = {kOwn};
    using Kind = DriveChoice::Kind;
    const struct {
        const char* name;
        std::vector<VolumeInfo> volumes;
        std::vector<std::string> ownDevices;
        Kind result;
        std::string chosen;
    } cases[] = {
        // Where the device's own volume cannot be told, the capacity alone decides.
        {"nothing mounted", {}, none, Kind::NoMatch, ""},
        {"no size matches",
         {Volume("/a", 106'495), Volume("/b", 107'520), Volume("/c", 0)},
         none,
         Kind::NoMatch,
         ""},
        {"the one match among others",
         {Volume("/a", 1 << 20), Volume("/media/dev", 106'496), Volume("/z", 107'520)},
         none,
         Kind::Chosen,
         "/media/dev"},
        {"two matches: the earlier mount point, whatever the list order",
         {Volume("/media/b", 106'496), Volume("/media/a", 107'000)},
         none,
         Kind::Chosen,
         "/media/a"},
        {"byte order, not path-element order",
         {Volume("/m/x", 106'496), Volume("/m-x", 106'496)},
         none,
         Kind::Chosen,
         "/m-x"},  // '-' (0x2D) sorts before '/' (0x2F)
        // Where it can, only the device's own volume will do.
        {"the own volume, though another sorts first",
         {Volume("/a", 106'496), Volume("/b", 106'496, kOwn)},
         own,
         Kind::Chosen,
         "/b"},
        {"another device's volume of the same size is no substitute",
         {Volume("/a", 106'496), Volume("/b", 106'496, kOther)},
         own,
         Kind::NotMountedYet,
         ""},
        {"nothing of the device's mounted yet",
         {Volume("/a", 106'496)},
         own,
         Kind::NotMountedYet,
         ""},
        {"an own mount that was not sized is not the device's volume",
         {Volume("/a", 106'496), Volume("/b", 0, kOwn)},
         own,
         Kind::NotMountedYet,
         ""},
        {"the own volume must still have the size",
         {Volume("/a", 106'496), Volume("/b", 1 << 20, kOwn)},
         own,
         Kind::NoMatch,
         ""},
        {"two own volumes: the matching one",
         {Volume("/a", 1 << 20, kOwn), Volume("/b", 106'496, kOwn)},
         own,
         Kind::Chosen,
         "/b"},
        {"an unknown owner never matches an empty system path",
         {Volume("/a", 106'496), Volume("/b", 106'496)},
         {""},
         Kind::NotMountedYet,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DriveChoice choice = ChooseImageDrive(c.volumes, c.ownDevices);
        EXPECT_EQ(choice.Result, c.result);
        ASSERT_EQ(choice.Volume.has_value(), c.result == Kind::Chosen);
        if (choice.Volume) {
            EXPECT_EQ(choice.Volume->MountPoint, c.chosen);
        }
    }
}

class ReadLeadSectionTest : public ::testing::Test {
protected:
    CScratchFolder m_Folder;
};

TEST_F(ReadLeadSectionTest, CopiesTheLeadSectionOrTheWholeShorterImage) {
    sim::SampleImageSpec spec;
    spec.LeadSize = 0x1000;  // bytes 12-13 read 10 00
    spec.PayloadLength = 300;
    const auto image = sim::BuildSampleImage(spec);
    ASSERT_EQ(image[12], 0x10);
    ASSERT_EQ(image[13], 0x00);

    const struct {
        std::size_t imageLength;
        std::size_t copied;
    } cases[] = {
        {image.size(), 4'608},  // header, payload and all: only the lead section goes
        {4'608, 4'608},         // exactly the lead section
        {4'607, 4'607},         // one byte short: the whole image
        {1'000, 1'000},        {15, 15}, {14, 14},  // just long enough to tell the lead size
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.imageLength);
        const auto path = m_Folder.Path() / "image.dat";
        WriteBytes(path, std::span(image).first(c.imageLength));
        const LeadSection lead = ReadLeadSection(path);
        ASSERT_EQ(lead.Refusal, LeadSectionRefusal::None);
        EXPECT_EQ(lead.DeclaredLength, 4'608U);
        EXPECT_EQ(lead.Bytes,
                  std::vector<std::uint8_t>(image.begin(),
                                            image.begin() + static_cast<std::ptrdiff_t>(c.copied)));
    }
}

TEST_F(ReadLeadSectionTest, LeadSizeIsBigEndianAndSpansTheWholeRange) {
    const struct {
        std::uint8_t high, low;
        std::uint32_t declared;
    } cases[] = {{0x00, 0x00, 512}, {0x00, 0x01, 513}, {0x01, 0x00, 768}, {0xFF, 0xFF, 66'047}};
    for (const auto& c : cases) {
        std::vector<std::uint8_t> image(70'000);
        for (std::size_t i = 0; i < image.size(); ++i) {
            image[i] = static_cast<std::uint8_t>(i * 7);
        }
        image[12] = c.high;
        image[13] = c.low;
        const auto path = m_Folder.Path() / "image.dat";
        WriteBytes(path, image);
        const LeadSection lead = ReadLeadSection(path);
        EXPECT_EQ(lead.DeclaredLength, c.declared);
        ASSERT_EQ(lead.Bytes.size(), c.declared);
        EXPECT_TRUE(std::equal(lead.Bytes.begin(), lead.Bytes.end(), image.begin()));
    }
}

TEST_F(ReadLeadSectionTest, RefusesWhatCannotTellItsLeadSize) {
    const auto path = m_Folder.Path() / "image.dat";
    for (const std::size_t length : {0, 1, 13}) {
        WriteBytes(path, std::vector<std::uint8_t>(length, 0x10));
        EXPECT_EQ(ReadLeadSection(path).Refusal, LeadSectionRefusal::TooShortForLeadSize) << length;
    }
    EXPECT_EQ(ReadLeadSection(m_Folder.Path() / "missing.dat").Refusal,
              LeadSectionRefusal::CannotOpen);
}

}  // namespace
}  // namespace tarvex::testing
