#pragma once
// Which device a run is working on, for its record: the drive-mode device while one is present,
// else the HID update device the last detection chose.

#include <optional>

#include "hid/Hid.h"
#include "history/RunRecord.h"
#include "platform/HidPort.h"
#include "platform/UsbDeviceList.h"

namespace tarvex {

// Lists the devices (no device I/O). Empty when neither kind is attached; an HID device that
// has left the list keeps its node and the ids it must have had.
std::optional<DeviceRecord> DescribeRunDevice(const CHid& hid, CHidPort& hidPort,
                                              CUsbDeviceList& usbDevices);

}  // namespace tarvex
