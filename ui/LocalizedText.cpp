#include "ui/LocalizedText.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tarvex {
namespace {

struct TextEntry {
    std::uint16_t Id;
    std::string_view Text;
};

// Chinese at 3000 + index, English at 4000 + index. Kept sorted by id for the binary search
// below; the static_assert refuses a table that is out of order or names an id twice.
constexpr auto kTextTable = std::to_array<TextEntry>({
    {3016,
     "1.  手柄关机状态下按住 L + R + Start 键开机，顶部电源灯\r\n"
     "   闪烁（USB端口旁）。\r\n"
     "\r\n"
     "2. 插入 USB 线。 \r\n"
     "\r\n"
     "3. 点击 USB 升级按钮，选择固件文件(.dat)升级。"},
    {3017, "打开文件失败，请检查该文件！"},
    {3023, "Tarvex Update"},
    {3024, "文件类型中显示的内容"},
    {3025, "升级固件版本: V%.02f"},
    {3026, "升级成功."},
    {3027, "固件更新失败"},
    {3031, "升级固件版本: V%.02f  Beta%d"},
    {3040,
     "已找到升级设备，但无法打开：权限不足。\r\n"
     "请安装本程序附带的 udev 规则（60-tarvex-update.rules），然后重新插入设备。"},
    {3041, "该设备正忙于另一项升级：另一个程序正在升级它。请在那次升级完成后重试。"},
    {3042, "正在升级设备固件"},
    {4016,
     "1. While the controller is off, press and hold L + R + Start and\r\n"
     "   connect the controller to the PC via a USB cable. The\r\n"
     "   first profile light will blink.\r\n"
     "\r\n"
     "2. Connect to PC via USB cable.\r\n"
     "\r\n"
     "3. Click \"USB Update\" button and select firmware file(.dat)."},
    {4017, "Open file error! Please check the file!"},
    {4023, "Tarvex Update"},
    {4024, "File type"},
    {4025, "Update firmware version: V%.02f"},
    {4026, "Firmware upgraded successful!"},
    {4027, "Firmware update failure"},
    {4031, "Update firmware version: V%.02f  Beta%d"},
    {4040,
     "The update device was found but cannot be opened: permission denied.\r\n"
     "Install the udev rule that comes with this program (60-tarvex-update.rules) and "
     "plug the device in again."},
    {4041,
     "The device is busy with another update: another program is updating it. Try again once "
     "that update has finished."},
    {4042, "Updating the firmware of a device"},
});

static_assert(std::ranges::adjacent_find(kTextTable, std::ranges::greater_equal{},
                                         &TextEntry::Id) == kTextTable.end());

std::string_view FindText(std::int64_t id) {
    const auto entry = std::ranges::lower_bound(
        kTextTable, id, {}, [](const TextEntry& e) { return static_cast<std::int64_t>(e.Id); });
    if (entry == kTextTable.end() || entry->Id != id) {
        return {};
    }
    return entry->Text;
}

}  // namespace

std::string LoadLocalizedString(std::int32_t index, LanguageId language) {
    const std::int64_t base =
        language == kLanguageChineseSimplifiedPrc ? kChineseTextBase : kEnglishTextBase;
    // Widened so that an index near the int32 limits cannot overflow into a valid id.
    return std::string(FindText(base + index));
}

std::string LoadLocalizedString(std::int32_t index, const CUiLanguage& language) {
    return LoadLocalizedString(index, language.UserDefaultUiLanguage());
}

}  // namespace tarvex
