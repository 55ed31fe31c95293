#pragma once
// The real engine over a fresh virtual update device, detected and opened as the update button
// leaves it, with a window that answers by itself. A fuzz target builds one per input, so that
// no state and no recorded report carries over from one input to the next.
//
// Threads: no worker is ever started; the target's thread drives everything through
// BeginUpdateRun, SelectFirmwareImage and DispatchReport.

#include <filesystem>
#include <memory>

#include "fuzz/AutoAnswerView.h"
#include "hid/Hid.h"
#include "platform/UiLanguage.h"
#include "sim/VirtualHidPort.h"
#include "update/UpdateEngine.h"

namespace tarvex::fuzz {

class CEngineRig {
public:
    // `image` is what the file dialog returns.
    explicit CEngineRig(const std::filesystem::path& image) : View(image) {
        Port.AttachUpdateDevice(pDevice);
        if (!Hid.DetectDevice() || !Hid.OpenDevice()) {
            __builtin_trap();  // the virtual device is always there: the rig itself is broken
        }
    }

    // A whole acknowledgement as ReadReport delivers it (report byte 1 onward).
    static HidReport Acknowledgement() {
        HidReport reply{};
        reply[kReportMarker - 1] = 0x00;
        reply[kReportOpcode - 1] = kReplyCommand;
        reply[kReportReplyCode - 1] = kReplyCodeAck;
        return reply;
    }

    std::shared_ptr<sim::CVirtualUpdateDevice> pDevice =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort Port;
    sim::CVirtualUsbDeviceList Usb;
    CHid Hid{Port, Usb};
    CAutoAnswerView View;
    CFixedUiLanguage Language{kLanguageEnglishUs};
    CUpdateEngine Engine{Hid, View, Language};
};

}  // namespace tarvex::fuzz
