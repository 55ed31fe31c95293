#include "update/DeviceNoticePump.h"

namespace tarvex {

std::size_t DeliverDeviceNotices(CDeviceNoticeSource& source, CUpdateEngine& engine) {
    const auto notices = source.TakeNotices();
    for (const std::uint32_t eventType : notices) {
        engine.OnDeviceChange(eventType);
    }
    return notices.size();
}

}  // namespace tarvex
