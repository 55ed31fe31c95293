#pragma once
// The HID interfaces of a Windows machine through SetupAPI and the HID library: every present
// interface of the HID interface class (HidD_GetHidGuid), with vendor and product ID read from
// the opened interface (HidD_GetAttributes), never from its path.
//
// Paths are the system's wide device interface paths, carried in HidInterfaceInfo::Path as
// UTF-8 (see Utf16Text.h) and opened under exactly the same wide name.
//
// Threads: any; each call asks the system anew and keeps nothing.

#include <string>
#include <vector>

#include "platform/HidPort.h"

namespace tarvex {

class CWinHidPort final : public CHidPort {
public:
    // In the order SetupAPI lists them. An interface whose detail record or attributes cannot
    // be read (gone since the listing, or refusing even an attribute query) is left out.
    std::vector<HidInterfaceInfo> ListHidInterfaces() override;
    HidOpenResult OpenHidInterface(const std::string& path) override;
};

}  // namespace tarvex
