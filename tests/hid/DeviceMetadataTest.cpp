// The AppStream metadata's modalias entries, by which software centres offer the program when a
// device is plugged in, name exactly the devices that detection accepts.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "hid/DeviceIdentity.h"

namespace tarvex {
namespace {

std::string UsbModalias(std::uint16_t vendorId, std::uint16_t productId) {
    char text[32];
    std::snprintf(text, sizeof text, "usb:v%04Xp%04Xd*", vendorId, productId);
    return text;
}

std::set<std::string> MetainfoModaliases() {
    std::ifstream file(TARVEX_METAINFO_FILE);
    std::stringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    const std::regex entry(R"(<modalias>([^<]*)</modalias>)");
    std::set<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), entry), end; it != end; ++it) {
        found.insert((*it)[1].str());
    }
    return found;
}

TEST(DeviceMetadata, ModaliasesAreTheUpdateDeviceAndTheDriveModeDevices) {
    std::set<std::string> expected{UsbModalias(kTargetVendorId, kUpdateDeviceProductId)};
    for (const auto productId : kDriveModeProductIds) {
        ASSERT_TRUE(IsDriveModeDevice(kTargetVendorId, productId));
        expected.insert(UsbModalias(kTargetVendorId, productId));
    }
    ASSERT_TRUE(ClassifyHidDevice(kTargetVendorId, kUpdateDeviceProductId));
    EXPECT_EQ(MetainfoModaliases(), expected) << "in " << TARVEX_METAINFO_FILE;
}

}  // namespace
}  // namespace tarvex
