#include "platform/DeviceLock.h"

namespace tarvex {

namespace {

class CSharedDeviceLock final : public CDeviceLock {
public:
    explicit CSharedDeviceLock(std::shared_ptr<const void> lock) : m_pLock(std::move(lock)) {}

private:
    std::shared_ptr<const void> m_pLock;
};

}  // namespace

std::unique_ptr<CDeviceLock> ShareDeviceLock(std::shared_ptr<const void> lock) {
    return std::make_unique<CSharedDeviceLock>(std::move(lock));
}

const char* ToString(DeviceLockError error) {
    switch (error) {
        case DeviceLockError::None:
            return "none";
        case DeviceLockError::Busy:
            return "busy with another program";
        case DeviceLockError::Unavailable:
            return "cannot be locked";
    }
    return "unknown";
}

}  // namespace tarvex
