#include "tests/platform/LogindStandIn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace tarvex::testing {

CChildProcess::~CChildProcess() {
    Stop();
}

bool CChildProcess::Start(const std::vector<std::string>& argv, std::string& error, bool quiet) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> args;
    for (const auto& argument : argv) {
        args.push_back(const_cast<char*>(argument.c_str()));
    }
    args.push_back(nullptr);
    // A process group of its own, so that Stop ends whatever it started too.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = posix_spawn(&m_Pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        m_Pid = -1;
        error = argv[0] + ": " + std::strerror(spawned);
        return false;
    }
    m_OutFd = out[0];
    return true;
}

std::optional<std::string> CChildProcess::ReadLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_OutFd >= 0) {
        if (const auto newline = m_Pending.find('\n'); newline != std::string::npos) {
            std::string line = m_Pending.substr(0, newline);
            m_Pending.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{m_OutFd, POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            return std::nullopt;
        }
        char buffer[512];
        const ssize_t got = read(m_OutFd, buffer, sizeof buffer);
        if (got <= 0) {
            return std::nullopt;
        }
        m_Pending.append(buffer, static_cast<std::size_t>(got));
    }
    return std::nullopt;
}

void CChildProcess::Stop() {
    if (m_Pid > 0) {
        kill(-m_Pid, SIGTERM);
        while (waitpid(m_Pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_Pid = -1;
    }
    if (m_OutFd >= 0) {
        close(m_OutFd);
        m_OutFd = -1;
    }
}

CLogindStandIn::CLogindStandIn(LoginServiceMode mode) {
    char folder[] = "/tmp/tarvex-bus.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        m_Problem = std::string("mkdtemp: ") + std::strerror(errno);
        return;
    }
    m_Folder = folder;
    // A bus like a session bus (every client of this user may own and call anything), on a
    // socket of its own; it prints its address once it listens. Quiet: as root it says each
    // time that it may not raise its descriptor limit.
    if (!m_Daemon.Start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                         "--address=unix:path=" + (m_Folder / "bus").string(), "--print-address"},
                        m_Problem, /*quiet=*/true)) {
        return;
    }
    const auto address = m_Daemon.ReadLine(std::chrono::seconds(10));
    if (!address || address->empty()) {
        m_Problem = "dbus-daemon did not start";
        return;
    }
    m_BusAddress = *address;
    if (mode == LoginServiceMode::Missing) {
        return;
    }
    std::vector<std::string> argv{TARVEX_FAKE_LOGIN1_PATH, "--address=" + m_BusAddress};
    if (mode == LoginServiceMode::Refuse) {
        argv.push_back("--refuse");
    } else if (mode == LoginServiceMode::Silent) {
        argv.push_back("--silent");
    }
    if (!m_LoginService.Start(argv, m_Problem)) {
        return;
    }
    if (m_LoginService.ReadLine(std::chrono::seconds(10)) != "ready") {
        m_Problem = "fake_login1 did not get ready on " + m_BusAddress;
    }
}

CLogindStandIn::~CLogindStandIn() {
    m_LoginService.Stop();
    m_Daemon.Stop();
    if (!m_Folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_Folder, ignored);
    }
}

std::string CLogindStandIn::NextEvent(std::chrono::milliseconds limit) {
    return m_LoginService.ReadLine(limit).value_or(kNoEvent);
}

}  // namespace tarvex::testing
