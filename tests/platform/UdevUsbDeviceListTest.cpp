// The USB device list through libudev: the attribute parser, and a listing that agrees with
// what sysfs shows directly.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/linux/UdevUsbDeviceList.h"

namespace tarvex {
namespace {

TEST(UdevUsbDeviceList, ParsesIdsAsTheKernelWritesThemAndRefusesJunk) {
    const std::vector<std::pair<std::string_view, std::optional<std::uint16_t>>> cases = {
        {"3a7e", 0x3A7E},
        {"3A7E", 0x3A7E},
        {"6a11\n", 0x6A11},
        {"0000", 0x0000},
        {"ffff", 0xFFFF},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"3a7", std::nullopt},
        {"3a7e0", std::nullopt},
        {"0x3a", std::nullopt},
        {"3a7g", std::nullopt},
        {" 3a7e", std::nullopt},
        {"3a7e ", std::nullopt},
        {"3a7e\n\n", std::nullopt},
        {"-3a7", std::nullopt},
        {"+3a7", std::nullopt},
        {std::string_view("3a\0e", 4), std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseUsbIdAttribute(text), expected) << "'" << text << "'";
    }
}

std::optional<std::uint16_t> ReadIdFile(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::string text;
    std::getline(file, text);
    return file ? ParseUsbIdAttribute(text) : std::nullopt;
}

TEST(UdevUsbDeviceList, ListsTheUsbDevicesSysfsShows) {
    // Every USB device (not interface) has idVendor in its sysfs folder.
    std::map<std::string, std::pair<std::uint16_t, std::uint16_t>> expected;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/usb/devices", error)) {
        const auto vendorId = ReadIdFile(entry.path() / "idVendor");
        const auto productId = ReadIdFile(entry.path() / "idProduct");
        if (vendorId && productId) {
            expected[std::filesystem::canonical(entry.path(), error).string()] = {*vendorId,
                                                                                  *productId};
        }
    }
    CUdevUsbDeviceList list;
    const auto devices = list.ListUsbDevices();
    std::map<std::string, std::pair<std::uint16_t, std::uint16_t>> listed;
    for (const auto& device : devices) {
        listed[device.SystemPath] = {device.VendorId, device.ProductId};
    }
    EXPECT_EQ(listed.size(), devices.size()) << "a device listed twice";
    EXPECT_EQ(listed, expected);
}

}  // namespace
}  // namespace tarvex
