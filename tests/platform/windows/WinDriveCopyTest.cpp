// A drive-copy run through the engine on Windows file names (under wine, the host's files): the
// real Windows writer puts 1.dat onto the volume, and the copy kept in the staging folder never
// replaces the image the user chose, whatever name the user reached it under (another case, a
// second hard link): the engine compares files, which on Windows are told apart by volume serial
// and file index.

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>

#include "hid/DeviceIdentity.h"
#include "hid/Hid.h"
#include "platform/windows/WinFileWriter.h"
#include "sim/SampleImage.h"
#include "sim/VirtualHidPort.h"
#include "tests/update/EngineTestSupport.h"
#include "update/UpdateEngine.h"

namespace tarvex {
namespace {

using testing::CRecordingView;

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// One volume of the device's size: a folder standing for the drive's root.
class COneVolume final : public CVolumeList {
public:
    void SetRoot(std::filesystem::path root) { m_Root = std::move(root); }
    std::vector<VolumeInfo> ListVolumes() override {
        return {VolumeInfo{m_Root, "M:", kImageDriveCapacity, {}, {}}};
    }
    bool CanFindVolumesOf(const std::string&) override { return false; }

private:
    std::filesystem::path m_Root;
};

class WinDriveCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Root = std::filesystem::temp_directory_path() /
                 (L"tarvex-drive-\x56FA\x4EF6-" + std::to_wstring(::GetCurrentProcessId()));
        std::filesystem::remove_all(m_Root);
        std::filesystem::create_directories(m_Root / L"volume");
        m_Volumes.SetRoot(m_Root / L"volume");
        m_Usb.AddDevice(kTargetVendorId, kDriveModeProductIds[2]);
        m_Services.StagingFolder = m_Root / L"staging \x00E9";
        std::filesystem::create_directories(m_Services.StagingFolder);
        sim::SampleImageSpec spec;
        spec.LeadSize = 0x1000;
        spec.PayloadLength = 256;
        m_Image = sim::BuildSampleImage(spec);
        m_Lead.assign(m_Image.begin(), m_Image.begin() + 0x1000 + 512);
    }
    void TearDown() override { std::filesystem::remove_all(m_Root); }

    std::optional<UpdateOutcome> Run(const std::filesystem::path& chosen) {
        CRecordingView view;
        view.ImageAnswer = chosen;
        CUpdateEngine engine(m_Hid, view, m_Language, m_Services);
        engine.Initialise();
        if (!engine.OnUsbUpdate()) {
            ADD_FAILURE() << "the update button started nothing";
            return std::nullopt;
        }
        return view.WaitForRunEnd();
    }

    std::filesystem::path m_Root;
    sim::CVirtualHidPort m_Port;
    sim::CVirtualUsbDeviceList m_Usb;
    CHid m_Hid{m_Port, m_Usb};
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    COneVolume m_Volumes;
    CWinFileWriter m_Writer;
    DriveCopyServices m_Services{&m_Volumes, &m_Usb, &m_Writer, {}};
    std::vector<std::uint8_t> m_Image;
    std::vector<std::uint8_t> m_Lead;
};

TEST_F(WinDriveCopyTest, TheLeadSectionGoesOntoTheVolumeAndACopyIsKept) {
    const auto chosen = m_Root / L"\x56FA\x4EF6 image.dat";
    WriteBytes(chosen, m_Image);
    EXPECT_EQ(Run(chosen), UpdateOutcome::Succeeded);
    EXPECT_EQ(ReadBytes(m_Root / L"volume" / L"1.dat"), m_Lead);
    EXPECT_EQ(ReadBytes(m_Services.StagingFolder / L"1.dat"), m_Lead);
    EXPECT_EQ(ReadBytes(chosen), m_Image);
}

TEST_F(WinDriveCopyTest, TheKeptCopyNeverReplacesTheChosenImageUnderAnyName) {
    const auto kept = m_Services.StagingFolder / L"1.dat";
    const auto otherLink = m_Root / L"mine.dat";
    struct Case {
        const char* What;
        std::filesystem::path Chosen;
        bool bHardLink;
    };
    const std::vector<Case> cases = {
        {"the kept copy's own name", kept, false},
        {"the same name in capitals", m_Services.StagingFolder / L"1.DAT", false},
        {"the staging folder reached through '..'",
         m_Services.StagingFolder / L".." / m_Services.StagingFolder.filename() / L"1.dat", false},
        {"a second hard link under another name", otherLink, true},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(kept);
        std::filesystem::remove(otherLink);
        WriteBytes(kept, m_Image);
        if (c.bHardLink) {
            ASSERT_TRUE(::CreateHardLinkW(otherLink.c_str(), kept.c_str(), nullptr)) << c.What;
        }
        EXPECT_EQ(Run(c.Chosen), UpdateOutcome::Succeeded) << c.What;
        EXPECT_EQ(ReadBytes(c.Chosen), m_Image) << c.What << ": the user's image was cut down";
        EXPECT_EQ(ReadBytes(m_Root / L"volume" / L"1.dat"), m_Lead) << c.What;
    }
}

}  // namespace
}  // namespace tarvex
