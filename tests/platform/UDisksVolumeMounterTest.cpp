// The UDisks2 backend's answers where there is nothing to mount through: a bus without the disk
// service, and no bus at all, must read as "no service" (the run then waits for a mount as it
// always did), never as a refusal that ends the run. The mounts themselves run against a real
// udisksd in the QEMU guest (tests/vm/guest-tests.sh).

#include <gtest/gtest.h>

#include "platform/linux/UDisksVolumeMounter.h"
#include "tests/platform/LogindStandIn.h"

namespace tarvex {
namespace {

using testing::CLogindStandIn;
using testing::LoginServiceMode;

TEST(UDisksVolumeMounter, ABusWithoutTheDiskServiceOrNoBusMeansNoService) {
    CLogindStandIn bus(LoginServiceMode::Missing);
    ASSERT_EQ(bus.Problem(), "");
    const struct {
        const char* Name;
        std::string Address;
    } cases[] = {
        {"a bus without UDisks2", bus.BusAddress()},
        {"no bus", "unix:path=/nonexistent/tarvex-test-bus"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CUDisksVolumeMounter mounter(c.Address);
        const VolumeMountResult mounted =
            mounter.Mount("/org/freedesktop/UDisks2/block_devices/sdz", false);
        EXPECT_EQ(mounted.Error, VolumeMountError::NoService) << mounted.Message;
        EXPECT_EQ(mounter.Unmount("/org/freedesktop/UDisks2/block_devices/sdz").Error,
                  VolumeMountError::NoService);
    }
}

TEST(UDisksVolumeMounter, BusErrorsMeanWhatTheRunNeedsToKnow) {
    const struct {
        const char* Name;
        VolumeMountError Meaning;
    } cases[] = {
        {"org.freedesktop.UDisks2.Error.NotAuthorized", VolumeMountError::NotAuthorized},
        {"org.freedesktop.UDisks2.Error.NotAuthorizedDismissed", VolumeMountError::NotAuthorized},
        {"org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
         VolumeMountError::NeedsAuthentication},
        {"org.freedesktop.UDisks2.Error.AlreadyMounted", VolumeMountError::AlreadyMounted},
        {"org.freedesktop.DBus.Error.ServiceUnknown", VolumeMountError::NoService},
        {"org.freedesktop.DBus.Error.UnknownObject", VolumeMountError::NoSuchVolume},
        {"org.freedesktop.UDisks2.Error.Failed", VolumeMountError::Failed},
        {"org.freedesktop.DBus.Error.NoReply", VolumeMountError::Failed},
        {"", VolumeMountError::Failed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VolumeMountErrorFromBusError(c.Name), c.Meaning) << c.Name;
    }
}

}  // namespace
}  // namespace tarvex
