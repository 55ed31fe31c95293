#pragma once
// CFileWriter on Windows: CreateFileW under the final name (OPEN_ALWAYS, so that nothing is
// truncated before the name is known to be a regular file), the content cut to nothing, then
// WriteFile until every byte is out, FlushFileBuffers and CloseHandle; success only after the
// flush and the close both succeeded. The name is opened without following a symbolic link or
// junction in its last part, and only a regular file on disk is written: a link, a folder or a
// device name fails at Open and is left as it was.
//
// WriteFileOnVolume names the file through the volume's own root (\\?\Volume{GUID}\) when the
// list found one that opens, so that a drive letter taken over by another volume since the
// listing leads nowhere near it; and it compares the open file's volume serial number with the
// one listed before anything is emptied. A file of the wrong volume is left as it was (one this
// call created is removed again), and a copy that fails part-way is removed through its own
// open handle, never by a name that may by then lead to another volume.
//
// Threads: any, for different files at once.

#include <optional>
#include <string>

#include "platform/FileWriter.h"

namespace tarvex {

// Whether `name` is a volume's root named by its GUID (\\?\Volume{...}\), the form
// GetVolumeNameForVolumeMountPointW gives. Pure.
bool IsVolumeGuidRoot(const std::wstring& name);

class CWinFileWriter final : public CFileWriter {
public:
    FileWriteResult WriteWholeFile(const std::filesystem::path& path,
                                   std::span<const std::uint8_t> bytes) override;
    FileWriteResult WriteFileOnVolume(const VolumeInfo& volume, const std::filesystem::path& name,
                                      std::span<const std::uint8_t> bytes) override;

private:
    // `volumeSerial`, when set, is the serial number the open file's volume must have;
    // `removeWhenBroken`: a file left partial (or made empty by this call) is removed through
    // the handle before it is closed.
    FileWriteResult WriteChecked(const std::filesystem::path& path,
                                 std::optional<std::uint64_t> volumeSerial, bool removeWhenBroken,
                                 std::span<const std::uint8_t> bytes);
};

}  // namespace tarvex
