#pragma once
// The kernel calls behind a report read or write, one virtual each, so that a test can play a
// device that stops taking reports (a write that never completes until it is cancelled, a cancel
// that takes its time, a driver that never lets a read go) without a real device. The base class
// makes the real calls and keeps no state; LastError is read right after the call that failed, on
// the same thread.

#include <windows.h>

namespace tarvex {

class CWinHidCalls {
public:
    virtual ~CWinHidCalls() = default;

    virtual BOOL ReadFile(HANDLE file, void* data, DWORD size, OVERLAPPED* pending);
    virtual BOOL WriteFile(HANDLE file, const void* data, DWORD size, OVERLAPPED* pending);
    virtual DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds);
    virtual BOOL CancelIoEx(HANDLE file, OVERLAPPED* pending);
    virtual BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* pending, DWORD* count, BOOL wait);
    virtual DWORD GetLastError();
};

// The real calls, shared by every connection that is not given others.
CWinHidCalls& RealWinHidCalls();

}  // namespace tarvex
