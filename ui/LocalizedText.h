#pragma once
// The numbered text table in Simplified Chinese and English. A caller names a text by its
// message index; the Chinese text has id 3000 + index, the English 4000 + index. Texts are
// UTF-8 and keep their \r\n line breaks. Safe on any thread: the table is constant.

#include <cstdint>
#include <string>

#include "platform/HidAccessRemedy.h"
#include "platform/UiLanguage.h"

namespace tarvex {

inline constexpr std::int32_t kTextInstructions = 16;
inline constexpr std::int32_t kTextOpenFileError = 17;
inline constexpr std::int32_t kTextTitle = 23;
inline constexpr std::int32_t kTextFileType = 24;
inline constexpr std::int32_t kTextConfirmVersion = 25;  // "%.02f" of the version / 100
inline constexpr std::int32_t kTextSuccess = 26;
inline constexpr std::int32_t kTextFailure = 27;
inline constexpr std::int32_t kTextConfirmBetaVersion = 31;  // "%.02f", then "%d" beta number
// The update device is present but its device node is not accessible to this user: the udev
// rule grants it.
inline constexpr std::int32_t kTextDevicePermissionDenied = 40;
// Another program holds the device's lock: it is being updated by someone else.
inline constexpr std::int32_t kTextDeviceBusy = 41;
// Why the system is asked not to sleep, as it shows to a user who wants to suspend meanwhile.
inline constexpr std::int32_t kTextSleepBlockReason = 42;
// A drive-copy run waits for the device's volume to be mounted; "%d" is the most it waits, in
// seconds.
inline constexpr std::int32_t kTextWaitingForVolume = 43;
// Why a drive-copy run failed, shown below the failure text.
inline constexpr std::int32_t kTextNoVolumeOfTheDevicesSize = 44;
inline constexpr std::int32_t kTextVolumeNotMounted = 45;
inline constexpr std::int32_t kTextDeviceLeftBeforeItsVolume = 46;
inline constexpr std::int32_t kTextVolumeFull = 47;
inline constexpr std::int32_t kTextVolumeReadOnly = 48;
inline constexpr std::int32_t kTextVolumeWriteDenied = 49;
inline constexpr std::int32_t kTextVolumeWriteBroke = 50;  // the device went away or failed
inline constexpr std::int32_t kTextVolumeNoLongerThere = 51;
inline constexpr std::int32_t kTextCopyNameTaken = 52;  // 1.dat is a folder, link, pipe...
inline constexpr std::int32_t kTextVolumeWriteFailed = 53;
// Several drive-mode devices (or one chosen by name) and no way to tell which volume is whose.
inline constexpr std::int32_t kTextCannotTellVolume = 54;
// The update device is present but Windows denies access to it: a tool that hides it from other
// programs is in the way.
inline constexpr std::int32_t kTextDeviceAccessDeniedWindows = 55;
// A drive-copy run mounts the device's volume itself, where nothing else does.
inline constexpr std::int32_t kTextMountingVolume = 56;
// Why that mount failed, shown below the failure text: not allowed for this user, another error
// of the system's disk service, allowed only after a password that was not asked for.
inline constexpr std::int32_t kTextMountNotAuthorized = 57;
inline constexpr std::int32_t kTextMountFailed = 58;
inline constexpr std::int32_t kTextMountNeedsAuthentication = 59;
// The windows' context-menu entry that copies the last run's record to the clipboard.
inline constexpr std::int32_t kTextCopyLastRun = 60;

inline constexpr std::uint16_t kChineseTextBase = 3000;
inline constexpr std::uint16_t kEnglishTextBase = 4000;

// Text of `index` in the language the identifier selects: Chinese only for exactly 0x0804.
// Empty when that language has no text for the index; there is no fall-back.
std::string LoadLocalizedString(std::int32_t index, LanguageId language);

// Same, asking `language` anew at every call.
std::string LoadLocalizedString(std::int32_t index, const CUiLanguage& language);

// The notice for an update device that the system refused to open for lack of permission, in
// the words of what the user can do about it there.
constexpr std::int32_t DeviceAccessDeniedText(HidAccessRemedy remedy) {
    return remedy == HidAccessRemedy::CloseProgramsHoldingIt ? kTextDeviceAccessDeniedWindows
                                                             : kTextDevicePermissionDenied;
}

// Picture id for the prompt's buttons; always the English pictures.
constexpr std::uint32_t LocalizedBitmapId(std::uint32_t index) {
    return kEnglishTextBase + index;
}

}  // namespace tarvex
