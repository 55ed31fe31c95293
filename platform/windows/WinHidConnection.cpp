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

// The lengths the HID class driver insists on for ReadFile and WriteFile. An interface that is
// not HID (or will not tell) keeps the defaults: room for a report ID and 64 bytes in, the report
// as handed in out. Asked on a handle of its own without FILE_FLAG_OVERLAPPED: the HID library
// waits for its request as for a synchronous one, which an overlapped handle does not promise.
ReportLengths AskReportLengths(const std::wstring& path) {
    ReportLengths lengths;
    const UniqueHandle probe = AdoptHandle(::CreateFileW(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!probe || !::HidD_GetPreparsedData(probe.get(), &preparsed)) {
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

// Windows counts the report ID among the bytes written, wine does not.
bool WholeReportWritten(DWORD count, std::size_t length) {
    return count == length || std::size_t{count} + 1 == length;
}

}  // namespace

struct CWinHidConnection::PendingRead {
    OVERLAPPED Record{};
    UniqueHandle Done;  // manual-reset event of the record
    std::vector<std::uint8_t> Bytes;
};

struct CWinHidConnection::PendingWrite {
    OVERLAPPED Record{};
    UniqueHandle Done;  // manual-reset event of the record
    std::vector<std::uint8_t> Bytes;
};

HidOpenResult CWinHidConnection::Open(const std::wstring& path, CWinHidCalls& calls) {
    UniqueHandle writer =
        AdoptHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!writer) {
        return {nullptr, HidOpenErrorFromWin32(::GetLastError())};
    }
    UniqueHandle reader =
        AdoptHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!reader) {
        return {nullptr, HidOpenErrorFromWin32(::GetLastError())};
    }
    auto read = std::make_unique<PendingRead>();
    read->Done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto write = std::make_unique<PendingWrite>();
    write->Done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!read->Done || !write->Done) {
        return {nullptr, HidOpenError::Other};
    }
    const ReportLengths lengths = AskReportLengths(path);
    read->Bytes.resize(lengths.Input);
    return {std::unique_ptr<CWinHidConnection>(
                new CWinHidConnection(calls, std::move(writer), std::move(reader), std::move(read),
                                      std::move(write), lengths.Output)),
            HidOpenError::None};
}

CWinHidConnection::CWinHidConnection(CWinHidCalls& calls, UniqueHandle writer, UniqueHandle reader,
                                     std::unique_ptr<PendingRead> read,
                                     std::unique_ptr<PendingWrite> write, std::size_t outputLength)
    : m_hRead(std::move(reader)),
      m_pRead(std::move(read)),
      m_InputLength(m_pRead->Bytes.size()),
      m_Calls(calls),
      m_hWrite(std::move(writer)),
      m_pWrite(std::move(write)),
      m_OutputLength(outputLength) {}

CWinHidConnection::~CWinHidConnection() = default;

HidIoStatus CWinHidConnection::ReadInputReport(HidReport& report,
                                               std::chrono::milliseconds timeout) {
    std::lock_guard lock(m_ReadLock);
    if (!m_pRead) {
        return HidIoStatus::Failed;  // an earlier read still holds the system's attention
    }
    PendingRead& read = *m_pRead;
    read.Record = OVERLAPPED{};
    read.Record.hEvent = read.Done.get();
    ::ResetEvent(read.Done.get());
    if (m_Calls.ReadFile(m_hRead.get(), read.Bytes.data(), static_cast<DWORD>(read.Bytes.size()),
                         &read.Record)) {
        return CollectRead(read, report);  // completed at once
    }
    const DWORD error = m_Calls.GetLastError();
    if (error != ERROR_IO_PENDING) {
        return HidIoStatusFromWin32(error);
    }
    const DWORD waited = m_Calls.WaitForSingleObject(read.Done.get(), WaitMilliseconds(timeout));
    if (waited == WAIT_OBJECT_0) {
        return CollectRead(read, report);
    }
    // Timed out, or the wait itself failed: give the read up, and do not leave before the
    // system is done with the buffer and the record, but not for longer than a write's cancel.
    m_Calls.CancelIoEx(m_hRead.get(), &read.Record);
    if (m_Calls.WaitForSingleObject(read.Done.get(), kHidCancelWaitMs) != WAIT_OBJECT_0) {
        // The system may fill the buffer or the record whenever it gets round to it: they are
        // its own from now on.
        static_cast<void>(m_pRead.release());
        return HidIoStatus::Failed;
    }
    const HidIoStatus collected = CollectRead(read, report);
    if (collected == HidIoStatus::Ok) {
        return collected;  // the report came before the cancel took
    }
    if (waited == WAIT_TIMEOUT && m_Calls.GetLastError() == ERROR_OPERATION_ABORTED) {
        return HidIoStatus::TimedOut;
    }
    return waited == WAIT_TIMEOUT ? collected : HidIoStatus::Failed;
}

HidIoStatus CWinHidConnection::CollectRead(PendingRead& finished, HidReport& report) {
    DWORD count = 0;
    if (!m_Calls.GetOverlappedResult(m_hRead.get(), &finished.Record, &count, FALSE)) {
        return HidIoStatusFromWin32(m_Calls.GetLastError());
    }
    if (count == 0) {
        return HidIoStatus::TimedOut;  // an empty read carries no report
    }
    report = FrameInputReport(std::span<const std::uint8_t>(finished.Bytes.data(), count), true);
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

    std::lock_guard lock(m_WriteLock);
    if (!m_pWrite) {
        return HidIoStatus::Failed;  // an earlier write still holds the system's attention
    }
    PendingWrite& write = *m_pWrite;
    write.Bytes.assign(length, 0);
    std::copy_n(report.begin(), std::min(length, report.size()), write.Bytes.begin());
    write.Record = OVERLAPPED{};
    write.Record.hEvent = write.Done.get();
    ::ResetEvent(write.Done.get());

    if (m_Calls.WriteFile(m_hWrite.get(), write.Bytes.data(),
                          static_cast<DWORD>(write.Bytes.size()), &write.Record)) {
        return CollectWrite(write);
    }
    const DWORD error = m_Calls.GetLastError();
    if (error != ERROR_IO_PENDING) {
        return HidIoStatusFromWin32(error);
    }
    if (m_Calls.WaitForSingleObject(write.Done.get(), kHidWriteWaitMs) == WAIT_OBJECT_0) {
        return CollectWrite(write);
    }
    m_Calls.CancelIoEx(m_hWrite.get(), &write.Record);
    if (m_Calls.WaitForSingleObject(write.Done.get(), kHidCancelWaitMs) != WAIT_OBJECT_0) {
        // The system may write the record or read the bytes whenever it gets round to it: they
        // are its own from now on.
        static_cast<void>(m_pWrite.release());
        return HidIoStatus::Failed;
    }
    // The write may have completed just before the cancel took; then the report went out.
    return CollectWrite(write) == HidIoStatus::Ok ? HidIoStatus::Ok : HidIoStatus::Failed;
}

HidIoStatus CWinHidConnection::CollectWrite(PendingWrite& finished) {
    DWORD count = 0;
    if (!m_Calls.GetOverlappedResult(m_hWrite.get(), &finished.Record, &count, FALSE)) {
        return HidIoStatusFromWin32(m_Calls.GetLastError());
    }
    return WholeReportWritten(count, finished.Bytes.size()) ? HidIoStatus::Ok : HidIoStatus::Failed;
}

}  // namespace tarvex
