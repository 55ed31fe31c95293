#pragma once
// Stand-ins for the drive-copy services, and small file helpers for the drive-copy tests.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/FileWriter.h"
#include "platform/VolumeList.h"

namespace tarvex::testing {

// A fresh folder for one test, named after it and removed with everything in it afterwards.
class CScratchFolder {
public:
    CScratchFolder();
    ~CScratchFolder();
    CScratchFolder(const CScratchFolder&) = delete;
    CScratchFolder& operator=(const CScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return m_Path; }

private:
    std::filesystem::path m_Path;
};

// A write that must not wait (on a pipe nobody reads) is over by then; generous, and far below
// the hang guard, so that such a fault fails quickly instead of hanging the suite.
inline constexpr std::chrono::seconds kMustNotBlock{5};

// Opens the pipe for reading and drains it, so that a writer stuck opening it goes on (and a
// test that found it stuck can end).
void ReleasePipeWriter(const std::filesystem::path& pipe);

void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
// Empty when the file does not exist.
std::optional<std::vector<std::uint8_t>> ReadBytes(const std::filesystem::path& path);

// Volumes as a test lays them out: plain folders with whatever capacity the test claims, and
// the USB devices whose volumes the "system" can tell apart.
class CFakeVolumeList final : public CVolumeList {
public:
    void SetVolumes(std::vector<VolumeInfo> volumes);
    // From the `listing`th call of ListVolumes on (counting from 1), `volumes` is listed
    // instead: a volume that gets mounted while a run waits for it.
    void SetVolumesFrom(std::size_t listing, std::vector<VolumeInfo> volumes);
    void SetKnownUsbDevices(std::vector<std::string> systemPaths);
    // Called at every listing, before it answers, outside the list's lock.
    void SetOnListing(std::function<void()> onListing);
    std::vector<VolumeInfo> ListVolumes() override;
    bool CanFindVolumesOf(const std::string& usbDeviceSystemPath) override;
    std::size_t Calls() const;
    // Waits until ListVolumes has been called `count` times; false after the hang guard.
    bool WaitForCalls(std::size_t count);

private:
    mutable std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::vector<VolumeInfo> m_Volumes;
    std::optional<std::pair<std::size_t, std::vector<VolumeInfo>>> m_Later;
    std::vector<std::string> m_KnownUsbDevices;
    std::size_t m_Calls = 0;
    std::function<void()> m_OnListing;
};

// Writes through a real writer, but can fail a chosen step for files whose folder is named:
// at Open nothing is touched; at Write half the bytes are on disk; at Flush or Close all of
// them are, as after a write-back error. It can also hold a write until the test lets it go.
class CFaultyFileWriter final : public CFileWriter {
public:
    explicit CFaultyFileWriter(CFileWriter& real) : m_Real(real) {}

    void FailIn(std::filesystem::path folder, FileWriteStep step, FileWriteError error);
    // The next write blocks until Release; WaitUntilHeld tells when it got there.
    void HoldNextWrite();
    bool WaitUntilHeld();
    void Release();
    std::vector<std::filesystem::path> Written() const;

    FileWriteResult WriteWholeFile(const std::filesystem::path& path,
                                   std::span<const std::uint8_t> bytes) override;

private:
    CFileWriter& m_Real;
    mutable std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::optional<std::filesystem::path> m_FailFolder;
    FileWriteStep m_FailStep = FileWriteStep::Open;
    FileWriteError m_FailError = FileWriteError::None;
    bool m_bHoldNext = false;
    bool m_bHeld = false;
    std::vector<std::filesystem::path> m_Written;
};

}  // namespace tarvex::testing
