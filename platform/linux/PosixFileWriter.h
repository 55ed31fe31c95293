#pragma once
// CFileWriter on POSIX: open under the final name without following a link and without waiting
// for a reader, make sure it is a regular file, empty it, write until every byte is out, fsync,
// close. Each step's errno is mapped once, in FileWriteErrorFromErrno.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "platform/FileWriter.h"
#include "platform/linux/PosixFileCalls.h"

namespace tarvex {

FileWriteError FileWriteErrorFromErrno(int error);

// Behaves like write(2) on an open file: returns the count written (possibly fewer than asked)
// or -1 with errno set.
using WriteSomeFunction = std::function<ssize_t(const std::uint8_t* data, std::size_t size)>;

struct WriteAllResult {
    std::uint64_t Written = 0;
    int Errno = 0;  // 0 when every byte was written
};

// Calls `writeSome` until every byte of `bytes` is written, picking up after a short write and
// retrying a call interrupted by a signal (EINTR). A call that writes nothing without an error
// would repeat forever; it ends the loop as EIO.
WriteAllResult WriteAllBytes(std::span<const std::uint8_t> bytes,
                             const WriteSomeFunction& writeSome);

class CPosixFileWriter final : public CFileWriter {
public:
    // `calls` must outlive the writer.
    explicit CPosixFileWriter(CPosixFileCalls& calls = RealPosixFileCalls()) : m_Calls(calls) {}

    FileWriteResult WriteWholeFile(const std::filesystem::path& path,
                                   std::span<const std::uint8_t> bytes) override;
    // Opens the mount point as a folder, checks that its st_dev is volume.FileSystemId, creates
    // `name` with openat relative to that descriptor and checks the new file's st_dev too; a
    // copy that fails after that is unlinked relative to the same descriptor. A volume without
    // an identity is written (and a broken copy removed) by path.
    FileWriteResult WriteFileOnVolume(const VolumeInfo& volume, const std::filesystem::path& name,
                                      std::span<const std::uint8_t> bytes) override;

private:
    // `fd` is the file just opened for writing (closed here whatever happens); `fileSystemId`,
    // when set, is the identity the file must carry. With `dirFd` given, a file left broken
    // is removed as `name` in that open folder, if that name still is this file.
    FileWriteResult WriteOpenedFile(int fd, std::optional<std::uint64_t> fileSystemId,
                                    std::span<const std::uint8_t> bytes, int dirFd = -1,
                                    const char* name = nullptr);
    void RemoveBrokenFile(int dirFd, const char* name, const struct stat& file);
    FileWriteResult OpenFailure(const std::filesystem::path& path, int error);
    FileWriteResult OpenFailureAt(int dirFd, const std::filesystem::path& name, int error);

    CPosixFileCalls& m_Calls;
};

}  // namespace tarvex
