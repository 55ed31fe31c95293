#include "platform/windows/DeviceChangeNotice.h"

#include "platform/DeviceNoticeSource.h"

namespace tarvex {

std::vector<std::uint32_t> NoticesForDeviceChange(std::uint32_t event,
                                                  NoticeInterfaceClass interfaceClass,
                                                  bool bHidNoticesRegistered) {
    if (event == kDeviceNodesChanged) {
        return {kDeviceNodesChanged};
    }
    if (event != kDeviceArrival && event != kDeviceRemoveComplete) {
        return {};
    }
    switch (interfaceClass) {
        case NoticeInterfaceClass::Usb:
            return {kDeviceNodesChanged};
        case NoticeInterfaceClass::Hid:
            if (bHidNoticesRegistered) {
                return {event};
            }
            return {};
        case NoticeInterfaceClass::None:
        case NoticeInterfaceClass::Other:
            return {};
    }
    return {};
}

}  // namespace tarvex
