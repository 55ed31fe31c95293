#pragma once
// The narrow view of the operating system's HID stack that the update engine needs:
// list the HID interfaces, open one by path, read and write whole reports.
// A backend (hidapi on Linux, the virtual device in sim/) implements it; nothing above
// hid/ ever sees a backend type.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tarvex {

inline constexpr std::size_t kHidReportSize = 64;
using HidReport = std::array<std::uint8_t, kHidReportSize>;

// Outcome of one report read or write. The numbers follow the wait codes the tool has always
// used for a read (0 report, 128 no handle, 258 time-out); DeviceGone is what lets a run end
// when the device is unplugged instead of polling a dead handle forever.
enum class HidIoStatus : std::uint32_t {
    Ok = 0,
    NoHandle = 128,
    TimedOut = 258,
    DeviceGone = 1167,
    Failed = 0xFFFFFFFF,
};

const char* ToString(HidIoStatus status);

struct HidInterfaceInfo {
    std::string Path;
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    // The device's serial number (UTF-8) as it reports it; empty when it reports none.
    std::string SerialNumber;
};

// Why an interface could not be opened. PermissionDenied is told apart because on Linux it is
// the usual reason an attached device cannot be used, and the user can fix it.
enum class HidOpenError { None, NotFound, PermissionDenied, Busy, Other };

// One open HID interface. Reads and writes may come from different threads at the same time;
// a backend must allow one reader and one writer concurrently.
class CHidConnection {
public:
    virtual ~CHidConnection() = default;

    // Waits at most `timeout` for one input report. On Ok, `report` holds it with the report
    // ID in byte 0 and zeros after the bytes the device sent.
    virtual HidIoStatus ReadInputReport(HidReport& report, std::chrono::milliseconds timeout) = 0;

    // Writes one output report; byte 0 is the report ID.
    virtual HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) = 0;
};

struct HidOpenResult {
    std::unique_ptr<CHidConnection> Connection;
    HidOpenError Error = HidOpenError::None;
};

class CHidPort {
public:
    virtual ~CHidPort() = default;

    // The HID interfaces present now, in the order the system lists them.
    virtual std::vector<HidInterfaceInfo> ListHidInterfaces() = 0;

    virtual HidOpenResult OpenHidInterface(const std::string& path) = 0;
};

}  // namespace tarvex
