#pragma once
// A private D-Bus daemon, and on it (unless told otherwise) the stand-in for systemd-logind
// (fake_login1), for tests of the sleep block. Both are this test's own child processes; the
// destructor ends them. The stand-in's lines (see FakeLogin1.cpp) are read with a bound.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvex::testing {

// A child process whose standard output the test reads line by line.
class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts `argv` (argv[0] a path). False, with `error` set, when it could not start. With
    // `quiet`, what it writes to standard error is dropped.
    bool Start(const std::vector<std::string>& argv, std::string& error, bool quiet = false);
    // The next line it wrote, without its newline; nothing when none came within `limit` or it
    // ended.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
    // Ends it and what it started (SIGTERM to its process group) and waits for it.
    void Stop();

private:
    pid_t m_Pid = -1;
    int m_OutFd = -1;
    std::string m_Pending;
};

enum class LoginServiceMode {
    Grant,    // answers Inhibit with a lock
    Refuse,   // answers Inhibit with AccessDenied
    Silent,   // never answers
    Missing,  // the bus has no login service at all
};

class CLogindStandIn {
public:
    explicit CLogindStandIn(LoginServiceMode mode = LoginServiceMode::Grant);
    ~CLogindStandIn();
    CLogindStandIn(const CLogindStandIn&) = delete;
    CLogindStandIn& operator=(const CLogindStandIn&) = delete;

    // Empty when everything started; otherwise what did not.
    const std::string& Problem() const { return m_Problem; }
    // The private bus's D-Bus address, for CLogindSleepInhibitor or DBUS_SYSTEM_BUS_ADDRESS.
    const std::string& BusAddress() const { return m_BusAddress; }
    // The stand-in's next line: "inhibit N WHAT|WHO|WHY|MODE", "released N", "refused ...",
    // "unanswered ..."; kNoEvent when none came within `limit`.
    static constexpr const char* kNoEvent = "(no event)";
    std::string NextEvent(std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    std::filesystem::path m_Folder;
    std::string m_BusAddress;
    std::string m_Problem;
    CChildProcess m_Daemon;
    CChildProcess m_LoginService;
};

}  // namespace tarvex::testing
