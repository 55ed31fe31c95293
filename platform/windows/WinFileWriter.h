#pragma once
// CFileWriter on Windows: CreateFileW under the final name (OPEN_ALWAYS, so that nothing is
// truncated before the name is known to be a regular file), the content cut to nothing, then
// WriteFile until every byte is out, FlushFileBuffers and CloseHandle; success only after the
// flush and the close both succeeded. The name is opened without following a symbolic link or
// junction in its last part, and only a regular file on disk is written: a link, a folder or a
// device name fails at Open and is left as it was.
//
// Threads: any, for different files at once.

#include "platform/FileWriter.h"

namespace tarvex {

class CWinFileWriter final : public CFileWriter {
public:
    FileWriteResult WriteWholeFile(const std::filesystem::path& path,
                                   std::span<const std::uint8_t> bytes) override;
};

}  // namespace tarvex
