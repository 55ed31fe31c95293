#include "platform/windows/WinHidCalls.h"

namespace tarvex {

BOOL CWinHidCalls::ReadFile(HANDLE file, void* data, DWORD size, OVERLAPPED* pending) {
    return ::ReadFile(file, data, size, nullptr, pending);
}

BOOL CWinHidCalls::WriteFile(HANDLE file, const void* data, DWORD size, OVERLAPPED* pending) {
    return ::WriteFile(file, data, size, nullptr, pending);
}

DWORD CWinHidCalls::WaitForSingleObject(HANDLE event, DWORD milliseconds) {
    return ::WaitForSingleObject(event, milliseconds);
}

BOOL CWinHidCalls::CancelIoEx(HANDLE file, OVERLAPPED* pending) {
    return ::CancelIoEx(file, pending);
}

BOOL CWinHidCalls::GetOverlappedResult(HANDLE file, OVERLAPPED* pending, DWORD* count, BOOL wait) {
    return ::GetOverlappedResult(file, pending, count, wait);
}

DWORD CWinHidCalls::GetLastError() {
    return ::GetLastError();
}

CWinHidCalls& RealWinHidCalls() {
    static CWinHidCalls calls;
    return calls;
}

}  // namespace tarvex
