#include "platform/windows/WinRunGuards.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "platform/windows/Utf16Text.h"
#include "platform/windows/WinErrors.h"
#include "platform/windows/WinHandles.h"

namespace tarvex {

namespace {

class CPowerRequestBlock final : public CSleepBlock {
public:
    explicit CPowerRequestBlock(UniqueHandle request) : m_Request(std::move(request)) {}
    ~CPowerRequestBlock() override {
        ::PowerClearRequest(m_Request.get(), PowerRequestSystemRequired);
    }
    CPowerRequestBlock(const CPowerRequestBlock&) = delete;
    CPowerRequestBlock& operator=(const CPowerRequestBlock&) = delete;

private:
    UniqueHandle m_Request;
};

}  // namespace

std::wstring DeviceLockObjectName(std::string_view devicePath) {
    // FNV-1a over the path with ASCII letters folded: an object name may not hold a backslash,
    // and a device path is full of them.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : devicePath) {
        const auto byte = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        hash = (hash ^ byte) * 0x100000001b3ULL;
    }
    wchar_t name[64];
    std::swprintf(name, sizeof name / sizeof name[0], L"Global\\tarvex-update-device-%016llx",
                  static_cast<unsigned long long>(hash));
    return name;
}

DeviceLockResult CWinDeviceLocks::TryLock(const std::string& device) {
    // Only the system's own names (an interface path, a USB instance ID: both hold backslashes)
    // name a device that another program can reach; any other (a virtual device's) is this
    // program's alone.
    if (device.find('\\') == std::string::npos) {
        return {nullptr, DeviceLockError::Unavailable, device + ": not a device path"};
    }
    const std::wstring name = DeviceLockObjectName(device);
    std::lock_guard lock(m_Lock);
    if (auto held = m_Held[name].lock()) {
        return {ShareDeviceLock(std::move(held)), DeviceLockError::None, {}};
    }
    ::SetLastError(ERROR_SUCCESS);
    UniqueHandle object(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || (!object && error == ERROR_ACCESS_DENIED)) {
        return {nullptr, DeviceLockError::Busy, device + ": locked by another program"};
    }
    if (!object) {
        return {nullptr, DeviceLockError::Unavailable, device + ": " + Win32ErrorText(error)};
    }
    // Closing the last handle anywhere ends the lock.
    auto held = std::make_shared<const UniqueHandle>(std::move(object));
    m_Held[name] = held;
    std::erase_if(m_Held, [](const auto& entry) { return entry.second.expired(); });
    return {ShareDeviceLock(std::move(held)), DeviceLockError::None, {}};
}

SleepBlockResult CWinSleepInhibitor::BlockSleep(const std::string& /*who*/,
                                                const std::string& why) {
    std::wstring reason = Utf8ToWide(why);
    REASON_CONTEXT context{};
    context.Version = POWER_REQUEST_CONTEXT_VERSION;
    context.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
    context.Reason.SimpleReasonString = reason.data();
    UniqueHandle request = AdoptHandle(::PowerCreateRequest(&context));
    if (!request) {
        return {nullptr, SleepBlockError::Refused, Win32ErrorText(::GetLastError())};
    }
    if (!::PowerSetRequest(request.get(), PowerRequestSystemRequired)) {
        return {nullptr, SleepBlockError::Refused, Win32ErrorText(::GetLastError())};
    }
    return {std::make_unique<CPowerRequestBlock>(std::move(request)), SleepBlockError::None, {}};
}

}  // namespace tarvex
