#pragma once
// Command line of tarvex-virtual-device, the virtual update device served to the kernel.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hid/DeviceIdentity.h"
#include "hid/ReportLayout.h"
#include "sim/VirtualUpdateDevice.h"

namespace tarvex::sim {

enum class DeviceTransport {
    Uhid,    // /dev/uhid: a HID device without a USB bus
    Gadget,  // a configfs USB gadget with a HID function (/dev/hidgN)
    Drive,   // a configfs USB gadget with a mass-storage function (drive mode)
};

struct FaultAtPacket {
    std::size_t PacketNumber = 0;
    PacketFault Fault = PacketFault::Silence;
    std::uint8_t FailureCode = kReplyCodeFailure;
};

struct VirtualDeviceOptions {
    bool Help = false;
    DeviceTransport Transport = DeviceTransport::Uhid;
    std::string Controller;  // USB device controller for the gadgets; empty: the first free one
    std::uint16_t VendorId = kTargetVendorId;
    std::uint16_t ProductId = kUpdateDeviceProductId;  // 0x6A01 for a drive unless given
    std::string Serial;                                // empty: one made from the process ID
    std::uint32_t FirmwareVersion = kVirtualFirmwareVersion;
    std::chrono::milliseconds ReplyLatency{0};
    bool Silent = false;
    std::vector<FaultAtPacket> Faults;
    std::filesystem::path DriveImage;  // the mass-storage function's backing file
    std::filesystem::path ReadyFile;   // gets the host's node once the device is up
    std::filesystem::path PayloadOut;  // gets the assembled payload at exit
    std::filesystem::path SummaryOut;  // gets the device's counters at exit
    std::chrono::seconds Lifetime{600};
};

struct VirtualDeviceParseResult {
    std::optional<VirtualDeviceOptions> Options;
    std::string Error;  // names the problem when Options is empty
};

VirtualDeviceParseResult ParseVirtualDeviceArguments(std::span<const std::string_view> arguments);
std::string VirtualDeviceUsage();
// The help lines of the options that shape the device's behaviour (version, latency, faults),
// shared by every program that takes them.
std::string VirtualDeviceBehaviourUsage();

}  // namespace tarvex::sim
