#pragma once
// Owners for the libudev objects the Linux backends use. A udev context and the objects made
// from it are not thread-safe: each owner keeps its context to itself, or makes a fresh one per
// call.

#include <libudev.h>

#include <memory>

namespace tarvex {

struct UdevContextUnref {
    void operator()(udev* context) const { udev_unref(context); }
};
struct UdevEnumerateUnref {
    void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
};
struct UdevDeviceUnref {
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
struct UdevMonitorUnref {
    void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
};

using UdevContextPtr = std::unique_ptr<udev, UdevContextUnref>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevEnumerateUnref>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeviceUnref>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevMonitorUnref>;

}  // namespace tarvex
