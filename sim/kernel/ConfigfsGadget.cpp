#include "sim/kernel/ConfigfsGadget.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/linux/ScopedFd.h"
#include "sim/kernel/SysfsDeviceLookup.h"

namespace tarvex {

namespace {

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

std::string Failure(const std::string& what, const std::filesystem::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

// Runs the steps in order and stops at the first that fails, returning its reason.
std::string RunSteps(std::initializer_list<std::function<std::string()>> steps) {
    for (const auto& step : steps) {
        std::string error = step();
        if (!error.empty()) {
            return error;
        }
    }
    return {};
}

std::string ReadLine(const std::filesystem::path& path) {
    std::string text = ReadSysfsFile(path);
    text.erase(std::find(text.begin(), text.end(), '\n'), text.end());
    return text;
}

}  // namespace

std::string WriteAttribute(const std::filesystem::path& path, std::span<const std::uint8_t> value) {
    CScopedFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return Failure("cannot open", path);
    }
    const ssize_t written = ::write(fd.Get(), value.data(), value.size());
    if (written != static_cast<ssize_t>(value.size())) {
        return Failure("cannot write", path);
    }
    return {};
}

std::string WriteAttribute(const std::filesystem::path& path, const std::string& value) {
    return WriteAttribute(
        path, std::span(reinterpret_cast<const std::uint8_t*>(value.data()), value.size()));
}

std::unique_ptr<CConfigfsGadget> CConfigfsGadget::Create(
    const std::string& name, const GadgetIdentity& identity, std::string& error,
    const std::filesystem::path& configfsRoot) {
    const auto gadgets = configfsRoot / "usb_gadget";
    if (!std::filesystem::is_directory(gadgets)) {
        error = gadgets.string() + " is missing (configfs not mounted or libcomposite not loaded)";
        return nullptr;
    }
    std::unique_ptr<CConfigfsGadget> gadget(new CConfigfsGadget(gadgets / name));
    const auto& folder = gadget->m_Folder;
    const auto strings = folder / "strings/0x409";
    const auto config = folder / "configs/c.1";
    // The kernel fills a new gadget folder with its attribute files and subfolders itself;
    // only the folders below are ours to make (and to remove).
    CConfigfsGadget& owner = *gadget;
    error = RunSteps({
        [&] { return owner.MakeFolder(folder); },
        [&] { return WriteAttribute(folder / "idVendor", Hex16(identity.VendorId)); },
        [&] { return WriteAttribute(folder / "idProduct", Hex16(identity.ProductId)); },
        [&] { return WriteAttribute(folder / "bcdUSB", std::string("0x0200")); },
        [&] { return WriteAttribute(folder / "bcdDevice", std::string("0x0100")); },
        [&] { return owner.MakeFolder(strings); },
        [&] { return WriteAttribute(strings / "manufacturer", identity.Manufacturer); },
        [&] { return WriteAttribute(strings / "product", identity.Product); },
        [&] { return WriteAttribute(strings / "serialnumber", identity.Serial); },
        [&] { return owner.MakeFolder(config); },
        [&] { return owner.MakeFolder(config / "strings/0x409"); },
        [&] {
            return WriteAttribute(config / "strings/0x409/configuration", std::string("update"));
        },
        [&] { return WriteAttribute(config / "MaxPower", std::string("100")); },
    });
    return error.empty() ? std::move(gadget) : nullptr;
}

CConfigfsGadget::CConfigfsGadget(std::filesystem::path folder) : m_Folder(std::move(folder)) {}

CConfigfsGadget::~CConfigfsGadget() {
    std::lock_guard lock(m_Lock);
    UnbindLocked();
    for (auto made = m_Made.rbegin(); made != m_Made.rend(); ++made) {
        // configfs removes folders with rmdir (their attribute files go with them) and links
        // with unlink; std::filesystem::remove does the right one of the two.
        std::error_code ignored;
        std::filesystem::remove(*made, ignored);
    }
}

std::string CConfigfsGadget::MakeFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0755) != 0) {
        return Failure("cannot make", folder);
    }
    std::lock_guard lock(m_Lock);
    m_Made.push_back(folder);
    return {};
}

std::string CConfigfsGadget::LinkFunction(const std::string& function) {
    const auto link = m_Folder / "configs/c.1" / function;
    if (::symlink((m_Folder / "functions" / function).c_str(), link.c_str()) != 0) {
        return Failure("cannot link", link);
    }
    std::lock_guard lock(m_Lock);
    m_Made.push_back(link);
    return {};
}

std::string CConfigfsGadget::AddHidFunction(const std::string& instance,
                                            std::span<const std::uint8_t> reportDescriptor,
                                            std::size_t reportLength) {
    const std::string function = "hid." + instance;
    const auto folder = m_Folder / "functions" / function;
    return RunSteps({
        [&] { return MakeFolder(folder); },
        [&] { return WriteAttribute(folder / "protocol", std::string("0")); },
        [&] { return WriteAttribute(folder / "subclass", std::string("0")); },
        [&] { return WriteAttribute(folder / "report_length", std::to_string(reportLength)); },
        [&] { return WriteAttribute(folder / "report_desc", reportDescriptor); },
        [&] { return LinkFunction(function); },
    });
}

std::string CConfigfsGadget::AddMassStorageFunction(const std::string& instance,
                                                    const std::filesystem::path& backingFile) {
    const std::string function = "mass_storage." + instance;
    const auto folder = m_Folder / "functions" / function;
    return RunSteps({
        [&] { return MakeFolder(folder); },
        [&] { return WriteAttribute(folder / "lun.0/removable", std::string("1")); },
        [&] { return WriteAttribute(folder / "lun.0/file", backingFile.string()); },
        [&] { return LinkFunction(function); },
    });
}

std::string CConfigfsGadget::Bind(const std::string& controller) {
    std::lock_guard lock(m_Lock);
    if (!m_Controller.empty()) {
        return "already bound to " + m_Controller;
    }
    std::vector<std::string> candidates;
    if (!controller.empty()) {
        candidates.push_back(controller);
    } else {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/sys/class/udc", error)) {
            candidates.push_back(entry.path().filename().string());
        }
        std::sort(candidates.begin(), candidates.end());
    }
    std::string lastError = "no USB device controller (is dummy_hcd loaded?)";
    for (const auto& candidate : candidates) {
        // A controller that another gadget holds refuses with EBUSY; try the next.
        lastError = WriteAttribute(m_Folder / "UDC", candidate);
        if (lastError.empty()) {
            m_Controller = candidate;
            return {};
        }
    }
    return lastError;
}

void CConfigfsGadget::Unbind() {
    std::lock_guard lock(m_Lock);
    UnbindLocked();
}

void CConfigfsGadget::UnbindLocked() {
    if (m_Controller.empty()) {
        return;
    }
    WriteAttribute(m_Folder / "UDC", std::string("\n"));
    m_Controller.clear();
}

bool CConfigfsGadget::Bound() const {
    std::lock_guard lock(m_Lock);
    return !m_Controller.empty();
}

std::string CConfigfsGadget::Controller() const {
    std::lock_guard lock(m_Lock);
    return m_Controller;
}

std::string CConfigfsGadget::HidFunctionDevice(const std::string& instance) const {
    return ReadLine(m_Folder / "functions" / ("hid." + instance) / "dev");
}

}  // namespace tarvex
