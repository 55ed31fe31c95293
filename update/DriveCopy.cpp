// The drive-copy update: choosing the volume, reading the lead section, staging 1.dat, and the
// run that copies it onto the device's volume.

#include "update/DriveCopy.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "hid/DeviceIdentity.h"
#include "ui/LocalizedText.h"
#include "update/UpdateEngine.h"

namespace tarvex {

namespace {

constexpr const char* kImageFilterPattern = "(*.dat)|*.dat||";

bool BelongsToDriveModeDevice(const VolumeInfo& volume, std::span<const UsbDeviceInfo> usbDevices) {
    if (volume.UsbDeviceSystemPath.empty()) {
        return false;
    }
    return std::any_of(usbDevices.begin(), usbDevices.end(), [&](const UsbDeviceInfo& device) {
        return IsDriveModeDevice(device.VendorId, device.ProductId) &&
               device.SystemPath == volume.UsbDeviceSystemPath;
    });
}

// Byte order of the path, as CVolumeList sorts; std::filesystem::path's own ordering compares
// element by element and would put "/a/b" before "/a-b".
bool EarlierMountPoint(const VolumeInfo& a, const VolumeInfo& b) {
    return a.MountPoint.native() < b.MountPoint.native();
}

}  // namespace

const char* ToString(DriveCopyFailure failure) {
    switch (failure) {
        case DriveCopyFailure::None:
            return "none";
        case DriveCopyFailure::NoMatchingVolume:
            return "no mounted volume has the device's capacity";
        case DriveCopyFailure::StagingFailed:
            return "the copy file could not be staged";
        case DriveCopyFailure::CopyFailed:
            return "writing the copy file onto the volume failed";
    }
    return "unknown";
}

std::optional<VolumeInfo> FindImageDrive(std::span<const VolumeInfo> volumes,
                                         std::span<const UsbDeviceInfo> usbDevices) {
    const VolumeInfo* pFirst = nullptr;
    const VolumeInfo* pOwn = nullptr;
    for (const auto& volume : volumes) {
        if (!IsImageDriveCapacity(volume.CapacityBytes)) {
            continue;
        }
        if (pFirst == nullptr || EarlierMountPoint(volume, *pFirst)) {
            pFirst = &volume;
        }
        if (BelongsToDriveModeDevice(volume, usbDevices) &&
            (pOwn == nullptr || EarlierMountPoint(volume, *pOwn))) {
            pOwn = &volume;
        }
    }
    const VolumeInfo* pChosen = pOwn != nullptr ? pOwn : pFirst;
    if (pChosen == nullptr) {
        return std::nullopt;
    }
    return *pChosen;
}

LeadSection ReadLeadSection(const std::filesystem::path& path) {
    LeadSection lead;
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return lead;
    }
    std::array<std::uint8_t, kLeadSizeFieldEnd> start{};
    file.read(reinterpret_cast<char*>(start.data()), start.size());
    if (file.gcount() != static_cast<std::streamsize>(start.size())) {
        lead.Refusal =
            file.bad() ? LeadSectionRefusal::ReadFailed : LeadSectionRefusal::TooShortForLeadSize;
        return lead;
    }
    lead.DeclaredLength = ReadBe16(std::span(start).subspan(kLeadSizeOffset, 2)) + kLeadSectionBase;

    lead.Bytes.resize(lead.DeclaredLength);
    std::copy(start.begin(), start.end(), lead.Bytes.begin());
    const std::size_t rest = lead.Bytes.size() - start.size();
    file.read(reinterpret_cast<char*>(lead.Bytes.data() + start.size()),
              static_cast<std::streamsize>(rest));
    if (file.bad()) {
        lead.Refusal = LeadSectionRefusal::ReadFailed;
        lead.Bytes.clear();
        return lead;
    }
    // A short read here is the end of an image shorter than its lead section.
    lead.Bytes.resize(start.size() + static_cast<std::size_t>(file.gcount()));
    lead.Refusal = LeadSectionRefusal::None;
    return lead;
}

bool CUpdateEngine::StartDriveCopy() {
    const std::uint64_t run = TakeRunSlot();
    if (run == 0) {
        return false;
    }
    m_bDriveCopyActive.store(true);
    m_RunOutcome.store(UpdateOutcome::Failed);
    m_DriveCopyFailure.store(DriveCopyFailure::None);
    // Disabled for the whole run, so that a second press cannot start a second copy; the
    // refresh after the run enables it again if the device is still there.
    m_View.EnableUpdateButton(false);
    m_Workers.Start([this, run] { DriveCopyThread(run); });
    return true;
}

void CUpdateEngine::DriveCopyThread(std::uint64_t run) {
    const UpdateOutcome outcome = DriveCopyUpdate();
    m_RunOutcome.store(outcome);
    m_bDriveCopyActive.store(false);
    CloseRun(run, outcome);
}

UpdateOutcome CUpdateEngine::DriveCopyUpdate() {
    std::error_code error;
    const auto initialFolder = std::filesystem::current_path(error);
    const auto chosen = m_View.AskImagePath(Text(kTextFileType) + kImageFilterPattern,
                                            error ? std::filesystem::path() : initialFolder);
    if (!chosen || m_bShutdown.load()) {
        return UpdateOutcome::Cancelled;
    }

    const LeadSection lead = ReadLeadSection(*chosen);
    if (lead.Refusal != LeadSectionRefusal::None) {
        m_View.ShowPrompt(Text(kTextOpenFileError), kPromptNotice);
        return UpdateOutcome::ImageRefused;
    }
    if (!StageDriveCopyFile(lead.Bytes)) {
        return FailDriveCopy(DriveCopyFailure::StagingFailed);
    }

    const auto volumes = m_DriveCopy.pVolumes != nullptr ? m_DriveCopy.pVolumes->ListVolumes()
                                                         : std::vector<VolumeInfo>{};
    const auto usbDevices = m_DriveCopy.pUsbDevices != nullptr
                                ? m_DriveCopy.pUsbDevices->ListUsbDevices()
                                : std::vector<UsbDeviceInfo>{};
    const auto drive = FindImageDrive(volumes, usbDevices);
    // Without the device's volume there is nowhere safe to copy to; the current folder's volume
    // is never the device's.
    if (!drive) {
        return FailDriveCopy(DriveCopyFailure::NoMatchingVolume);
    }
    if (!WriteDriveCopyFile(drive->MountPoint / kDriveCopyFileName, lead.Bytes)) {
        return FailDriveCopy(DriveCopyFailure::CopyFailed);
    }
    m_View.ShowSuccessBox(Text(kTextSuccess), Text(kTextTitle));
    return UpdateOutcome::Succeeded;
}

bool CUpdateEngine::StageDriveCopyFile(std::span<const std::uint8_t> leadSection) {
    // The program's folder is the usual place, but an installed program's folder is not
    // writable for its user; the cache folder then takes the copy.
    if (!m_DriveCopy.ProgramFolder.empty() &&
        WriteDriveCopyFile(m_DriveCopy.ProgramFolder / kDriveCopyFileName, leadSection)) {
        return true;
    }
    if (m_DriveCopy.CacheFolder.empty()) {
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(m_DriveCopy.CacheFolder, error);
    return WriteDriveCopyFile(m_DriveCopy.CacheFolder / kDriveCopyFileName, leadSection);
}

bool CUpdateEngine::WriteDriveCopyFile(const std::filesystem::path& target,
                                       std::span<const std::uint8_t> leadSection) {
    if (m_DriveCopy.pFileWriter == nullptr) {
        return false;
    }
    const FileWriteResult written = m_DriveCopy.pFileWriter->WriteWholeFile(target, leadSection);
    if (written.FileTouched()) {
        // A partial 1.dat on the device's volume could be taken for a whole one. On a volume
        // that has gone away this fails too, and there is nothing left to remove.
        std::error_code error;
        std::filesystem::remove(target, error);
    }
    return written.Ok();
}

UpdateOutcome CUpdateEngine::FailDriveCopy(DriveCopyFailure failure) {
    m_DriveCopyFailure.store(failure);
    m_View.ShowPrompt(Text(kTextFailure), kPromptNotice);
    return UpdateOutcome::Failed;
}

}  // namespace tarvex
