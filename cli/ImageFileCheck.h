#pragma once
// The terminal program's first look at the image named on its command line: whether it can be
// read at all, and if not, why, in the system's own terms. What is inside is the engine's to
// judge later (the window's "Open file error" text).

#include <filesystem>
#include <string>
#include <system_error>

namespace tarvex {

enum class ImageFileProblem {
    None,
    Missing,           // no such file (or a folder on the way is missing)
    NotRegularFile,    // a folder, a device node, a pipe...
    PermissionDenied,  // the file, or a folder above it, is closed to this user
    Unreadable,        // any other error the system gave
};

struct ImageFileCheck {
    ImageFileProblem Problem = ImageFileProblem::None;
    std::error_code Error;  // what the system said, for Unreadable
};

// How an error from looking up or opening the file counts. Pure.
ImageFileProblem ClassifyImageFileError(std::error_code error);

// Looks the file up, then opens it for reading (and closes it again).
ImageFileCheck CheckImageFile(const std::filesystem::path& path);

// The line the terminal program prints for a problem (not for None).
std::string DescribeImageFileProblem(const std::filesystem::path& path,
                                     const ImageFileCheck& check);

}  // namespace tarvex
