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
    {3043, "正在等待设备的磁盘被挂载（最多 %d 秒）……\r\n挂载后将自动开始复制。"},
    {3044, "没有已挂载的磁盘与设备的大小（104 KiB）相符。请挂载设备的磁盘，然后重试。"},
    {3045, "设备的磁盘未能及时挂载。请挂载它，然后重试。"},
    {3046, "设备在其磁盘挂载之前已断开。"},
    {3047, "设备的磁盘已满。"},
    {3048, "设备的磁盘为只读。"},
    {3049, "没有写入设备磁盘的权限。"},
    {3050, "写入时设备已断开或出错。"},
    {3051, "写入前设备的磁盘已被卸载，或被其他挂载覆盖。"},
    {3052, "设备的磁盘上名为 1.dat 的不是普通文件。"},
    {3053, "无法将文件写入设备的磁盘。"},
    {3054,
     "无法确定哪个磁盘属于要升级的设备，因此未写入任何内容。请只连接要升级的设备，然后重试。"},
    {3055,
     "已找到升级设备，但无法打开：Windows 拒绝访问。\r\n"
     "请关闭可能占用或隐藏该设备的程序（手柄工具、按键映射软件等），然后重新插入设备。"},
    {3056, "正在挂载设备的磁盘……\r\n挂载后将自动开始复制。"},
    {3057, "系统不允许挂载设备的磁盘，未写入任何内容。请在文件管理器中挂载它，然后重试。"},
    {3058, "无法挂载设备的磁盘，未写入任何内容。请在文件管理器中挂载它，然后重试。"},
    {3059, "挂载设备的磁盘需要输入密码，未写入任何内容。请在文件管理器中挂载它，然后重试。"},
    {3060, "复制上次更新的详细信息"},
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
    {4043,
     "Waiting for the device's volume to be mounted (at most %d s)...\r\n"
     "The copy starts by itself once it is."},
    {4044,
     "No mounted volume has the device's size (104 KiB). Mount the device's volume, then try "
     "again."},
    {4045, "The device's volume was not mounted in time. Mount it, then try again."},
    {4046, "The device went away before its volume was mounted."},
    {4047, "The device's volume is full."},
    {4048, "The device's volume is read-only."},
    {4049, "Writing onto the device's volume is not permitted."},
    {4050, "The device went away or failed during the copy."},
    {4051, "The device's volume was unmounted or covered by another mount before the copy."},
    {4052, "On the device's volume, 1.dat is not a regular file."},
    {4053, "The copy could not be written onto the device's volume."},
    {4054,
     "Nothing was written: this system cannot tell which volume belongs to the device. Attach "
     "only the device to update, then try again."},
    {4055,
     "The update device was found but cannot be opened: Windows denied access.\r\n"
     "Close the programs that may hold or hide the device (controller tools, button mapping "
     "software) and plug the device in again."},
    {4056, "Mounting the device's volume...\r\nThe copy starts by itself once it is mounted."},
    {4057,
     "Nothing was written: this system does not allow the device's volume to be mounted. Mount "
     "it in the file manager, then try again."},
    {4058,
     "Nothing was written: the device's volume could not be mounted. Mount it in the file "
     "manager, then try again."},
    {4059,
     "Nothing was written: mounting the device's volume needs a password. Mount it in the file "
     "manager, then try again."},
    {4060, "Copy the last update's details"},
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
