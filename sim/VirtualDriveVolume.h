#pragma once
// A drive-mode device's volume kept in memory, as the drive-copy update sees volumes: listed late,
// never, or without the system being able to tie it to its device, and written to without
// touching any real volume. For the demo programs, whose drive-mode runs then show each of the
// window's drive-copy states on any machine.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileWriter.h"
#include "platform/VolumeList.h"

namespace tarvex::sim {

enum class VirtualVolumeMount {
    Late,    // the device's own volume, mounted a while after the first look for it
    Never,   // the device's own volume, never mounted
    Untied,  // a volume of the device's size that the system cannot tie to any device
};

// Threads: every call from any thread.
class CVirtualDriveVolume final : public CVolumeList, public CFileWriter {
public:
    // `deviceSystemPath` names the drive-mode device the volume belongs to (Late, Never); `delay`
    // is how long after the first ListVolumes a Late volume is mounted.
    CVirtualDriveVolume(VirtualVolumeMount mount, std::string deviceSystemPath,
                        std::chrono::milliseconds delay = {});

    std::vector<VolumeInfo> ListVolumes() override;
    bool CanFindVolumesOf(const std::string& usbDeviceSystemPath) override;
    // Both take files in the volume's root only; any other path fails at Open and is left alone.
    FileWriteResult WriteWholeFile(const std::filesystem::path& path,
                                   std::span<const std::uint8_t> bytes) override;
    FileWriteResult WriteFileOnVolume(const VolumeInfo& volume, const std::filesystem::path& name,
                                      std::span<const std::uint8_t> bytes) override;

    // The bytes of the last file written onto the volume; empty when none was.
    std::vector<std::uint8_t> WrittenFile() const;

private:
    const VirtualVolumeMount m_Mount;
    const std::string m_DeviceSystemPath;
    const std::chrono::milliseconds m_Delay;
    mutable std::mutex m_Lock;
    std::optional<std::chrono::steady_clock::time_point> m_FirstLook;
    std::vector<std::uint8_t> m_Written;
};

}  // namespace tarvex::sim
