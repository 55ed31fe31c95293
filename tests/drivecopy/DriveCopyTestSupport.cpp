#include "tests/drivecopy/DriveCopyTestSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <thread>

namespace tarvex::testing {

namespace {
// Bound for waits on the engine's worker; a guard against hangs, never a measured time.
constexpr std::chrono::seconds kHoldGuard{20};
}  // namespace

CScratchFolder::CScratchFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_Path = std::filesystem::temp_directory_path() /
             (std::string("tarvex-drivecopy-") + std::to_string(::getpid()) + "-" +
              (info != nullptr ? std::string(info->name()) : std::string("outside")));
    std::filesystem::remove_all(m_Path);
    std::filesystem::create_directories(m_Path);
}

CScratchFolder::~CScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_Path, error);
}

void ReleasePipeWriter(const std::filesystem::path& pipe) {
    const int fd = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    char sink[4096];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
    ::close(fd);
}

void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

std::optional<std::vector<std::uint8_t>> ReadBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>());
}

void CFakeVolumeList::SetVolumes(std::vector<VolumeInfo> volumes) {
    std::lock_guard lock(m_Lock);
    m_Volumes = std::move(volumes);
}

void CFakeVolumeList::SetVolumesFrom(std::size_t listing, std::vector<VolumeInfo> volumes) {
    std::lock_guard lock(m_Lock);
    m_Later.emplace(listing, std::move(volumes));
}

void CFakeVolumeList::SetKnownUsbDevices(std::vector<std::string> systemPaths) {
    std::lock_guard lock(m_Lock);
    m_KnownUsbDevices = std::move(systemPaths);
}

void CFakeVolumeList::SetOnListing(std::function<void()> onListing) {
    std::lock_guard lock(m_Lock);
    m_OnListing = std::move(onListing);
}

std::vector<VolumeInfo> CFakeVolumeList::ListVolumes() {
    std::function<void()> onListing;
    {
        std::lock_guard lock(m_Lock);
        onListing = m_OnListing;
    }
    if (onListing) {
        onListing();
    }
    std::lock_guard lock(m_Lock);
    ++m_Calls;
    m_Changed.notify_all();
    if (m_Later && m_Calls >= m_Later->first) {
        return m_Later->second;
    }
    return m_Volumes;
}

bool CFakeVolumeList::CanFindVolumesOf(const std::string& usbDeviceSystemPath) {
    std::lock_guard lock(m_Lock);
    return std::find(m_KnownUsbDevices.begin(), m_KnownUsbDevices.end(), usbDeviceSystemPath) !=
           m_KnownUsbDevices.end();
}

std::size_t CFakeVolumeList::Calls() const {
    std::lock_guard lock(m_Lock);
    return m_Calls;
}

bool CFakeVolumeList::WaitForCalls(std::size_t count) {
    std::unique_lock lock(m_Lock);
    return m_Changed.wait_for(lock, kHoldGuard, [&] { return m_Calls >= count; });
}

void CFaultyFileWriter::FailIn(std::filesystem::path folder, FileWriteStep step,
                               FileWriteError error) {
    std::lock_guard lock(m_Lock);
    m_FailFolder = std::move(folder);
    m_FailStep = step;
    m_FailError = error;
}

void CFaultyFileWriter::HoldNextWrite() {
    std::lock_guard lock(m_Lock);
    m_bHoldNext = true;
}

bool CFaultyFileWriter::WaitUntilHeld() {
    std::unique_lock lock(m_Lock);
    return m_Changed.wait_for(lock, kHoldGuard, [&] { return m_bHeld; });
}

void CFaultyFileWriter::Release() {
    std::lock_guard lock(m_Lock);
    m_bHoldNext = false;
    m_bHeld = false;
    m_Changed.notify_all();
}

std::vector<std::filesystem::path> CFaultyFileWriter::Written() const {
    std::lock_guard lock(m_Lock);
    return m_Written;
}

FileWriteResult CFaultyFileWriter::WriteWholeFile(const std::filesystem::path& path,
                                                  std::span<const std::uint8_t> bytes) {
    bool fail = false;
    FileWriteStep step = FileWriteStep::Open;
    FileWriteError error = FileWriteError::None;
    {
        std::unique_lock lock(m_Lock);
        m_Written.push_back(path);
        if (m_bHoldNext) {
            m_bHeld = true;
            m_Changed.notify_all();
            m_Changed.wait_for(lock, kHoldGuard, [&] { return !m_bHoldNext; });
        }
        fail = m_FailFolder && path.parent_path() == *m_FailFolder;
        step = m_FailStep;
        error = m_FailError;
    }
    if (!fail) {
        return m_Real.WriteWholeFile(path, bytes);
    }
    if (step == FileWriteStep::Open) {
        return FileWriteResult{error, step, 0, "injected"};
    }
    const auto onDisk = step == FileWriteStep::Write ? bytes.first(bytes.size() / 2) : bytes;
    const FileWriteResult real = m_Real.WriteWholeFile(path, onDisk);
    EXPECT_TRUE(real.Ok()) << "the partial file could not be laid down: " << real.Message;
    return FileWriteResult{error, step, onDisk.size(), "injected"};
}

}  // namespace tarvex::testing
