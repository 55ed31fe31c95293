#include "cli/ImageFileCheck.h"

#include "platform/FileAccess.h"

namespace tarvex {

ImageFileProblem ClassifyImageFileError(std::error_code error) {
    if (!error) {
        return ImageFileProblem::None;
    }
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
        return ImageFileProblem::Missing;
    }
    if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted) {
        return ImageFileProblem::PermissionDenied;
    }
    if (error == std::errc::is_a_directory) {
        return ImageFileProblem::NotRegularFile;
    }
    return ImageFileProblem::Unreadable;
}

ImageFileCheck CheckImageFile(const std::filesystem::path& path) {
    // Opened first: only opening tells whether this user may read it (permissions, ACLs,
    // security modules), and a device name (Windows' NUL) opens although no lookup finds a
    // file of that name. Opened without waiting, and looked at once open.
    const CReadableFile file(path);
    if (file.NotRegularFile()) {
        return {ImageFileProblem::NotRegularFile, {}};
    }
    if (file.IsOpen()) {
        return {};
    }
    // What does not open may still be something other than a file (a socket).
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        return {ImageFileProblem::NotRegularFile, {}};
    }
    return {ClassifyImageFileError(file.Error()), file.Error()};
}

std::string DescribeImageFileProblem(const std::filesystem::path& path,
                                     const ImageFileCheck& check) {
    const std::string named = "Firmware image '" + path.string() + "'";
    switch (check.Problem) {
        case ImageFileProblem::None:
            return "";
        case ImageFileProblem::Missing:
            return named + " does not exist.";
        case ImageFileProblem::NotRegularFile:
            return named + " is not a regular file.";
        case ImageFileProblem::PermissionDenied:
            return named +
                   " cannot be read: permission denied (check the file's permissions and those "
                   "of the folders above it).";
        case ImageFileProblem::Unreadable:
            return named + " cannot be read: " + check.Error.message() + ".";
    }
    return "";
}

}  // namespace tarvex
