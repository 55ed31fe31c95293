#include "ui/LocalizedText.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {
namespace {

// Expected multi-line texts are written line by line so that every leading and trailing blank
// stays visible; the texts break their lines with CR LF.
std::string JoinCrLf(std::initializer_list<std::string_view> lines) {
    std::string joined;
    const char* separator = "";
    for (const std::string_view line : lines) {
        joined += separator;
        joined += line;
        separator = "\r\n";
    }
    return joined;
}

struct ExpectedText {
    std::int32_t Index;
    std::string Chinese;
    std::string English;
};

const std::vector<ExpectedText>& ExpectedTexts() {
    static const std::vector<ExpectedText> texts = {
        {16,
         JoinCrLf({"1.  手柄关机状态下按住 L + R + Start 键开机，顶部电源灯",
                   "   闪烁（USB端口旁）。", "", "2. 插入 USB 线。 ", "",
                   "3. 点击 USB 升级按钮，选择固件文件(.dat)升级。"}),
         JoinCrLf({"1. While the controller is off, press and hold L + R + Start and",
                   "   connect the controller to the PC via a USB cable. The",
                   "   first profile light will blink.", "", "2. Connect to PC via USB cable.", "",
                   "3. Click \"USB Update\" button and select firmware file(.dat)."})},
        {17, "打开文件失败，请检查该文件！", "Open file error! Please check the file!"},
        {23, "Tarvex Update", "Tarvex Update"},
        {24, "文件类型中显示的内容", "File type"},
        {25, "升级固件版本: V%.02f", "Update firmware version: V%.02f"},
        {26, "升级成功.", "Firmware upgraded successful!"},
        {27, "固件更新失败", "Firmware update failure"},
        {31, "升级固件版本: V%.02f  Beta%d", "Update firmware version: V%.02f  Beta%d"},
        {40,
         JoinCrLf({"已找到升级设备，但无法打开：权限不足。",
                   "请安装本程序附带的 udev 规则（60-tarvex-update.rules），然后重新插入设备。"}),
         JoinCrLf({"The update device was found but cannot be opened: permission denied.",
                   "Install the udev rule that comes with this program (60-tarvex-update.rules) "
                   "and plug the device in again."})},
        {41, "该设备正忙于另一项升级：另一个程序正在升级它。请在那次升级完成后重试。",
         "The device is busy with another update: another program is updating it. Try again "
         "once that update has finished."},
        {42, "正在升级设备固件", "Updating the firmware of a device"},
        {43, JoinCrLf({"正在等待设备的磁盘被挂载（最多 %d 秒）……", "挂载后将自动开始复制。"}),
         JoinCrLf({"Waiting for the device's volume to be mounted (at most %d s)...",
                   "The copy starts by itself once it is."})},
        {44, "没有已挂载的磁盘与设备的大小（104 KiB）相符。请挂载设备的磁盘，然后重试。",
         "No mounted volume has the device's size (104 KiB). Mount the device's volume, then "
         "try again."},
        {45, "设备的磁盘未能及时挂载。请挂载它，然后重试。",
         "The device's volume was not mounted in time. Mount it, then try again."},
        {46, "设备在其磁盘挂载之前已断开。", "The device went away before its volume was mounted."},
        {47, "设备的磁盘已满。", "The device's volume is full."},
        {48, "设备的磁盘为只读。", "The device's volume is read-only."},
        {49, "没有写入设备磁盘的权限。", "Writing onto the device's volume is not permitted."},
        {50, "写入时设备已断开或出错。", "The device went away or failed during the copy."},
        {51, "写入前设备的磁盘已被卸载，或被其他挂载覆盖。",
         "The device's volume was unmounted or covered by another mount before the copy."},
        {52, "设备的磁盘上名为 1.dat 的不是普通文件。",
         "On the device's volume, 1.dat is not a regular file."},
        {53, "无法将文件写入设备的磁盘。",
         "The copy could not be written onto the device's volume."},
        {54,
         "无法确定哪个磁盘属于要升级的设备，因此未写入任何内容。请只连接要升级的设备，然后重试。",
         "Nothing was written: this system cannot tell which volume belongs to the device. "
         "Attach only the device to update, then try again."},
        {55,
         JoinCrLf(
             {"已找到升级设备，但无法打开：Windows 拒绝访问。",
              "请关闭可能占用或隐藏该设备的程序（手柄工具、按键映射软件等），然后重新插入设备。"}),
         JoinCrLf({"The update device was found but cannot be opened: Windows denied access.",
                   "Close the programs that may hold or hide the device (controller tools, button "
                   "mapping software) and plug the device in again."})},
        {56, JoinCrLf({"正在挂载设备的磁盘……", "挂载后将自动开始复制。"}),
         JoinCrLf(
             {"Mounting the device's volume...", "The copy starts by itself once it is mounted."})},
        {57, "系统不允许挂载设备的磁盘，未写入任何内容。请在文件管理器中挂载它，然后重试。",
         "Nothing was written: this system does not allow the device's volume to be mounted. "
         "Mount it in the file manager, then try again."},
        {58, "无法挂载设备的磁盘，未写入任何内容。请在文件管理器中挂载它，然后重试。",
         "Nothing was written: the device's volume could not be mounted. Mount it in the file "
         "manager, then try again."},
        {59, "挂载设备的磁盘需要输入密码，未写入任何内容。请在文件管理器中挂载它，然后重试。",
         "Nothing was written: mounting the device's volume needs a password. Mount it in the "
         "file manager, then try again."},
        {60, "复制上次更新的详细信息", "Copy the last update's details"},
    };
    return texts;
}

TEST(LocalizedText, EveryTextIsByteExactInBothLanguages) {
    for (const ExpectedText& text : ExpectedTexts()) {
        SCOPED_TRACE(text.Index);
        EXPECT_EQ(LoadLocalizedString(text.Index, kLanguageChineseSimplifiedPrc), text.Chinese);
        EXPECT_EQ(LoadLocalizedString(text.Index, kLanguageEnglishUs), text.English);
    }
}

TEST(LocalizedText, OnlyTheWholeIdentifier0x0804SelectsChinese) {
    struct LanguageCase {
        LanguageId Language;
        bool Chinese;
    };
    const LanguageCase cases[] = {
        {0x0804, true},   // Chinese Simplified, PRC
        {0x0409, false},  // English, United States
        {0x0404, false},  // Chinese, Taiwan
        {0x0C04, false},  // Chinese, Hong Kong SAR
        {0x1004, false},  // Chinese, Singapore
        {0x0004, false},  // Chinese Simplified without a region
        {0x0411, false},  // Japanese
    };
    for (const LanguageCase& language : cases) {
        for (const ExpectedText& text : ExpectedTexts()) {
            SCOPED_TRACE(testing::Message() << "language 0x" << std::hex << language.Language
                                            << std::dec << ", index " << text.Index);
            EXPECT_EQ(LoadLocalizedString(text.Index, language.Language),
                      language.Chinese ? text.Chinese : text.English);
        }
    }
}

TEST(LocalizedText, IndexWithoutTextIsEmptyWithoutFallBack) {
    constexpr std::int32_t kLowest = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kHighest = std::numeric_limits<std::int32_t>::max();
    const std::int32_t indexes[] = {20, 0, 15, 18, 32, 39, 61, -1000, kLowest, kHighest};
    for (const std::int32_t index : indexes) {
        for (const LanguageId language :
             {LanguageId{0x0804}, LanguageId{0x0409}, LanguageId{0x0404}}) {
            SCOPED_TRACE(testing::Message()
                         << "index " << index << ", language 0x" << std::hex << language);
            EXPECT_EQ(LoadLocalizedString(index, language), "");
        }
    }
}

TEST(LocalizedText, TitleIsTheSameInBothLanguages) {
    EXPECT_EQ(LoadLocalizedString(23, kLanguageChineseSimplifiedPrc), "Tarvex Update");
    EXPECT_EQ(LoadLocalizedString(23, kLanguageEnglishUs), "Tarvex Update");
}

TEST(LocalizedText, BitmapIdsAreTheEnglishPictures) {
    EXPECT_EQ(LocalizedBitmapId(10), 4010u);
    EXPECT_EQ(LocalizedBitmapId(13), 4013u);
}

// A language the test can change between two lookups.
class CSwitchableUiLanguage final : public CUiLanguage {
public:
    LanguageId UserDefaultUiLanguage() const override { return m_Language; }
    void Switch(LanguageId language) { m_Language = language; }

private:
    LanguageId m_Language = kLanguageEnglishUs;
};

TEST(LocalizedText, AsksTheLanguageAtEveryLookup) {
    CSwitchableUiLanguage language;
    language.Switch(kLanguageChineseSimplifiedPrc);
    EXPECT_EQ(LoadLocalizedString(26, language), "升级成功.");
    language.Switch(0x0409);
    EXPECT_EQ(LoadLocalizedString(26, language), "Firmware upgraded successful!");
    language.Switch(kLanguageChineseSimplifiedPrc);
    EXPECT_EQ(LoadLocalizedString(26, language), "升级成功.");
}

}  // namespace
}  // namespace tarvex
