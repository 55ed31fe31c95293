#include "platform/VolumeMounter.h"

namespace tarvex {

const char* ToString(VolumeMountError error) {
    switch (error) {
        case VolumeMountError::None:
            return "none";
        case VolumeMountError::NoService:
            return "no disk service";
        case VolumeMountError::NotAuthorized:
            return "not authorized";
        case VolumeMountError::NeedsAuthentication:
            return "needs authentication";
        case VolumeMountError::AlreadyMounted:
            return "already mounted";
        case VolumeMountError::NoSuchVolume:
            return "no such volume";
        case VolumeMountError::Failed:
            return "failed";
    }
    return "unknown";
}

VolumesOfDevice CNoVolumeMounter::ListVolumesOf(const std::string&) {
    return {{}, VolumeMountError::NoService, "this system mounts nothing for the program"};
}

VolumeMountResult CNoVolumeMounter::Mount(const std::string&, bool) {
    return {VolumeMountError::NoService, "this system mounts nothing for the program", {}};
}

VolumeMountResult CNoVolumeMounter::Unmount(const std::string&) {
    return {VolumeMountError::NoService, "this system mounts nothing for the program", {}};
}

}  // namespace tarvex
