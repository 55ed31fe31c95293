#include "platform/FileWriter.h"

#include <system_error>

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
        case FileWriteError::NotTheListedVolume:
            return "the volume's folder is no longer the volume that was found there (unmounted, "
                   "or something was mounted over it)";
        case FileWriteError::Other:
            return "other error";
    }
    return "unknown";
}

FileWriteResult CFileWriter::WriteFileOnVolume(const VolumeInfo& volume,
                                               const std::filesystem::path& name,
                                               std::span<const std::uint8_t> bytes) {
    if (volume.FileSystemId) {
        return FileWriteResult{FileWriteError::NotTheListedVolume, FileWriteStep::Open, 0,
                               "this writer cannot check a volume's identity"};
    }
    const auto path = volume.MountPoint / name;
    const FileWriteResult written = WriteWholeFile(path, bytes);
    if (written.FileTouched()) {
        std::error_code error;
        std::filesystem::remove(path, error);
    }
    return written;
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
