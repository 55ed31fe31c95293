#pragma once
// Writing one whole file so that it is on the device when the call returns. The drive-copy
// update writes through it, because a removable volume that reports success before its data
// reached the medium would tell the user "updated" for a device that is not.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "platform/VolumeList.h"

namespace tarvex {

// What went wrong, in the terms a caller acts on.
enum class FileWriteError {
    None,
    NoSpace,           // the volume is full (or over quota)
    ReadOnly,          // the volume is mounted read-only
    PermissionDenied,  // this user may not create or replace the file
    DeviceGone,        // the medium went away during the write
    IoError,           // the device reported an I/O error
    NotRegularFile,    // the name is taken by a link, a pipe, a folder or a device node
    // The volume's folder is no longer the file system that was listed there: it was unmounted
    // (its empty folder left behind) or something else was mounted over it or over a folder
    // above it.
    NotTheListedVolume,
    Other,
};

// Where a write stopped. Only a failure at Open leaves an earlier file of that name as it was;
// from Write on, the file has been created or truncated and holds at most part of the bytes.
enum class FileWriteStep { Open, Write, Flush, Close };

struct FileWriteResult {
    FileWriteError Error = FileWriteError::None;
    FileWriteStep FailedAt = FileWriteStep::Open;
    std::uint64_t BytesWritten = 0;
    std::string Message;  // the system's own words, for traces
    bool Ok() const { return Error == FileWriteError::None; }
    bool FileTouched() const { return !Ok() && FailedAt != FileWriteStep::Open; }
};

const char* ToString(FileWriteError error);
const char* ToString(FileWriteStep step);

// Threads: WriteWholeFile and WriteFileOnVolume may be called from any thread, for different files
// at once.
class CFileWriter {
public:
    virtual ~CFileWriter() = default;

    // Creates `path` or replaces its content, under that very name (no temporary name and
    // rename: a device watching for the name may not follow a rename), writes `bytes` in order
    // and flushes them to the device. Ok only when every byte was written, flushed and the file
    // closed without error. Writes only into a regular file: a symbolic link is never followed
    // and a pipe, folder or device node of that name is never opened for writing in a way that
    // could wait for a reader; each fails at Open with NotRegularFile and is left as it was.
    // Never removes anything: what to do with a partial file is the caller's decision.
    virtual FileWriteResult WriteWholeFile(const std::filesystem::path& path,
                                           std::span<const std::uint8_t> bytes) = 0;

    // Writes `name` into the root of `volume` as WriteWholeFile does, but only while the folder
    // volume.MountPoint is still the file system the list saw there: when volume.FileSystemId is
    // set, the file must carry that identity before anything in it is emptied (on Linux the
    // folder is opened once and the file created relative to it, both checked; on Windows the
    // open file's volume serial number is compared); otherwise the call fails at Open with
    // NotTheListedVolume and nothing is written. Unlike WriteWholeFile it removes what it
    // leaves broken (a file it created or emptied and could not complete) itself, through what
    // it checked (the open folder, the open file), never by a path that may by then lead to
    // another volume; FileTouched() then says that an earlier file of that name is gone. This
    // writer checks no identity: it refuses a volume that has one, and writes by path into a
    // volume without one (a list that cannot tell file systems apart), removing a broken file by
    // that path. Writers that can check override it.
    virtual FileWriteResult WriteFileOnVolume(const VolumeInfo& volume,
                                              const std::filesystem::path& name,
                                              std::span<const std::uint8_t> bytes);
};

}  // namespace tarvex
