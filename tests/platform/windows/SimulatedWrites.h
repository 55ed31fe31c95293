#pragma once
// A simulated HID device behind the kernel calls of a report write (CWinHidCalls): one that
// takes reports, one that never does, one whose cancel is late or never takes. The calls of a
// read (another record, another event) go to the system.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/windows/WinHidCalls.h"

namespace tarvex {

// A device behind simulated write calls. Time is simulated too, unless told otherwise: a wait
// for a write that has not completed returns at once as timed out, as if the whole time had
// passed; in real time it waits as long as it was asked to. What the connection asked is kept,
// in order, for the test to read.
class CSimulatedWrites final : public CWinHidCalls {
public:
    static constexpr DWORD kLongestRealWait = 3000;

    enum class Device {
        Takes,             // completes every write at once with TakenCount bytes
        NeverTakes,        // a write stays pending until cancelled
        TakesAsCancelled,  // the report goes out just before the cancel takes
        CancelIsLate,      // the cancel takes only during the next wait
        IgnoresCancel,     // neither the write nor its cancel ever completes
    };

    explicit CSimulatedWrites(Device device, DWORD takenCount = 64, bool realTime = false)
        : m_Device(device), m_TakenCount(takenCount), m_bRealTime(realTime) {}

    BOOL ReadFile(HANDLE file, void* data, DWORD size, OVERLAPPED* pending) override {
        return Forwarded(::ReadFile(file, data, size, nullptr, pending));
    }
    BOOL WriteFile(HANDLE, const void* data, DWORD size, OVERLAPPED* pending) override {
        std::lock_guard lock(m_Lock);
        m_Steps.push_back("write");
        m_Written.assign(static_cast<const std::uint8_t*>(data),
                         static_cast<const std::uint8_t*>(data) + size);
        m_pData = static_cast<const std::uint8_t*>(data);
        m_pPending = pending;
        m_bOverlapped = pending != nullptr;
        m_bDone = false;
        ++m_WriteCount;
        m_WriteStarted.notify_all();
        if (m_Device == Device::Takes) {
            Complete(ERROR_SUCCESS, m_TakenCount);
            return TRUE;
        }
        t_LastError = ERROR_IO_PENDING;
        return FALSE;
    }
    DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds) override {
        std::unique_lock lock(m_Lock);
        if (!IsOfTheWrite(event)) {
            lock.unlock();
            return Forwarded(::WaitForSingleObject(event, milliseconds));
        }
        if (m_bRealTime && !m_bDone) {
            // Nothing completes a write on its own here; only the time passes. A wait without
            // a bound is recorded as such but cut short, so that a test fails instead of hanging.
            m_TimePasses.wait_for(
                lock, std::chrono::milliseconds(std::min<DWORD>(milliseconds, kLongestRealWait)));
        }
        m_Steps.push_back("wait");
        m_Waits.push_back(milliseconds);
        if (m_bCancelAsked && !m_bDone && m_Device == Device::CancelIsLate) {
            Complete(ERROR_OPERATION_ABORTED, 0);
        }
        const bool signalled = m_pPending != nullptr && event == m_pPending->hEvent && m_bDone;
        return signalled ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    BOOL CancelIoEx(HANDLE file, OVERLAPPED* pending) override {
        std::unique_lock lock(m_Lock);
        if (!IsOfTheWrite(pending->hEvent)) {
            lock.unlock();
            return Forwarded(::CancelIoEx(file, pending));
        }
        m_Steps.push_back("cancel");
        m_bCancelOfPending = pending == m_pPending;
        m_bCancelAsked = true;
        if (m_Device == Device::NeverTakes) {
            Complete(ERROR_OPERATION_ABORTED, 0);
        } else if (m_Device == Device::TakesAsCancelled) {
            Complete(ERROR_SUCCESS, m_TakenCount);
        }
        return TRUE;
    }
    BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* pending, DWORD* count, BOOL wait) override {
        std::unique_lock lock(m_Lock);
        if (!IsOfTheWrite(pending->hEvent)) {
            lock.unlock();
            return Forwarded(::GetOverlappedResult(file, pending, count, wait));
        }
        m_Steps.push_back("result");
        if (pending != m_pPending || !m_bDone) {
            t_LastError = ERROR_IO_INCOMPLETE;
            return FALSE;
        }
        // The bytes must still be the report's while the system had them.
        m_bBytesIntactAtEnd = std::equal(m_Written.begin(), m_Written.end(), m_pData);
        *count = m_Count;
        t_LastError = m_Result;
        return m_Result == ERROR_SUCCESS;
    }
    // Per thread, as the system keeps it: a read's error on one thread is not a write's on
    // another.
    DWORD GetLastError() override { return t_LastError; }

    std::vector<std::string> Steps() const {
        std::lock_guard lock(m_Lock);
        return m_Steps;
    }
    std::vector<DWORD> Waits() const {
        std::lock_guard lock(m_Lock);
        return m_Waits;
    }
    std::vector<std::uint8_t> Written() const {
        std::lock_guard lock(m_Lock);
        return m_Written;
    }
    // Waits until the connection has started `count` writes in all; false if it did not within
    // `bound`.
    bool WaitForWrites(std::size_t count, std::chrono::milliseconds bound) {
        std::unique_lock lock(m_Lock);
        return m_WriteStarted.wait_for(lock, bound, [&] { return m_WriteCount >= count; });
    }
    std::size_t WriteCount() const {
        std::lock_guard lock(m_Lock);
        return m_WriteCount;
    }
    bool Overlapped() const {
        std::lock_guard lock(m_Lock);
        return m_bOverlapped;
    }
    bool CancelledThePendingWrite() const {
        std::lock_guard lock(m_Lock);
        return m_bCancelOfPending;
    }
    bool BytesIntactAtEnd() const {
        std::lock_guard lock(m_Lock);
        return m_bBytesIntactAtEnd;
    }

private:
    // Whether `event` is the one of the write's record; a read's is never handed to WriteFile.
    bool IsOfTheWrite(HANDLE event) const {
        return m_pPending != nullptr && event == m_pPending->hEvent;
    }
    template <typename Result>
    Result Forwarded(Result result) {
        t_LastError = ::GetLastError();
        return result;
    }
    void Complete(DWORD result, DWORD count) {
        m_bDone = true;
        m_Result = result;
        m_Count = count;
    }

    const Device m_Device;
    const DWORD m_TakenCount;
    const bool m_bRealTime;
    mutable std::mutex m_Lock;
    std::condition_variable m_WriteStarted;
    std::condition_variable m_TimePasses;  // never notified: a wait in real time lasts its time
    std::size_t m_WriteCount = 0;
    std::vector<std::string> m_Steps;
    std::vector<DWORD> m_Waits;
    std::vector<std::uint8_t> m_Written;
    const std::uint8_t* m_pData = nullptr;
    OVERLAPPED* m_pPending = nullptr;
    bool m_bOverlapped = false;
    bool m_bDone = false;
    bool m_bCancelAsked = false;
    bool m_bCancelOfPending = false;
    bool m_bBytesIntactAtEnd = false;
    DWORD m_Result = ERROR_SUCCESS;
    DWORD m_Count = 0;
    inline static thread_local DWORD t_LastError = ERROR_SUCCESS;
};

}  // namespace tarvex
