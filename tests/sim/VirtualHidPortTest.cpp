// The virtual device as the host reaches it: listed and opened through CVirtualHidPort, and a
// whole update carried by CHid and the senders.

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "hid/DeviceIdentity.h"
#include "hid/Hid.h"
#include "hid/ReportSenders.h"
#include "sim/SampleImage.h"
#include "sim/VirtualHidPort.h"
#include "tests/sim/SimTestReports.h"
#include "update/FirmwareImage.h"

namespace tarvex::sim::test {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;

const HidReport kUpdateRequest = OutputReport({5, 0x00, 0x1A, 0x01, 0x00, 0x00});

TEST(VirtualHidPort, ListsTheUpdateDeviceBetweenForeignInterfacesWhileAttached) {
    CVirtualHidPort port;
    const auto device = std::make_shared<CVirtualUpdateDevice>();
    port.AddForeignInterface(0x1234, 0x0001, true);
    port.AddForeignInterface(kTargetVendorId, 0x6A12, false);
    port.AttachUpdateDevice(device);

    const auto listed = port.ListHidInterfaces();
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].VendorId, 0x1234);
    EXPECT_EQ(listed[1].Path, kVirtualUpdateDevicePath);
    EXPECT_TRUE(ClassifyHidDevice(listed[1].VendorId, listed[1].ProductId));
    EXPECT_EQ(listed[2].ProductId, 0x6A12);
    EXPECT_NE(listed[0].Path, listed[2].Path);

    device->Unplug();
    const auto withoutDevice = port.ListHidInterfaces();
    ASSERT_EQ(withoutDevice.size(), 2u);
    EXPECT_EQ(withoutDevice[0].Path, listed[0].Path);
    EXPECT_EQ(withoutDevice[1].Path, listed[2].Path);
}

TEST(VirtualHidPort, OpensOnlyWhatIsThere) {
    CVirtualHidPort port;
    const auto device = std::make_shared<CVirtualUpdateDevice>();
    port.AddForeignInterface(0x1234, 0x0001);
    port.AttachUpdateDevice(device);

    auto foreign = port.OpenHidInterface(port.ListHidInterfaces()[0].Path);
    ASSERT_NE(foreign.Connection, nullptr);
    HidReport report{};
    EXPECT_EQ(foreign.Connection->WriteOutputReport(kUpdateRequest), HidIoStatus::Ok);
    EXPECT_EQ(foreign.Connection->ReadInputReport(report, milliseconds(1)), HidIoStatus::TimedOut);
    EXPECT_EQ(device->UpdateRequestCount(), 0u);

    EXPECT_EQ(port.OpenHidInterface("virtual:nowhere").Error, HidOpenError::NotFound);

    port.SetOpenError(HidOpenError::PermissionDenied);
    const auto refused = port.OpenHidInterface(kVirtualUpdateDevicePath);
    EXPECT_EQ(refused.Connection, nullptr);
    EXPECT_EQ(refused.Error, HidOpenError::PermissionDenied);
    port.SetOpenError(HidOpenError::None);
    EXPECT_NE(port.OpenHidInterface(kVirtualUpdateDevicePath).Connection, nullptr);

    device->Unplug();
    const auto unplugged = port.OpenHidInterface(kVirtualUpdateDevicePath);
    EXPECT_EQ(unplugged.Connection, nullptr);
    EXPECT_EQ(unplugged.Error, HidOpenError::NotFound);
}

TEST(VirtualHidPort, ConnectionsDieWithTheirSession) {
    CVirtualHidPort port;
    const auto device = std::make_shared<CVirtualUpdateDevice>();
    port.AttachUpdateDevice(device);
    auto old = port.OpenHidInterface(kVirtualUpdateDevicePath).Connection;
    ASSERT_NE(old, nullptr);
    device->SetReplyLatency(hours(1));
    ASSERT_EQ(old->WriteOutputReport(kUpdateRequest), HidIoStatus::Ok);

    std::promise<void> readerStarted;
    const auto started = readerStarted.get_future();
    HidIoStatus readStatus = HidIoStatus::Ok;
    std::thread reader([&] {
        HidReport report{};
        readerStarted.set_value();
        readStatus = old->ReadInputReport(report, kGenerousTimeout);
    });
    started.wait();
    // A replug without an unplug in between: the device stays attached, the old handle does not.
    device->Plug();
    reader.join();
    EXPECT_EQ(readStatus, HidIoStatus::DeviceGone);
    EXPECT_EQ(old->WriteOutputReport(kUpdateRequest), HidIoStatus::DeviceGone);

    auto fresh = port.OpenHidInterface(kVirtualUpdateDevicePath).Connection;
    ASSERT_NE(fresh, nullptr);
    HidReport report{};
    EXPECT_EQ(fresh->ReadInputReport(report, milliseconds(0)), HidIoStatus::TimedOut)
        << "a reply of the old session reached the new one";
    device->SetReplyLatency(milliseconds(0));
    ASSERT_EQ(fresh->WriteOutputReport(kUpdateRequest), HidIoStatus::Ok);
    ASSERT_EQ(fresh->ReadInputReport(report, kGenerousTimeout), HidIoStatus::Ok);
    EXPECT_EQ(report, kUpdateReady);
}

// The host's own encoders and CHid against the device: the payload that arrives is the file's.
TEST(VirtualHidPort, CarriesAWholeUpdateFromTheHostSide) {
    CVirtualHidPort port;
    CVirtualUsbDeviceList usbDevices;
    const auto device = std::make_shared<CVirtualUpdateDevice>();
    port.AddForeignInterface(0x1234, 0x0001);
    port.AttachUpdateDevice(device);
    CHid hid(port, usbDevices);
    ASSERT_TRUE(hid.DetectDevice());
    ASSERT_TRUE(hid.OpenDevice());

    // 100 payload bytes followed by 40 more: the last chunk carries 28 bytes past the payload.
    const SampleImageSpec spec{.LeadSize = 3, .PayloadLength = 100, .TrailingBytes = 40};
    const auto image = BuildSampleImage(spec);
    const std::size_t headerOffset = kLeadSectionBase + spec.LeadSize;
    const std::span<const std::uint8_t, kImageHeaderSize> header(image.data() + headerOffset,
                                                                 kImageHeaderSize);

    std::array<std::uint8_t, kHidReportSize> reply{};
    const auto nextOpcode = [&] {
        const HidIoStatus status = hid.ReadReport(reply);
        return status == HidIoStatus::Ok ? reply[kReportOpcode - 1] : std::uint8_t{0};
    };
    ASSERT_EQ(SendRequest(hid, kRequestUpdate, 0), HidIoStatus::Ok);
    ASSERT_EQ(nextOpcode(), kReplyUpdateReady);
    ASSERT_EQ(SendImageHeader(hid, kSendModeReport, header), HidIoStatus::Ok);
    ASSERT_EQ(nextOpcode(), kReplyCommand);
    for (std::size_t sent = 0; sent < spec.PayloadLength; sent += kChunkSize) {
        const auto chunk =
            std::span(image).subspan(headerOffset + kImageHeaderSize + sent, kChunkSize);
        ASSERT_EQ(SendDataPacket(hid, kSendModeReport, chunk), HidIoStatus::Ok);
        ASSERT_EQ(nextOpcode(), kReplyCommand);
        EXPECT_EQ(reply[kReportReplyCode - 1], kReplyCodeAck);
    }
    ASSERT_EQ(SendCommand(hid, kSendModeReport, kCommandFinish), HidIoStatus::Ok);

    EXPECT_EQ(device->ReceivedPayload(), SamplePayload(spec));
    EXPECT_EQ(device->ReceivedDataBytes().size(), 128u);
    EXPECT_EQ(device->ReceivedImageHeader(),
              std::vector<std::uint8_t>(header.begin(), header.end()));
    EXPECT_EQ(device->DataPacketCount(), 4u);
    EXPECT_EQ(device->FinishCount(), 1u);
}

TEST(VirtualUsbDeviceList, RemovesOnlyTheNamedDevice) {
    CVirtualUsbDeviceList devices;
    devices.AddDevice(kTargetVendorId, 0x6A01);
    devices.AddDevice(kTargetVendorId, 0x6A02);
    devices.RemoveDevice(kTargetVendorId, 0x6A01);
    const auto listed = devices.ListUsbDevices();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].ProductId, 0x6A02);
    EXPECT_EQ(listed[0].SystemPath, "virtual:usb-3a7e:6a02");
}

}  // namespace
}  // namespace tarvex::sim::test
