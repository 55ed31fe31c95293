// CNoticeSignal on Windows: a manual-reset event, set while the flag is raised.

#include "platform/NoticeSignal.h"

#include <windows.h>

#include <algorithm>
#include <limits>

namespace tarvex {

namespace {
HANDLE EventOf(const std::intptr_t (&native)[2]) {
    return reinterpret_cast<HANDLE>(native[0]);
}
}  // namespace

CNoticeSignal::CNoticeSignal() {
    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event != nullptr) {
        m_Native[0] = reinterpret_cast<std::intptr_t>(event);
    }
}

CNoticeSignal::~CNoticeSignal() {
    if (Valid()) {
        ::CloseHandle(EventOf(m_Native));
    }
}

bool CNoticeSignal::Valid() const {
    return m_Native[0] != -1;
}

void CNoticeSignal::Raise() {
    if (m_bRaised || !Valid()) {
        return;
    }
    m_bRaised = true;
    ::SetEvent(EventOf(m_Native));
}

void CNoticeSignal::Clear() {
    if (!m_bRaised) {
        return;
    }
    m_bRaised = false;
    ::ResetEvent(EventOf(m_Native));
}

NoticeWait CNoticeSignal::Wait(std::chrono::milliseconds timeout) const {
    if (!Valid()) {
        return NoticeWait::Unavailable;
    }
    const auto waitMs = static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(
        timeout.count(), 0, std::numeric_limits<DWORD>::max() - 1));
    switch (::WaitForSingleObject(EventOf(m_Native), waitMs)) {
        case WAIT_OBJECT_0:
            return NoticeWait::Waiting;
        case WAIT_TIMEOUT:
            return NoticeWait::TimedOut;
        default:
            return NoticeWait::Unavailable;
    }
}

int CNoticeSignal::Fd() const {
    return -1;
}

}  // namespace tarvex
