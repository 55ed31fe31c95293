// The Windows file writer on the real file system (under wine, the host's): wide names, an
// existing longer file replaced under its name, names that are not a regular file, and a copy
// onto a listed volume whose drive letter has gone to another volume since.

#include <gtest/gtest.h>

#include <windows.h>

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "platform/windows/WinFileWriter.h"
#include "platform/windows/WinHandles.h"
#include "platform/windows/WinVolumeList.h"

namespace tarvex {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

std::vector<std::uint8_t> Content(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

class WinFileWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Folder = std::filesystem::temp_directory_path() /
                   (L"tarvex-writer-\x56FA\x4EF6-" +
                    std::to_wstring(::testing::UnitTest::GetInstance()->random_seed()));
        std::filesystem::create_directories(m_Folder);
    }
    void TearDown() override { std::filesystem::remove_all(m_Folder); }

    std::filesystem::path m_Folder;
    CWinFileWriter m_Writer;
};

TEST_F(WinFileWriterTest, WritesAndReplacesUnderAWideName) {
    const auto target = m_Folder / L"\x00E9t\x00E9-1.dat";
    const auto longer = Bytes(9000, 1);
    const auto first = m_Writer.WriteWholeFile(target, longer);
    ASSERT_TRUE(first.Ok()) << first.Message;
    EXPECT_EQ(first.BytesWritten, longer.size());
    EXPECT_EQ(Content(target), longer);

    const auto shorter = Bytes(4608, 7);
    ASSERT_TRUE(m_Writer.WriteWholeFile(target, shorter).Ok());
    EXPECT_EQ(Content(target), shorter) << "replaced whole: nothing of the longer file is left";

    ASSERT_TRUE(m_Writer.WriteWholeFile(target, {}).Ok());
    EXPECT_EQ(std::filesystem::file_size(target), 0U);
}

TEST_F(WinFileWriterTest, AFolderOrAMissingFolderFailsAtOpenAndIsLeftAsItWas) {
    const auto folder = m_Folder / "1.dat";
    std::filesystem::create_directory(folder);
    const auto refused = m_Writer.WriteWholeFile(folder, Bytes(10, 0));
    EXPECT_EQ(refused.Error, FileWriteError::NotRegularFile);
    EXPECT_FALSE(refused.FileTouched());
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    const auto missing =
        m_Writer.WriteWholeFile(m_Folder / "no-such-folder" / "1.dat", Bytes(10, 0));
    EXPECT_FALSE(missing.Ok());
    EXPECT_EQ(missing.FailedAt, FileWriteStep::Open);
    EXPECT_FALSE(missing.Message.empty()) << "the system's own words are kept";
}

TEST_F(WinFileWriterTest, ADeviceNameIsNeverWrittenAsAFile) {
    // NUL opens on every Windows; it is not a file, whatever folder it is named in.
    const auto refused = m_Writer.WriteWholeFile(L"NUL", Bytes(10, 0));
    EXPECT_EQ(refused.Error, FileWriteError::NotRegularFile);
    EXPECT_EQ(refused.FailedAt, FileWriteStep::Open);
}

// A file that is mapped into memory cannot be cut short: the earlier 1.dat must then stay
// whole, and the failure must say that the file was not touched (so that nobody removes it).
TEST_F(WinFileWriterTest, AFileThatCannotBeCutShortIsLeftWhole) {
    const auto target = m_Folder / L"1.dat";
    const auto earlier = Bytes(4096, 7);
    ASSERT_TRUE(m_Writer.WriteWholeFile(target, earlier).Ok());
    UniqueHandle file =
        AdoptHandle(::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    UniqueHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    ASSERT_TRUE(mapping);
    const void* view = ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    file.reset();

    const auto refused = m_Writer.WriteWholeFile(target, Bytes(100, 1));
    ::UnmapViewOfFile(view);
    mapping.reset();
    EXPECT_FALSE(refused.Ok());
    EXPECT_FALSE(refused.FileTouched()) << ToString(refused.FailedAt) << ": " << refused.Message;
    EXPECT_EQ(Content(target), earlier);
}

// A drive letter that another volume takes between the listing and the write. Under wine a drive
// letter can be given to a host folder through wine's mount manager, as its configuration tool
// does, and given again to another; each folder's .windows-serial file gives it its own volume
// serial number. The copy must land on the listed volume or nowhere: not on the letter's new
// owner, whose own 1.dat stays as it was, and not as an empty file either.
class CRepointedLetter {
public:
    CRepointedLetter()
        : m_HostFolder("/tmp/tarvex-letter-" + std::to_string(::GetCurrentProcessId())) {
        const DWORD taken = ::GetLogicalDrives();
        for (wchar_t letter = L'P'; letter <= L'Y'; ++letter) {
            if ((taken & (1U << (letter - L'A'))) == 0) {
                m_Letter = letter;
                break;
            }
        }
    }
    ~CRepointedLetter() {
        if (m_bDefined) {
            Define(nullptr);
        }
        std::error_code error;
        std::filesystem::remove_all(HostFolder(std::string()).parent_path(), error);
    }
    CRepointedLetter(const CRepointedLetter&) = delete;
    CRepointedLetter& operator=(const CRepointedLetter&) = delete;

    std::wstring Root() const {
        std::wstring root;
        root.push_back(m_Letter);
        root += L":\\";
        return root;
    }
    // The host folder `name` as this program reaches it (wine's Z: is the host's root).
    std::filesystem::path HostFolder(const std::string& name) const {
        std::string windows = "Z:" + m_HostFolder + "/" + name;
        std::replace(windows.begin(), windows.end(), '/', '\\');
        return windows;
    }
    void MakeVolume(const std::string& name, DWORD serial) const {
        std::filesystem::create_directories(HostFolder(name));
        std::ofstream(HostFolder(name) / ".windows-serial") << std::hex << serial << '\n';
    }
    // Gives the letter to the host folder `name` and waits until the system reports that
    // volume's serial for the letter's root, by name and through an open handle alike. False
    // where no wine mount manager takes the request.
    bool PointAt(const std::string& name, DWORD serial) {
        if (m_Letter == 0 || !Define((m_HostFolder + "/" + name).c_str())) {
            return false;
        }
        m_bDefined = true;
        const ULONGLONG end = ::GetTickCount64() + 20'000;
        while (::GetTickCount64() < end) {
            if (SerialByName() == serial && SerialThroughHandle() == serial) {
                return true;
            }
            ::Sleep(20);
        }
        return false;
    }

private:
    // Wine's request to its mount manager to give a letter to a host folder (or, without one,
    // to take the letter away); the layout is wine's own.
    struct UnixDriveRequest {
        ULONG Size;
        ULONG Type;
        ULONG FileSystemType;
        DWORD Serial;
        ULONGLONG UnixDevice;
        WCHAR Letter;
        USHORT MountPointOffset;
        USHORT DeviceOffset;
        USHORT LabelOffset;
    };
    static constexpr DWORD kDefineUnixDrive =
        CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

    bool Define(const char* hostPath) const {
        UnixDriveRequest request{};
        const std::size_t pathSize = hostPath != nullptr ? std::strlen(hostPath) + 1 : 0;
        std::vector<char> buffer(sizeof request + pathSize);
        request.Size = static_cast<ULONG>(buffer.size());
        request.Type = DRIVE_FIXED;
        request.Letter = static_cast<WCHAR>(std::towlower(m_Letter));
        if (hostPath != nullptr) {
            request.MountPointOffset = sizeof request;
            std::memcpy(buffer.data() + sizeof request, hostPath, pathSize);
        }
        std::memcpy(buffer.data(), &request, sizeof request);
        const UniqueHandle manager = AdoptHandle(
            ::CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        DWORD returned = 0;
        return manager &&
               ::DeviceIoControl(manager.get(), kDefineUnixDrive, buffer.data(),
                                 static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    }
    DWORD SerialByName() const {
        DWORD serial = 0;
        return ::GetVolumeInformationW(Root().c_str(), nullptr, 0, &serial, nullptr, nullptr,
                                       nullptr, 0)
                   ? serial
                   : 0;
    }
    DWORD SerialThroughHandle() const {
        const UniqueHandle root = AdoptHandle(
            ::CreateFileW(Root().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION information{};
        return root && ::GetFileInformationByHandle(root.get(), &information)
                   ? information.dwVolumeSerialNumber
                   : 0;
    }

    std::string m_HostFolder;  // the host's own path
    wchar_t m_Letter = 0;
    bool m_bDefined = false;
};

TEST(WinFileWriterVolumeTest, ACopyLandsOnTheListedVolumeOrNowhere) {
    CRepointedLetter letter;
    constexpr DWORD kListedSerial = 0x1234ABCD;
    constexpr DWORD kOtherSerial = 0x5678EF01;
    letter.MakeVolume("listed", kListedSerial);
    letter.MakeVolume("other", kOtherSerial);
    if (!letter.PointAt("listed", kListedSerial)) {
        GTEST_SKIP() << "needs wine's mount manager and a free drive letter to move a letter "
                        "from one volume to another";
    }

    const auto find = [&]() -> std::optional<VolumeInfo> {
        for (auto& volume : CWinVolumeList().ListVolumes()) {
            if (volume.MountPoint.native() == letter.Root()) {
                return volume;
            }
        }
        return std::nullopt;
    };
    const auto listed = find();
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->FileSystemId, std::optional<std::uint64_t>(kListedSerial));

    ASSERT_TRUE(letter.PointAt("other", kOtherSerial));
    CWinFileWriter writer;
    const auto lead = Bytes(4608, 3);
    const auto othersCopy = letter.HostFolder("other") / "1.dat";
    const struct {
        const char* What;
        std::optional<std::vector<std::uint8_t>> OthersCopy;
    } cases[] = {{"no 1.dat there", std::nullopt}, {"its own 1.dat there", Bytes(100, 9)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        if (c.OthersCopy) {
            std::ofstream(othersCopy, std::ios::binary)
                .write(reinterpret_cast<const char*>(c.OthersCopy->data()),
                       static_cast<std::streamsize>(c.OthersCopy->size()));
        }
        const FileWriteResult written = writer.WriteFileOnVolume(*listed, L"1.dat", lead);
        EXPECT_EQ(written.Error, FileWriteError::NotTheListedVolume) << written.Message;
        EXPECT_EQ(written.FailedAt, FileWriteStep::Open);
        if (c.OthersCopy) {
            EXPECT_EQ(Content(othersCopy), *c.OthersCopy) << "the other volume's file was touched";
        } else {
            EXPECT_FALSE(std::filesystem::exists(othersCopy))
                << "a file was left on the other volume";
        }
        EXPECT_FALSE(std::filesystem::exists(letter.HostFolder("listed") / "1.dat"));
    }

    // Listed anew, the letter's new volume is the one written.
    const auto relisted = find();
    ASSERT_TRUE(relisted);
    const FileWriteResult written = writer.WriteFileOnVolume(*relisted, L"1.dat", lead);
    ASSERT_TRUE(written.Ok()) << written.Message;
    EXPECT_EQ(Content(othersCopy), lead);
}

// Only a volume's GUID root is written through in place of its letter; anything else the list
// names as the source (a letter, a device path) is not a root to write under.
TEST(WinFileWriterVolumeTest, OnlyAVolumeGuidRootIsTakenForOne) {
    EXPECT_TRUE(IsVolumeGuidRoot(L"\\\\?\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}\\"));
    EXPECT_FALSE(IsVolumeGuidRoot(L"\\\\?\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}"));
    EXPECT_FALSE(IsVolumeGuidRoot(L"\\\\?\\Volume{}"));
    EXPECT_FALSE(IsVolumeGuidRoot(L"E:"));
    EXPECT_FALSE(IsVolumeGuidRoot(L"E:\\"));
    EXPECT_FALSE(IsVolumeGuidRoot(L"\\\\.\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}\\"));
    EXPECT_FALSE(IsVolumeGuidRoot(std::wstring()));
}

}  // namespace
}  // namespace tarvex
