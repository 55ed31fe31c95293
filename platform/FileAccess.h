#pragma once
// Reading a file the user named (the firmware image), safely whatever the name turns out to be.
// Linux: platform/linux/FileAccess.cpp; Windows: platform/windows/FileAccess.cpp.
//
// A name can lead to a pipe, a terminal or a device node as well as to a file. Opening such a
// thing for reading may wait for ever (a pipe waits for a writer), and with it the run and the
// window that closes by joining the run. So the file is opened without waiting, its type is
// checked on the open descriptor, and what is read comes from that same descriptor: what was
// checked is what is read, even if the name is replaced meanwhile.

#include <cstdint>
#include <filesystem>
#include <span>
#include <system_error>

namespace tarvex {

// Threads: one object is used by one thread at a time; different objects on any threads.
class CReadableFile {
public:
    // Opens `path` for reading. Afterwards exactly one holds: IsOpen(); NotRegularFile() (the
    // name leads to a folder, a pipe, a device node or the like, which is closed again unread);
    // or Error() tells the system's error in the generic category (errno values, so that
    // std::errc compares).
    explicit CReadableFile(const std::filesystem::path& path);
    ~CReadableFile();
    CReadableFile(const CReadableFile&) = delete;
    CReadableFile& operator=(const CReadableFile&) = delete;

    bool IsOpen() const { return m_Handle != kNoHandle; }
    bool NotRegularFile() const { return m_bNotRegularFile; }
    std::error_code Error() const { return m_Error; }
    // The size the file had when it was opened.
    std::uint64_t Size() const { return m_Size; }

    // Reads from the current position until `into` is full or the file ends. The count read;
    // fewer than asked only at the end of the file or on an error, which `error` then holds.
    std::size_t Read(std::span<std::uint8_t> into, std::error_code& error);

private:
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t m_Handle = kNoHandle;  // a descriptor on Linux, a HANDLE on Windows
    bool m_bNotRegularFile = false;
    std::error_code m_Error;
    std::uint64_t m_Size = 0;
};

}  // namespace tarvex
