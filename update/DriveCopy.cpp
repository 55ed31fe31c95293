// The drive-copy update: reading the lead section, keeping a copy of 1.dat for the user, the run
// that copies it onto the device's volume, and why a copy failed. Which volume that is, and the
// wait for it, is DriveChoice.cpp's.

#include "update/DriveCopy.h"

#include <algorithm>
#include <system_error>

#include "platform/FileAccess.h"
#include "ui/LocalizedText.h"
#include "update/DriveVolumeMount.h"
#include "update/UpdateEngine.h"

namespace tarvex {

namespace {

constexpr const char* kImageFilterPattern = "(*.dat)|*.dat||";

// The same file, whatever the names: both exist and have the same device and inode (the same
// file index on Windows).
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    const bool same = std::filesystem::equivalent(a, b, error);
    return !error && same;
}

}  // namespace

const char* ToString(DriveCopyFailure failure) {
    switch (failure) {
        case DriveCopyFailure::None:
            return "none";
        case DriveCopyFailure::NoMatchingVolume:
            return "no mounted volume has the device's capacity";
        case DriveCopyFailure::VolumeNotMounted:
            return "the device's volume was not mounted in time";
        case DriveCopyFailure::DeviceLeft:
            return "the device went away before its volume was mounted";
        case DriveCopyFailure::CopyFailed:
            return "writing the copy file onto the volume failed";
        case DriveCopyFailure::CannotTellVolume:
            return "the system cannot tell which volume is the device's";
        case DriveCopyFailure::MountNotAuthorized:
            return "mounting the device's volume was not authorized";
        case DriveCopyFailure::MountNeedsAuthentication:
            return "mounting the device's volume needs authentication";
        case DriveCopyFailure::MountFailed:
            return "the device's volume could not be mounted";
    }
    return "unknown";
}

std::int32_t DriveCopyFailureReasonText(DriveCopyFailure failure, FileWriteError writeError) {
    switch (failure) {
        case DriveCopyFailure::None:
            return 0;
        case DriveCopyFailure::NoMatchingVolume:
            return kTextNoVolumeOfTheDevicesSize;
        case DriveCopyFailure::VolumeNotMounted:
            return kTextVolumeNotMounted;
        case DriveCopyFailure::DeviceLeft:
            return kTextDeviceLeftBeforeItsVolume;
        case DriveCopyFailure::CannotTellVolume:
            return kTextCannotTellVolume;
        case DriveCopyFailure::MountNotAuthorized:
            return kTextMountNotAuthorized;
        case DriveCopyFailure::MountNeedsAuthentication:
            return kTextMountNeedsAuthentication;
        case DriveCopyFailure::MountFailed:
            return kTextMountFailed;
        case DriveCopyFailure::CopyFailed:
            break;
    }
    switch (writeError) {
        case FileWriteError::NoSpace:
            return kTextVolumeFull;
        case FileWriteError::ReadOnly:
            return kTextVolumeReadOnly;
        case FileWriteError::PermissionDenied:
            return kTextVolumeWriteDenied;
        case FileWriteError::DeviceGone:
        case FileWriteError::IoError:
            return kTextVolumeWriteBroke;
        case FileWriteError::NotTheListedVolume:
            return kTextVolumeNoLongerThere;
        case FileWriteError::NotRegularFile:
            return kTextCopyNameTaken;
        case FileWriteError::None:
        case FileWriteError::Other:
            break;
    }
    return kTextVolumeWriteFailed;
}

LeadSection ReadLeadSection(const std::filesystem::path& path) {
    LeadSection lead;
    CReadableFile file(path);
    if (file.NotRegularFile()) {
        lead.Refusal = LeadSectionRefusal::NotRegularFile;
        return lead;
    }
    if (!file.IsOpen()) {
        return lead;
    }
    std::array<std::uint8_t, kLeadSizeFieldEnd> start{};
    std::error_code error;
    if (file.Read(start, error) != start.size()) {
        lead.Refusal =
            error ? LeadSectionRefusal::ReadFailed : LeadSectionRefusal::TooShortForLeadSize;
        return lead;
    }
    lead.DeclaredLength = ReadBe16(std::span(start).subspan(kLeadSizeOffset, 2)) + kLeadSectionBase;

    lead.Bytes.resize(lead.DeclaredLength);
    std::copy(start.begin(), start.end(), lead.Bytes.begin());
    const std::size_t got = file.Read(std::span(lead.Bytes).subspan(start.size()), error);
    if (error) {
        lead.Refusal = LeadSectionRefusal::ReadFailed;
        lead.Bytes.clear();
        return lead;
    }
    // A short read here is the end of an image shorter than its lead section.
    lead.Bytes.resize(start.size() + got);
    lead.Refusal = LeadSectionRefusal::None;
    return lead;
}

bool CUpdateEngine::StartDriveCopy() {
    // Every drive-mode device attached may be the one whose volume the run writes: another
    // program copying onto any of them leaves them all alone.
    std::optional<DeviceLocks> locks = LockDevices(AttachedDriveModeDevices());
    if (!locks) {
        ShowDeviceBusyNotice();
        return false;
    }
    const std::uint64_t run = TakeRunSlot();
    if (run == 0) {
        return false;
    }
    {
        std::lock_guard lock(m_RunGuardLock);
        m_RunDeviceLocks = std::move(*locks);
    }
    m_bDriveCopyActive.store(true);
    m_RunOutcome.store(UpdateOutcome::Failed);
    m_DriveCopyFailure.store(DriveCopyFailure::None);
    m_DriveCopyWriteError.store(FileWriteError::None);
    // Disabled for the whole run, so that a second press cannot start a second copy; the
    // refresh after the run enables it again if the device is still there.
    m_View.EnableUpdateButton(false);
    m_Workers.Start([this, run] { DriveCopyThread(run); });
    return true;
}

void CUpdateEngine::DriveCopyThread(std::uint64_t run) {
    BlockSleepForRun();
    const UpdateOutcome outcome = DriveCopyUpdate();
    m_RunOutcome.store(outcome);
    m_bDriveCopyActive.store(false);
    CloseRun(run, outcome);
}

UpdateOutcome CUpdateEngine::DriveCopyUpdate() {
    std::error_code error;
    const auto initialFolder = std::filesystem::current_path(error);
    // Asked before the file dialog, so that nothing is chosen, kept or written in vain.
    if (m_DriveCopy.pVolumes != nullptr &&
        MustRefuseUntiedVolume(AttachedDriveModeDevices().size(), OwnDriveModeDevices(),
                               m_DriveCopy.bDeviceChosen)) {
        return FailDriveCopy(DriveCopyFailure::CannotTellVolume);
    }
    const auto chosen = m_View.AskImagePath(Text(kTextFileType) + kImageFilterPattern,
                                            error ? std::filesystem::path() : initialFolder);
    if (!chosen || StopRequested()) {
        return UpdateOutcome::Cancelled;
    }

    const LeadSection lead = ReadLeadSection(*chosen);
    if (lead.Refusal != LeadSectionRefusal::None) {
        m_View.ShowPrompt(Text(kTextOpenFileError), kPromptNotice);
        return UpdateOutcome::ImageRefused;
    }
    // The device's copy is written from memory below; the kept one is for the user only.
    KeepDriveCopyFile(lead.Bytes, *chosen);

    CDriveVolumeMount mount(m_DriveCopy.pVolumeMounter, m_View,
                            m_DriveCopy.bAllowMountAuthentication);
    const DriveTarget target = AwaitImageDrive(mount);
    if (!target.Volume) {
        // No failure: the wait was cut short by a shutdown.
        return target.Failure == DriveCopyFailure::None ? UpdateOutcome::Cancelled
                                                        : FailDriveCopy(target.Failure);
    }
    // Last point at which stopping (a shutdown, or the terminal's Ctrl-C) leaves the device as it
    // was; a copy once begun is finished.
    if (StopRequested()) {
        return UpdateOutcome::Cancelled;
    }
    const FileWriteResult written = CopyOntoVolume(*target.Volume, lead.Bytes);
    // The copy is flushed (or failed): the volume goes back to how it was found.
    mount.UnmountWhatWasMounted([this, device = target.Volume->UsbDeviceSystemPath] {
        return device.empty() || m_DriveCopy.pVolumes->CanFindVolumesOf(device);
    });
    if (!written.Ok()) {
        m_DriveCopyWriteError.store(written.Error);
        return FailDriveCopy(DriveCopyFailure::CopyFailed);
    }
    m_View.ShowSuccessBox(Text(kTextSuccess), Text(kTextTitle));
    return UpdateOutcome::Succeeded;
}

void CUpdateEngine::KeepDriveCopyFile(std::span<const std::uint8_t> leadSection,
                                      const std::filesystem::path& chosenImage) {
    if (m_DriveCopy.StagingFolder.empty()) {
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(m_DriveCopy.StagingFolder, error);
    const auto kept = m_DriveCopy.StagingFolder / kDriveCopyFileName;
    // Compared as files, not names: the user's image may be this very file under another path,
    // a link to it or a second hard link, and cutting it down to its lead section would lose it.
    if (SameFile(kept, chosenImage)) {
        return;
    }
    // A copy that cannot be kept costs the user nothing the device needs; the run goes on.
    WriteDriveCopyFile(kept, leadSection);
}

namespace {

FileWriteResult NoFileWriter() {
    return FileWriteResult{FileWriteError::Other, FileWriteStep::Open, 0, "no file writer"};
}

// A partial 1.dat could be taken for a whole one. On a volume that has gone away this fails
// too, and there is nothing left to remove.
void RemovePartialCopy(const FileWriteResult& written, const std::filesystem::path& copy) {
    if (written.FileTouched()) {
        std::error_code error;
        std::filesystem::remove(copy, error);
    }
}

}  // namespace

FileWriteResult CUpdateEngine::WriteDriveCopyFile(const std::filesystem::path& target,
                                                  std::span<const std::uint8_t> leadSection) {
    if (m_DriveCopy.pFileWriter == nullptr) {
        return NoFileWriter();
    }
    const FileWriteResult written = m_DriveCopy.pFileWriter->WriteWholeFile(target, leadSection);
    RemovePartialCopy(written, target);
    return written;
}

FileWriteResult CUpdateEngine::CopyOntoVolume(const VolumeInfo& volume,
                                              std::span<const std::uint8_t> leadSection) {
    if (m_DriveCopy.pFileWriter == nullptr) {
        return NoFileWriter();
    }
    // Onto the very file system the list found (not whatever the folder's path leads to by the
    // time of the write: the volume may have been unmounted, its folder left behind).
    // The writer removes a partial 1.dat itself: by the volume's path it could be another's.
    return m_DriveCopy.pFileWriter->WriteFileOnVolume(volume, kDriveCopyFileName, leadSection);
}

UpdateOutcome CUpdateEngine::FailDriveCopy(DriveCopyFailure failure) {
    m_DriveCopyFailure.store(failure);
    m_View.ShowFailureNotice(Text(kTextFailure), Text(DriveCopyFailureReasonText(
                                                     failure, m_DriveCopyWriteError.load())));
    return UpdateOutcome::Failed;
}

}  // namespace tarvex
