#pragma once
// One open HID interface on Windows: an overlapped handle for writing and one for reading.
//
// A write waits at most kHidWriteWaitMs for the report to be taken. A device that stops taking
// reports would otherwise hold the writing thread for ever, and with it the run, its silence
// limit and the program's end on Ctrl-C. A write that does not complete in time is cancelled
// (CancelIoEx) and counts as failed; the call returns only once the cancel has taken, because
// until then the system may still read the report's bytes. A cancel that never takes (a driver
// that ignores it) leaves those bytes and the record to the system for good, and every later
// write on the connection fails at once.
//
// A write that the system completes has written the whole report. The count it gives is not
// the same everywhere (Windows counts the report ID, wine does not), so either is accepted.
//
// A read starts an overlapped ReadFile and waits for its event at most the time-out. When the
// time runs out the read is cancelled, and the call then waits for the cancelled read to finish
// before it returns, at most kHidCancelWaitMs: the system must not write into the read buffer
// or the OVERLAPPED record after the call has moved on. A read that completes while being
// cancelled delivers its report; the report was sent, and dropping it would lose a reply. A
// cancel that never takes fails the read and leaves its buffer and record to the system for
// good, and every later read on the connection fails at once, as for writes.
//
// Windows hands every input report over with its report ID in front (0 for a device that does
// not number its reports), so a read is always framed as numbered. Report lengths come from the
// interface's capabilities (HidP_GetCaps) when it tells them.
//
// Threads: one reader and one writer at a time; further readers (or writers) wait for the one
// before them. No read or write is pending once a call has returned (but for one whose cancel
// never took, whose buffers are never freed), so the object may be destroyed whenever no call is
// running.

#include <windows.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/HidPort.h"
#include "platform/windows/WinHandles.h"
#include "platform/windows/WinHidCalls.h"

namespace tarvex {

// How long a report write may take before it is given up, and how long the cancel of one may
// take before its buffer is left to the system.
inline constexpr DWORD kHidWriteWaitMs = 1000;
inline constexpr DWORD kHidCancelWaitMs = 1000;

class CWinHidConnection final : public CHidConnection {
public:
    // Opens `path` twice, for writing and for reading, both overlapped (CreateFileW, sharing
    // read and write). `calls` makes the reads' and writes' kernel calls.
    static HidOpenResult Open(const std::wstring& path, CWinHidCalls& calls = RealWinHidCalls());
    ~CWinHidConnection() override;

    HidIoStatus ReadInputReport(HidReport& report, std::chrono::milliseconds timeout) override;
    HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) override;

    std::size_t InputReportLength() const { return m_InputLength; }
    std::size_t OutputReportLength() const { return m_OutputLength; }

private:
    struct PendingRead;
    struct PendingWrite;

    CWinHidConnection(CWinHidCalls& calls, UniqueHandle writer, UniqueHandle reader,
                      std::unique_ptr<PendingRead> read, std::unique_ptr<PendingWrite> write,
                      std::size_t outputLength);

    HidIoStatus CollectRead(PendingRead& finished, HidReport& report);
    HidIoStatus CollectWrite(PendingWrite& finished);

    std::mutex m_ReadLock;
    UniqueHandle m_hRead;
    // The record, event and buffer of the read in progress; null once a cancel never took.
    std::unique_ptr<PendingRead> m_pRead;
    std::size_t m_InputLength;

    CWinHidCalls& m_Calls;
    std::mutex m_WriteLock;
    UniqueHandle m_hWrite;
    // The record, event and bytes of the write in progress; null once a cancel never took.
    std::unique_ptr<PendingWrite> m_pWrite;
    std::size_t m_OutputLength;  // 0: as long as the report handed in
};

}  // namespace tarvex
