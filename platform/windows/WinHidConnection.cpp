#include "platform/windows/WinHidConnection.h"

// The HID library's headers in mingw-w64 lack C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/HidReportFraming.h"
#include "platform/windows/WinErrors.h"

namespace tarvex {

namespace {

struct ReportLengths {
    std::size_t Input = kHidReadBufferSize;
    std::size_t Output = 0;
};

// The lengths the HID class driver insists on for ReadFile and WriteFile. A handle that is not
// an HID interface (or will not tell) keeps the defaults: room for a report ID and 64 bytes in,
// the report as handed in out.
ReportLengths AskReportLengths(HANDLE interfaceHandle) {
    ReportLengths lengths;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!::HidD_GetPreparsedData(interfaceHandle, &preparsed)) {
        return lengths;
    }
    HIDP_CAPS caps{};
    if (::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
        lengths.Input = std::max<std::size_t>(caps.InputReportByteLength, kHidReadBufferSize);
        lengths.Output = caps.OutputReportByteLength;
    }
    ::HidD_FreePreparsedData(preparsed);
    return lengths;
}

DWORD WaitMilliseconds(std::chrono::milliseconds timeout) {
    // INFINITE is all bits set; a time-out never becomes it.
    return static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(
        timeout.count(), 0, std::numeric_limits<DWORD>::max() - 1));
}

}  // namespace

HidOpenResult CWinHidConnection::Open(const std::wstring& path) {
    UniqueHandle writer =
        AdoptHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!writer) {
        return {nullptr, HidOpenErrorFromWin32(::GetLastError())};
    }
    UniqueHandle reader =
        AdoptHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!reader) {
        return {nullptr, HidOpenErrorFromWin32(::GetLastError())};
    }
    UniqueHandle readDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!readDone) {
        return {nullptr, HidOpenError::Other};
    }
    const ReportLengths lengths = AskReportLengths(reader.get());
    return {std::unique_ptr<CWinHidConnection>(
                new CWinHidConnection(std::move(writer), std::move(reader), std::move(readDone),
                                      lengths.Input, lengths.Output)),
            HidOpenError::None};
}

CWinHidConnection::CWinHidConnection(UniqueHandle writer, UniqueHandle reader,
                                     UniqueHandle readDone, std::size_t inputLength,
                                     std::size_t outputLength)
    : m_hRead(std::move(reader)),
      m_hReadDone(std::move(readDone)),
      m_ReadBuffer(inputLength),
      m_hWrite(std::move(writer)),
      m_OutputLength(outputLength) {}

HidIoStatus CWinHidConnection::ReadInputReport(HidReport& report,
                                               std::chrono::milliseconds timeout) {
    std::lock_guard lock(m_ReadLock);
    OVERLAPPED pending{};
    pending.hEvent = m_hReadDone.get();
    ::ResetEvent(pending.hEvent);
    if (!::ReadFile(m_hRead.get(), m_ReadBuffer.data(), static_cast<DWORD>(m_ReadBuffer.size()),
                    nullptr, &pending)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            return HidIoStatusFromWin32(error);
        }
        return FinishRead(pending, report, WaitMilliseconds(timeout));
    }
    return CollectRead(pending, report);  // completed at once
}

HidIoStatus CWinHidConnection::FinishRead(OVERLAPPED& pending, HidReport& report, DWORD timeoutMs) {
    const DWORD waited = ::WaitForSingleObject(pending.hEvent, timeoutMs);
    if (waited == WAIT_OBJECT_0) {
        return CollectRead(pending, report);
    }
    // Timed out, or the wait itself failed: give the read up, and do not leave before the
    // system is done with the buffer and the record.
    ::CancelIo(m_hRead.get());
    DWORD count = 0;
    if (::GetOverlappedResult(m_hRead.get(), &pending, &count, TRUE)) {
        return CollectRead(pending, report);  // the report came before the cancel took
    }
    if (waited == WAIT_TIMEOUT && ::GetLastError() == ERROR_OPERATION_ABORTED) {
        return HidIoStatus::TimedOut;
    }
    return waited == WAIT_TIMEOUT ? HidIoStatusFromWin32(::GetLastError()) : HidIoStatus::Failed;
}

HidIoStatus CWinHidConnection::CollectRead(OVERLAPPED& finished, HidReport& report) {
    DWORD count = 0;
    if (!::GetOverlappedResult(m_hRead.get(), &finished, &count, FALSE)) {
        return HidIoStatusFromWin32(::GetLastError());
    }
    if (count == 0) {
        return HidIoStatus::TimedOut;  // an empty read carries no report
    }
    report = FrameInputReport(std::span<const std::uint8_t>(m_ReadBuffer.data(), count), true);
    return HidIoStatus::Ok;
}

HidIoStatus CWinHidConnection::WriteOutputReport(std::span<const std::uint8_t> report) {
    if (CheckOutputReport(report) != HidIoStatus::Ok) {
        return HidIoStatus::Failed;
    }
    const std::size_t length = m_OutputLength != 0 ? m_OutputLength : report.size();
    const auto beyond = report.subspan(std::min(length, report.size()));
    if (std::any_of(beyond.begin(), beyond.end(), [](std::uint8_t b) { return b != 0; })) {
        return HidIoStatus::Failed;  // the interface's reports are too short for these bytes
    }
    std::vector<std::uint8_t> outgoing(length, 0);
    std::copy_n(report.begin(), std::min(length, report.size()), outgoing.begin());

    std::lock_guard lock(m_WriteLock);
    DWORD written = 0;
    if (!::WriteFile(m_hWrite.get(), outgoing.data(), static_cast<DWORD>(outgoing.size()), &written,
                     nullptr)) {
        return HidIoStatusFromWin32(::GetLastError());
    }
    return written == outgoing.size() ? HidIoStatus::Ok : HidIoStatus::Failed;
}

}  // namespace tarvex
