#pragma once
// One open HID interface through hidapi's hidraw backend.
//
// The interface is opened twice, once for reading and once for writing, as the tool has always
// done: hidapi records each call's error text in its device object without a lock, so a read
// and a write on one object from two threads would race on it. With one object per direction
// the reader thread and the writer thread never share any hidapi state. The kernel queues
// every input report on each open handle; the writer's queue is never read, and hidraw drops
// what does not fit its 64 entries, so it costs nothing that grows.
//
// Only hidraw nodes are handed to hidapi: the hidapi of Debian 12 (0.13) crashes when
// hid_open_path opens a node that is not one.
//
// Threads: one reader and one writer at a time; further readers (or writers) wait for the one
// before them. Destroy only when no call is running (CHid's shared connections see to that).

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/HidPort.h"
#include "platform/linux/HidapiHandles.h"

namespace tarvex {

class CHidapiConnection final : public CHidConnection {
public:
    // Opens `path` for both directions; on failure tells why (asking the system again with
    // open(2), since hidapi keeps no errno).
    static HidOpenResult Open(const std::string& path);

    HidIoStatus ReadInputReport(HidReport& report, std::chrono::milliseconds timeout) override;
    HidIoStatus WriteOutputReport(std::span<const std::uint8_t> report) override;

private:
    CHidapiConnection(std::string path, HidDevicePtr reader, HidDevicePtr writer,
                      bool bInputNumbered, std::uint64_t nodeNumber);

    // Whether the path still names the device node that was opened. A replugged device may get
    // the same name with another number, or the name may be gone.
    bool NodePresent() const;

    const std::string m_Path;
    const bool m_bInputNumbered;
    const std::uint64_t m_NodeNumber;  // st_rdev at open; 0 when it could not be asked

    std::mutex m_ReadLock;
    HidDevicePtr m_pReader;
    std::mutex m_WriteLock;
    HidDevicePtr m_pWriter;
};

}  // namespace tarvex
