#include "platform/linux/HidapiHidPort.h"

#include <algorithm>

#include "platform/linux/HidapiConnection.h"
#include "platform/linux/HidapiHandles.h"

namespace tarvex {

std::vector<HidInterfaceInfo> KeepFirstOfEachPath(std::vector<HidInterfaceInfo> interfaces) {
    std::vector<HidInterfaceInfo> kept;
    kept.reserve(interfaces.size());
    for (auto& candidate : interfaces) {
        const bool seen = std::any_of(kept.begin(), kept.end(), [&](const HidInterfaceInfo& k) {
            return k.Path == candidate.Path;
        });
        if (!candidate.Path.empty() && !seen) {
            kept.push_back(std::move(candidate));
        }
    }
    return kept;
}

CHidapiHidPort::CHidapiHidPort() {
    const auto lock = LockHidapiGlobals();
    m_bLibraryReady = hid_init() == 0;
}

std::vector<HidInterfaceInfo> CHidapiHidPort::ListHidInterfaces() {
    if (!m_bLibraryReady) {
        return {};
    }
    HidDeviceInfoList list;
    {
        const auto lock = LockHidapiGlobals();
        list.reset(hid_enumerate(0, 0));
    }
    std::vector<HidInterfaceInfo> interfaces;
    for (const hid_device_info* entry = list.get(); entry != nullptr; entry = entry->next) {
        interfaces.push_back(
            {entry->path != nullptr ? entry->path : "", entry->vendor_id, entry->product_id});
    }
    return KeepFirstOfEachPath(std::move(interfaces));
}

HidOpenResult CHidapiHidPort::OpenHidInterface(const std::string& path) {
    if (!m_bLibraryReady) {
        return {nullptr, HidOpenError::Other};
    }
    return CHidapiConnection::Open(path);
}

}  // namespace tarvex
