#pragma once
// Device-change notices raised by a test or the demo, in the order and under the registration
// rule the real monitor follows: plugging an HID device changes the device tree first and
// then, once CHid has registered, announces the interface; unplugging removes the interface
// first and then changes the tree. Waiting notices raise a notice signal, so that an event loop
// can poll for them (or a thread wait for them) exactly as for the real ones.
//
// Threads: every member may be called from any thread.

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/DeviceNoticeSource.h"
#include "platform/NoticeSignal.h"

namespace tarvex::sim {

class CVirtualDeviceNotices final : public CDeviceNoticeSource {
public:
    CVirtualDeviceNotices() = default;
    CVirtualDeviceNotices(const CVirtualDeviceNotices&) = delete;
    CVirtualDeviceNotices& operator=(const CVirtualDeviceNotices&) = delete;

    // --- what happened to the devices ---
    void HidDevicePlugged();
    void HidDeviceUnplugged();
    // A USB device that is not an HID interface (a drive-mode device) came or went.
    void UsbDeviceChanged();
    // Any event type as it would reach the window, for the ones the system sends besides.
    void Raise(std::uint32_t eventType);

    // --- the registration ---
    // Makes RegisterHidNotices fail, as a system that refuses the registration would.
    void RefuseRegistration(bool refuse);
    std::size_t RegistrationAttempts() const;
    bool HidNoticesRegistered() const;

    int NoticeFd() const override;
    NoticeWait WaitForNotices(std::chrono::milliseconds timeout) override;
    std::vector<std::uint32_t> TakeNotices() override;
    bool RegisterHidNotices() override;
    void UnregisterHidNotices() override;

private:
    void QueueLocked(std::uint32_t eventType);

    mutable std::mutex m_Lock;
    std::vector<std::uint32_t> m_Pending;
    bool m_bRegistered = false;
    bool m_bRefuseRegistration = false;
    std::size_t m_RegistrationAttempts = 0;
    // Raised exactly while m_Pending holds something.
    CNoticeSignal m_Signal;
};

}  // namespace tarvex::sim
