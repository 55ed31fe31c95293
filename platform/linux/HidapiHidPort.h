#pragma once
// The HID interfaces of this machine through hidapi's hidraw backend (Debian's
// libhidapi-hidraw): every hidraw node whose HID device sits on USB or Bluetooth.
//
// Threads: any; calls that touch hidapi's global state are serialised inside.

#include <string>
#include <vector>

#include "platform/HidPort.h"

namespace tarvex {

// hidapi lists an interface once for each top-level collection of its report descriptor. The
// tool looks at interfaces, so each path is kept once, where it was first listed; entries
// without a path (no device node) are dropped.
std::vector<HidInterfaceInfo> KeepFirstOfEachPath(std::vector<HidInterfaceInfo> interfaces);

// hidapi's wide strings (wchar_t, UTF-32 on Linux) as UTF-8; empty for null. A value that is no
// Unicode character becomes U+FFFD.
std::string HidapiTextToUtf8(const wchar_t* text);

class CHidapiHidPort final : public CHidPort {
public:
    CHidapiHidPort();

    // In the order hidapi lists them (udev's order of the hidraw nodes).
    std::vector<HidInterfaceInfo> ListHidInterfaces() override;
    HidOpenResult OpenHidInterface(const std::string& path) override;

private:
    bool m_bLibraryReady = false;
};

}  // namespace tarvex
