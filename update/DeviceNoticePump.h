#pragma once
// Carries waiting device notices to the engine, on the window's thread: the event loop calls
// it whenever the source's descriptor polls readable.

#include <cstddef>

#include "platform/DeviceNoticeSource.h"
#include "update/UpdateEngine.h"

namespace tarvex {

// Hands every waiting notice to OnDeviceChange, oldest first; returns how many there were.
std::size_t DeliverDeviceNotices(CDeviceNoticeSource& source, CUpdateEngine& engine);

}  // namespace tarvex
