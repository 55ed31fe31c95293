#pragma once
// A USB gadget made through configfs (usb_gadget/NAME): device IDs and strings, functions (HID,
// mass storage) in one configuration, bound to a USB device controller. On a machine with
// dummy_hcd the host side of the same kernel then sees a real USB device on a virtual bus.
//
// The object owns what it created: its destructor unbinds the gadget and removes every folder
// and link it made, newest first, so a test never leaves a device plugged in.
// Threads: every member may be called from any thread.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace tarvex {

struct GadgetIdentity {
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::string Manufacturer;
    std::string Product;
    std::string Serial;
};

class CConfigfsGadget {
public:
    // Creates configfsRoot/usb_gadget/NAME with the identity and an empty configuration.
    // Returns null and sets `error` when configfs or libcomposite is missing.
    static std::unique_ptr<CConfigfsGadget> Create(
        const std::string& name, const GadgetIdentity& identity, std::string& error,
        const std::filesystem::path& configfsRoot = "/sys/kernel/config");
    ~CConfigfsGadget();
    CConfigfsGadget(const CConfigfsGadget&) = delete;
    CConfigfsGadget& operator=(const CConfigfsGadget&) = delete;

    // Both return an empty string on success, else what went wrong. Only before Bind.
    std::string AddHidFunction(const std::string& instance,
                               std::span<const std::uint8_t> reportDescriptor,
                               std::size_t reportLength);
    std::string AddMassStorageFunction(const std::string& instance,
                                       const std::filesystem::path& backingFile);

    // Binds to `controller`, or to the first controller of /sys/class/udc that takes it.
    std::string Bind(const std::string& controller = {});
    // Unbinds: the host sees the device removed. Does nothing when not bound.
    void Unbind();
    bool Bound() const;
    std::string Controller() const;

    // "major:minor" of a HID function's character device (/dev/hidgN), empty if unknown.
    std::string HidFunctionDevice(const std::string& instance) const;
    const std::filesystem::path& Folder() const { return m_Folder; }

private:
    explicit CConfigfsGadget(std::filesystem::path folder);
    std::string MakeFolder(const std::filesystem::path& folder);
    std::string LinkFunction(const std::string& function);
    void UnbindLocked();

    const std::filesystem::path m_Folder;
    mutable std::mutex m_Lock;
    std::vector<std::filesystem::path> m_Made;  // folders and links, removed in reverse
    std::string m_Controller;                   // empty when not bound
};

// Writes `value` into a sysfs or configfs attribute in one write call, as those files want.
// Empty on success, else the reason.
std::string WriteAttribute(const std::filesystem::path& path, std::span<const std::uint8_t> value);
std::string WriteAttribute(const std::filesystem::path& path, const std::string& value);

}  // namespace tarvex
