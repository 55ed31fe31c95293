#pragma once
// CFileWriter on POSIX: open under the final name without following a link and without waiting
// for a reader, make sure it is a regular file, empty it, write until every byte is out, fsync,
// close. Each step's errno is mapped once, in FileWriteErrorFromErrno.

#include <sys/types.h>

#include <cstdint>
#include <functional>
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

private:
    FileWriteResult OpenFailure(const std::filesystem::path& path, int error);

    CPosixFileCalls& m_Calls;
};

}  // namespace tarvex
