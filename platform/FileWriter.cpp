#include "platform/FileWriter.h"

namespace tarvex {

const char* ToString(FileWriteError error) {
    switch (error) {
        case FileWriteError::None:
            return "written";
        case FileWriteError::NoSpace:
            return "no space left on the volume";
        case FileWriteError::ReadOnly:
            return "the volume is read-only";
        case FileWriteError::PermissionDenied:
            return "permission denied";
        case FileWriteError::DeviceGone:
            return "the device went away";
        case FileWriteError::IoError:
            return "I/O error";
        case FileWriteError::NotRegularFile:
            return "the name is taken by something that is not a regular file";
        case FileWriteError::Other:
            return "other error";
    }
    return "unknown";
}

const char* ToString(FileWriteStep step) {
    switch (step) {
        case FileWriteStep::Open:
            return "open";
        case FileWriteStep::Write:
            return "write";
        case FileWriteStep::Flush:
            return "flush";
        case FileWriteStep::Close:
            return "close";
    }
    return "unknown";
}

}  // namespace tarvex
