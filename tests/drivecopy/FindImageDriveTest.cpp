// Choosing the device's volume and reading what goes onto it: pure over their inputs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "hid/DeviceIdentity.h"
#include "sim/SampleImage.h"
#include "tests/drivecopy/DriveCopyTestSupport.h"
#include "update/DriveCopy.h"

namespace tarvex::testing {
namespace {

VolumeInfo Volume(std::string mountPoint, std::uint64_t capacity, std::string usbDevice = {}) {
    return VolumeInfo{std::move(mountPoint), "test", capacity, std::move(usbDevice)};
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
        EXPECT_EQ(FindImageDrive(volumes, {}).has_value(), c.matches) << c.capacity;
    }
}

TEST(FindImageDriveTest, ChoosesByCapacityOrderAndOwningDevice) {
    const std::string kOwnDevice = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
    const std::string kOtherDevice = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4";
    const std::vector<UsbDeviceInfo> attached = {
        {kTargetVendorId, kDriveModeProductIds[2], kOwnDevice},
        {0x1234, kDriveModeProductIds[2], kOtherDevice},  // another vendor: not ours
    };
    const struct {
        const char* name;
        std::vector<VolumeInfo> volumes;
        std::vector<UsbDeviceInfo> usb;
        std::optional<std::string> chosen;
    } cases[] = {
        {"nothing mounted", {}, attached, std::nullopt},
        {"no size matches",
         {Volume("/a", 106'495), Volume("/b", 107'520), Volume("/c", 0)},
         attached,
         std::nullopt},
        {"the one match among others",
         {Volume("/a", 1 << 20), Volume("/media/dev", 106'496), Volume("/z", 107'520)},
         attached,
         "/media/dev"},
        {"two matches: the earlier mount point, whatever the list order",
         {Volume("/media/b", 106'496), Volume("/media/a", 107'000)},
         attached,
         "/media/a"},
        {"byte order, not path-element order",
         {Volume("/m/x", 106'496), Volume("/m-x", 106'496)},
         attached,
         "/m-x"},  // '-' (0x2D) sorts before '/' (0x2F)
        {"the attached device's own volume wins over an earlier one",
         {Volume("/a", 106'496), Volume("/b", 106'496, kOwnDevice)},
         attached,
         "/b"},
        {"a volume of another vendor's device is not preferred",
         {Volume("/a", 106'496), Volume("/b", 106'496, kOtherDevice)},
         attached,
         "/a"},
        {"a device that is no longer attached is not preferred",
         {Volume("/a", 106'496), Volume("/b", 106'496, kOwnDevice)},
         {},
         "/a"},
        {"the own device's volume must still have the size",
         {Volume("/a", 106'496), Volume("/b", 1 << 20, kOwnDevice)},
         attached,
         "/a"},
        {"an unknown owner never matches an empty system path",
         {Volume("/a", 106'496), Volume("/b", 106'496)},
         {{kTargetVendorId, kDriveModeProductIds[0], ""}},
         "/a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto chosen = FindImageDrive(c.volumes, c.usb);
        ASSERT_EQ(chosen.has_value(), c.chosen.has_value());
        if (chosen) {
            EXPECT_EQ(chosen->MountPoint, *c.chosen);
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
