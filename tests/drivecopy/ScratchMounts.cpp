#include "tests/drivecopy/ScratchMounts.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace tarvex::testing {

namespace {

constexpr const char* kTmpfsSource = "tarvex-test";
// The major a disguised line shows instead of a tmpfs's 0.
constexpr unsigned kDisguisedMajor = 240;

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

std::optional<std::string> EnterPrivateMountNamespace() {
    if (::geteuid() != 0) {
        return "mounting test volumes needs root (CAP_SYS_ADMIN); run as root to include them";
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        return SystemError("cannot enter a private mount namespace (unshare)");
    }
    // Without this a shared root would carry the test's mounts back to the whole system.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return SystemError("cannot make the mount namespace private");
    }
    // One trial mount, so that a system that forbids tmpfs mounts is told apart up front.
    const auto trial = std::filesystem::temp_directory_path() /
                       ("tarvex-mount-trial-" + std::to_string(::getpid()));
    std::filesystem::create_directories(trial);
    std::optional<std::string> why;
    if (::mount(kTmpfsSource, trial.c_str(), "tmpfs", 0, "size=4k") != 0) {
        why = SystemError("cannot mount a tmpfs");
    } else {
        ::umount2(trial.c_str(), MNT_DETACH);
    }
    std::error_code error;
    std::filesystem::remove(trial, error);
    return why;
}

}  // namespace

std::optional<std::string> MountTestsUnavailable() {
    static const std::optional<std::string> why = EnterPrivateMountNamespace();
    return why;
}

bool SkipsAreFailures() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

CScratchMounts::CScratchMounts() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_Root = std::filesystem::temp_directory_path() /
             ("tarvex-mounts-" + std::to_string(::getpid()) + "-" +
              (info != nullptr ? info->name() : "outside"));
    std::filesystem::create_directories(m_Root);
}

CScratchMounts::~CScratchMounts() {
    for (auto it = m_Mounted.rbegin(); it != m_Mounted.rend(); ++it) {
        if (::umount2(it->c_str(), 0) != 0) {
            ::umount2(it->c_str(), MNT_DETACH);
        }
    }
    std::error_code error;
    std::filesystem::remove_all(m_Root, error);
}

std::filesystem::path CScratchMounts::MountTmpfs(const std::string& name,
                                                 const std::string& options, bool readOnly) {
    const auto mountPoint = m_Root / name;
    std::filesystem::create_directories(mountPoint);
    const unsigned long flags = readOnly ? MS_RDONLY : 0;
    if (::mount(kTmpfsSource, mountPoint.c_str(), "tmpfs", flags, options.c_str()) != 0) {
        ADD_FAILURE() << SystemError("mount tmpfs") << " on " << mountPoint;
        return {};
    }
    m_Mounted.push_back(mountPoint);
    return mountPoint;
}

void CScratchMounts::Unmount(const std::filesystem::path& mountPoint) {
    if (::umount2(mountPoint.c_str(), 0) != 0) {
        ASSERT_EQ(::umount2(mountPoint.c_str(), MNT_DETACH), 0)
            << SystemError("umount") << " of " << mountPoint;
    }
}

std::uint64_t UndisguisedFileSystemId(std::uint64_t listed) {
    const auto device = static_cast<dev_t>(listed);
    if (major(device) != kDisguisedMajor) {
        return listed;
    }
    return static_cast<std::uint64_t>(makedev(0, minor(device)));
}

std::filesystem::path CScratchMounts::BindMount(const std::filesystem::path& source,
                                                const std::string& name) {
    const auto mountPoint = m_Root / name;
    std::filesystem::create_directories(mountPoint);
    if (::mount(source.c_str(), mountPoint.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        ADD_FAILURE() << SystemError("bind mount") << " of " << source << " on " << mountPoint;
        return {};
    }
    m_Mounted.push_back(mountPoint);
    return mountPoint;
}

std::string DisguisedMountTable() {
    std::ifstream file("/proc/self/mountinfo");
    std::string table;
    // Appended piece by piece: g++ 12 takes "a" + b + "c" on strings for an out-of-bounds copy.
    std::string scratchTail = " - tmpfs ";
    scratchTail.append(kTmpfsSource).append(" ");
    for (std::string line; std::getline(file, line);) {
        const std::size_t tail = line.find(scratchTail);
        if (tail != std::string::npos) {
            line.replace(tail, scratchTail.size(), " - vfat /dev/tarvex-test ");
            // Third field: major:minor, 0:N for a tmpfs.
            const std::size_t first = line.find(' ');
            const std::size_t second = line.find(' ', first + 1);
            if (line.compare(second + 1, 2, "0:") == 0) {
                line.replace(second + 1, 1, std::to_string(kDisguisedMajor));
            }
        }
        table += line + '\n';
    }
    return table;
}

void FillVolume(const std::filesystem::path& mountPoint, unsigned pagesLeftFree) {
    const auto path = mountPoint / "filler";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << SystemError("open filler");
    const std::vector<char> block(4096, 'F');
    off_t size = 0;
    for (;;) {
        const ssize_t written = ::write(fd, block.data(), block.size());
        if (written <= 0) {
            break;
        }
        size += written;
    }
    const off_t pageSize = ::sysconf(_SC_PAGESIZE);
    const off_t freed = static_cast<off_t>(pagesLeftFree) * pageSize;
    EXPECT_GE(size, freed);
    EXPECT_EQ(::ftruncate(fd, size - freed), 0) << SystemError("ftruncate filler");
    ::close(fd);
}

}  // namespace tarvex::testing
