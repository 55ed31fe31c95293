#pragma once
// tmpfs volumes for the tests that need a real mounted file system.
//
// The test process first moves into a mount namespace of its own (with private propagation),
// so that its volumes are seen by nothing else on the machine (no desktop automounter, no other
// test running at the same time) and vanish with the process even if it dies before unmounting.
// Child processes it starts see them. Needs root (CAP_SYS_ADMIN); otherwise Unavailable says why.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvex::testing {

// Why mount tests cannot run here, or nothing when they can. Enters the private namespace on
// its first call (from the thread that then starts every other thread of the test).
std::optional<std::string> MountTestsUnavailable();

// Mount tests must not be skipped where the CI runs them (CI=true): there a missing privilege
// is a broken setup, not a reason to pass quietly.
bool SkipsAreFailures();

class CScratchMounts {
public:
    CScratchMounts();
    // Unmounts every volume (lazily if one is busy) and removes the folders.
    ~CScratchMounts();
    CScratchMounts(const CScratchMounts&) = delete;
    CScratchMounts& operator=(const CScratchMounts&) = delete;

    // Mounts a tmpfs with `options` (for example "size=104k") on a new folder `name`;
    // empty (and a test failure) when the mount fails.
    std::filesystem::path MountTmpfs(const std::string& name, const std::string& options,
                                     bool readOnly = false);
    // Unmounts what was mounted at `mountPoint` (lazily if it is busy), leaving its folder.
    void Unmount(const std::filesystem::path& mountPoint);
    // Bind-mounts the folder `source` on a new folder `name`; empty (and a failure) if it fails.
    std::filesystem::path BindMount(const std::filesystem::path& source, const std::string& name);
    const std::filesystem::path& Root() const { return m_Root; }

private:
    std::filesystem::path m_Root;
    std::vector<std::filesystem::path> m_Mounted;
};

// The process's mount table as it is now, with every mount of a scratch tmpfs (a whole one or a
// bind mount of a folder on one) shown as what a device's volume is: vfat on a block device
// (major 240, one of those kept for local use, so that no real device answers to it). Only the
// table lies: the mount points are real, so sizes, free space and read-only flags are the
// tmpfs's own.
std::string DisguisedMountTable();

// The real device number (st_dev) of a scratch tmpfs whose disguised table line gave it
// `listed`; any other number as it is.
std::uint64_t UndisguisedFileSystemId(std::uint64_t listed);

// Fills the volume at `mountPoint` until it is full, then frees `pagesLeftFree` pages again.
void FillVolume(const std::filesystem::path& mountPoint, unsigned pagesLeftFree);

}  // namespace tarvex::testing
