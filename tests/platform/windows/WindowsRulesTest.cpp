// The pure parts of the Windows backends, run on every system: the USB instance ID, a volume's
// size from its clusters against the drive-mode capacity rule, wide text and paths, and what a
// device-change message means.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/DeviceNoticeSource.h"
#include "platform/windows/DeviceChangeNotice.h"
#include "platform/windows/UsbInstanceId.h"
#include "platform/windows/Utf16Text.h"
#include "platform/windows/VolumeCapacity.h"
#include "update/DriveCopy.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// UTF-16 code units as a wide string, the same on every system (wchar_t is wider on Linux).
std::wstring Units(std::initializer_list<std::uint16_t> units) {
    std::wstring text;
    for (const std::uint16_t unit : units) {
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}

TEST(UsbInstanceId, ReadsTheNumbersAfterTheCapitalPrefixes) {
    struct Case {
        std::wstring Id;
        bool bParsed;
        std::uint16_t Vendor;
        std::uint16_t Product;
    };
    const std::vector<Case> cases = {
        {L"USB\\VID_3A7E&PID_6A03\\5&2C1E0B7&0&3", true, 0x3A7E, 0x6A03},
        {L"USB\\VID_3a7e&PID_6a03\\1", true, 0x3A7E, 0x6A03},  // digits of either case
        {L"USB\\vid_3A7E&pid_6A03\\1", false, 0, 0},           // the prefixes are capitals
        {L"USB\\VID_3A7E&pid_6A03\\1", false, 0, 0},
        {L"USB\\VID_3A7E\\1", false, 0, 0},                 // no PID_
        {L"USB\\PID_6A03&VID_3A7E", true, 0x3A7E, 0x6A03},  // order does not matter
        {L"USB\\VID_3A7E5&PID_6A0", true, 0x3A7E, 0x06A0},  // at most four, fewer do
        {L"USB\\VID_&PID_6A03", false, 0, 0},               // no digit after VID_
        {L"USB\\VID_ 3A7E&PID_6A03", false, 0, 0},          // right after the prefix
        {L"USB\\VID_3A7E&PID_6A03&MI_00\\VID_0000&PID_0000", true, 0x3A7E, 0x6A03},  // the first
        {L"HID\\VID_3A7E&PID_6A11&COL01", true, 0x3A7E, 0x6A11},
        {std::wstring(), false, 0, 0},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseUsbInstanceId(c.Id);
        ASSERT_EQ(parsed.has_value(), c.bParsed) << WideToUtf8(c.Id);
        if (parsed) {
            EXPECT_EQ(parsed->VendorId, c.Vendor) << WideToUtf8(c.Id);
            EXPECT_EQ(parsed->ProductId, c.Product) << WideToUtf8(c.Id);
        }
    }
}

TEST(UsbInstanceId, AVolumesDiskIsTiedToTheWholeUsbDeviceAboveIt) {
    struct Case {
        std::vector<std::wstring> Ancestors;  // nearest first
        std::wstring Holder;
    };
    const std::wstring device = L"USB\\VID_3A7E&PID_6A01\\0123456789";
    const std::vector<Case> cases = {
        // disk <- mass-storage function <- the device <- hub
        {{L"USBSTOR\\DISK&VEN_TARVEX&PROD_DRIVE&REV_1.00\\0123456789&0", device,
          L"USB\\ROOT_HUB30\\4&1A2B3C&0&0"},
         device},
        // a composite device: the interface is passed over for the device above it
        {{L"USB\\VID_3A7E&PID_6A01&MI_00\\6&2F&0&0000", device}, device},
        // on another bus, or a hub with no vendor and product numbers
        {{L"SCSI\\DISK&VEN_ATA\\4&1", L"PCI\\VEN_8086&DEV_2922\\3&1"}, std::wstring()},
        {{L"USB\\ROOT_HUB30\\4&1A2B3C&0&0"}, std::wstring()},
        {{L"usb\\VID_3A7E&PID_6A01\\1"}, std::wstring()},  // Windows writes the enumerator in capitals
        {{}, std::wstring()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HoldingUsbDevice(c.Ancestors), c.Holder)
            << (c.Ancestors.empty() ? "" : WideToUtf8(c.Ancestors.front()));
    }
    EXPECT_TRUE(IsUsbDeviceInstanceId(L"USB\\VID_3A7E&PID_6A01"));
    EXPECT_FALSE(IsUsbDeviceInstanceId(L"USB\\VID_3A7E&PID_6A01&MI_01\\1"));
    EXPECT_FALSE(IsUsbDeviceInstanceId(L"HID\\VID_3A7E&PID_6A11\\1"));
}

TEST(VolumeCapacity, ClustersTimesSectorsTimesBytesAgainstTheDriveRule) {
    constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();
    struct Case {
        std::uint32_t Clusters;
        std::uint32_t SectorsPerCluster;
        std::uint32_t BytesPerSector;
        std::uint64_t Capacity;
        bool bImageDrive;
    };
    const std::vector<Case> cases = {
        {208, 1, 512, 106'496, true},  // 104 KiB: the device's volume
        {26, 8, 512, 106'496, true},
        {2099, 1, 512, 1'074'688, false},
        {207, 1, 512, 105'984, false},    // a sector short
        {1, 1, 107'519, 107'519, true},   // the last size the rule takes
        {1, 1, 107'520, 107'520, false},  // 105 KiB
        {1, 1, 106'495, 106'495, false},
        {0, 0, 0, 0, false},  // a letter without media reports nothing
        // A large disk whose 32-bit product would wrap onto 104 KiB: 2^32 + 0x1A000 bytes.
        {0x10001A, 8, 512, 0x1'0001'A000, false},
        // The three counts at their largest: saturates, never wraps.
        {kMax32, kMax32, kMax32, std::numeric_limits<std::uint64_t>::max(), false},
        {kMax32, 1, 1, kMax32, false},
    };
    for (const auto& c : cases) {
        const std::uint64_t capacity =
            VolumeCapacity(c.Clusters, c.SectorsPerCluster, c.BytesPerSector);
        EXPECT_EQ(capacity, c.Capacity)
            << c.Clusters << " x " << c.SectorsPerCluster << " x " << c.BytesPerSector;
        EXPECT_EQ(IsImageDriveCapacity(capacity), c.bImageDrive) << capacity;
    }
}

TEST(Utf16Text, WidePathsSurviveTheTripThroughUtf8) {
    struct Case {
        std::wstring Wide;
        std::string Utf8;
    };
    const std::vector<Case> cases = {
        {L"\\\\?\\hid#vid_3a7e&pid_6a11#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
         "\\\\?\\hid#vid_3a7e&pid_6a11#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"},
        {Units({'C', ':', '\\', 0x00E9, 't', 0x00E9}), "C:\\\xC3\xA9t\xC3\xA9"},
        {Units({0x56FA, 0x4EF6, '.', 'd', 'a', 't'}), "\xE5\x9B\xBA\xE4\xBB\xB6.dat"},  // 固件.dat
        {Units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},  // a pair: one code point, four bytes
        {Units({'a', 0xD83D, 'b'}),
         "a\xED\xA0\xBD"
         "b"},                              // a lone high surrogate keeps its unit
        {Units({0xDE00}), "\xED\xB8\x80"},  // and a lone low one
        {Units({0x07FF, 0x0800, 0xFFFF}), "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {std::wstring(), std::string()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WideToUtf8(c.Wide), c.Utf8);
        EXPECT_EQ(Utf8ToWide(c.Utf8), c.Wide) << c.Utf8;
    }
}

TEST(Utf16Text, MalformedUtf8BecomesReplacementCharacters) {
    const std::wstring replacement = Units({0xFFFD});
    struct Case {
        std::string Utf8;
        std::wstring Wide;
    };
    const std::vector<Case> cases = {
        {"\x80", replacement},                    // a stray continuation byte
        {"\xC3", replacement},                    // cut short
        {"\xC0\xAF", replacement + replacement},  // overlong '/', never a slash
        {"\xE0\x80\xAF", replacement + replacement + replacement},
        {"\xF4\x90\x80\x80", Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD})},  // past U+10FFFF
        {"a\xFF"
         "b",
         Units({'a', 0xFFFD, 'b'})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8ToWide(c.Utf8), c.Wide);
    }
}

TEST(DeviceChangeNotice, MapsTheWindowsMessagesAsTheLinuxMonitorMapsUevents) {
    using Class = NoticeInterfaceClass;
    // A USB device of any kind coming or going changes the tree.
    EXPECT_THAT(NoticesForDeviceChange(kDeviceArrival, Class::Usb, false),
                ElementsAre(kDeviceNodesChanged));
    EXPECT_THAT(NoticesForDeviceChange(kDeviceRemoveComplete, Class::Usb, true),
                ElementsAre(kDeviceNodesChanged));
    // HID interfaces only once registered.
    EXPECT_THAT(NoticesForDeviceChange(kDeviceArrival, Class::Hid, false), IsEmpty());
    EXPECT_THAT(NoticesForDeviceChange(kDeviceArrival, Class::Hid, true),
                ElementsAre(kDeviceArrival));
    EXPECT_THAT(NoticesForDeviceChange(kDeviceRemoveComplete, Class::Hid, true),
                ElementsAre(kDeviceRemoveComplete));
    // The system's own tree-changed notice passes, should a window ever get it.
    EXPECT_THAT(NoticesForDeviceChange(kDeviceNodesChanged, Class::None, false),
                ElementsAre(kDeviceNodesChanged));
    // Everything else is nobody's business: other classes, other events (query remove 0x8001,
    // remove pending 0x8003, custom 0x8006, configuration changed 0x0018).
    EXPECT_THAT(NoticesForDeviceChange(kDeviceArrival, Class::Other, true), IsEmpty());
    EXPECT_THAT(NoticesForDeviceChange(kDeviceArrival, Class::None, true), IsEmpty());
    for (const std::uint32_t event : {0x8001U, 0x8003U, 0x8006U, 0x0018U}) {
        EXPECT_THAT(NoticesForDeviceChange(event, Class::Hid, true), IsEmpty()) << event;
        EXPECT_THAT(NoticesForDeviceChange(event, Class::Usb, true), IsEmpty()) << event;
    }
}

}  // namespace
}  // namespace tarvex
