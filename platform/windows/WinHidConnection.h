#pragma once
// One open HID interface on Windows: a handle for writing (blocking WriteFile) and an overlapped
// handle for reading, as the tool has always opened the device.
//
// A read starts an overlapped ReadFile and waits for its event at most the time-out. When the
// time runs out the read is cancelled, and the call then waits for the cancelled read to finish
// (GetOverlappedResult) before it returns: the system must not write into the read buffer or
// the OVERLAPPED record after the call has moved on. A read that completes while being
// cancelled delivers its report; the report was sent, and dropping it would lose a reply.
//
// Windows hands every input report over with its report ID in front (0 for a device that does
// not number its reports), so a read is always framed as numbered. Report lengths come from the
// interface's capabilities (HidP_GetCaps) when it tells them.
//
// Threads: one reader and one writer at a time; further readers (or writers) wait for the one
// before them. No read is pending once a call has returned, so the object may be destroyed
// whenever no call is running.

#include <windows.h>

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/HidPort.h"
#include "platform/windows/WinHandles.h"

namespace tarvex {

class CWinHidConnection final : public CHidConnection {
public:
    // Opens `path` for writing and for overlapped reading (CreateFileW, sharing read and write).
    static HidOpenResult Open(const std::wstring& path);

    HidIoStatus ReadInputReport(HidReport& report, std::chrono::milliseconds timeout) override;
    HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) override;

    std::size_t InputReportLength() const { return m_ReadBuffer.size(); }
    std::size_t OutputReportLength() const { return m_OutputLength; }

private:
    CWinHidConnection(UniqueHandle writer, UniqueHandle reader, UniqueHandle readDone,
                      std::size_t inputLength, std::size_t outputLength);

    // Waits for the read started with `pending` and collects it; cancels it when `timeout`
    // passes first.
    HidIoStatus FinishRead(OVERLAPPED& pending, HidReport& report, DWORD timeoutMs);
    HidIoStatus CollectRead(OVERLAPPED& finished, HidReport& report);

    std::mutex m_ReadLock;
    UniqueHandle m_hRead;
    UniqueHandle m_hReadDone;  // manual-reset event of the overlapped reads
    std::vector<std::uint8_t> m_ReadBuffer;

    std::mutex m_WriteLock;
    UniqueHandle m_hWrite;
    std::size_t m_OutputLength;  // 0: as long as the report handed in
};

}  // namespace tarvex
