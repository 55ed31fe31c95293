// What the hidraw backend makes of errno values and device paths.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/linux/HidrawMapping.h"

namespace tarvex {
namespace {

TEST(HidrawMapping, OpenErrorsKeepAMissingPermissionApart) {
    const std::vector<std::pair<int, HidOpenError>> cases = {
        {EACCES, HidOpenError::PermissionDenied},
        {EPERM, HidOpenError::PermissionDenied},
        {ENOENT, HidOpenError::NotFound},
        {ENODEV, HidOpenError::NotFound},
        {ENXIO, HidOpenError::NotFound},
        {EBUSY, HidOpenError::Busy},
        {EISDIR, HidOpenError::Other},
        {EMFILE, HidOpenError::Other},
        {0, HidOpenError::Other},
    };
    for (const auto& [error, expected] : cases) {
        EXPECT_EQ(OpenErrorFromErrno(error), expected) << std::strerror(error);
    }
}

TEST(HidrawMapping, AGoneDeviceIsToldApartFromOtherFailures) {
    struct Case {
        int Error;
        bool bNodePresent;
        HidIoStatus Read;
        HidIoStatus Write;
    };
    const std::vector<Case> cases = {
        // hidapi's poll saw a hang-up: no errno at all.
        {0, true, HidIoStatus::DeviceGone, HidIoStatus::Failed},
        {ENODEV, true, HidIoStatus::DeviceGone, HidIoStatus::DeviceGone},
        {ESHUTDOWN, true, HidIoStatus::DeviceGone, HidIoStatus::DeviceGone},
        {ENXIO, true, HidIoStatus::DeviceGone, HidIoStatus::DeviceGone},
        // A read of an unplugged hidraw node fails with EIO; a write may fail with EIO on a
        // device that is still there.
        {EIO, true, HidIoStatus::DeviceGone, HidIoStatus::Failed},
        {EIO, false, HidIoStatus::DeviceGone, HidIoStatus::DeviceGone},
        {EPIPE, true, HidIoStatus::Failed, HidIoStatus::Failed},
        {EPIPE, false, HidIoStatus::DeviceGone, HidIoStatus::DeviceGone},
        {ETIMEDOUT, true, HidIoStatus::Failed, HidIoStatus::Failed},
        {EINTR, true, HidIoStatus::TimedOut, HidIoStatus::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::strerror(c.Error) << ", node "
                                          << (c.bNodePresent ? "present" : "gone"));
        EXPECT_EQ(ReadFailureStatus(c.Error, c.bNodePresent), c.Read);
        EXPECT_EQ(WriteFailureStatus(c.Error, c.bNodePresent), c.Write);
    }
}

TEST(HidrawMapping, ReadsAMajorNumberFromTheCharacterDevicesOnly) {
    const std::string procDevices =
        "Character devices:\n"
        "  1 mem\n"
        "  4 /dev/vc/0\n"
        "226 drm\n"
        "245 hidraw\n"
        "\n"
        "Block devices:\n"
        "  8 sd\n"
        "259 blkext\n";
    EXPECT_EQ(CharacterDeviceMajor(procDevices, "hidraw"), 245U);
    EXPECT_EQ(CharacterDeviceMajor(procDevices, "mem"), 1U);
    EXPECT_EQ(CharacterDeviceMajor(procDevices, "/dev/vc/0"), 4U);
    EXPECT_FALSE(CharacterDeviceMajor(procDevices, "sd")) << "a block device";
    EXPECT_FALSE(CharacterDeviceMajor(procDevices, "hid")) << "the whole name must match";
    EXPECT_FALSE(CharacterDeviceMajor("245 hidraw\n", "hidraw")) << "outside any section";
    EXPECT_FALSE(CharacterDeviceMajor("Character devices:\nxx hidraw\n", "hidraw"));
    EXPECT_FALSE(CharacterDeviceMajor("", "hidraw"));
}

TEST(HidrawMapping, FindsTheReportDescriptorOfHidrawNodesOnly) {
    EXPECT_EQ(ReportDescriptorPathFor("/dev/hidraw0"),
              std::filesystem::path("/sys/class/hidraw/hidraw0/device/report_descriptor"));
    EXPECT_EQ(ReportDescriptorPathFor("/dev/hidraw17"),
              std::filesystem::path("/sys/class/hidraw/hidraw17/device/report_descriptor"));
    for (const char* other : {"/dev/hidraw", "/dev/hidrawX", "/dev/hidraw1/../sda", "hidraw0",
                              "/dev/usb/hiddev0", "/tmp/hidraw0", "", "virtual:hid"}) {
        EXPECT_FALSE(ReportDescriptorPathFor(other)) << other;
    }
}

}  // namespace
}  // namespace tarvex
