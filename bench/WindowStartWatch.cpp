#include "bench/WindowStartWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

extern char** environ;

namespace tarvex::bench {
namespace {

using Clock = std::chrono::steady_clock;

// A guard against a program that never shows a window; no figure depends on it.
constexpr std::chrono::seconds kHangGuard{20};
constexpr int kPollSliceMs = 20;

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
ReplyPtr<Reply> Owned(Reply* reply) {
    return ReplyPtr<Reply>(reply, &std::free);
}

// The bench's environment with the platform pinned to xcb, so that a Wayland session or a
// setting for the tests (offscreen) cannot move the window elsewhere.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "QT_QPA_PLATFORM=", 16) != 0) {
            variables.emplace_back(*entry);
        }
    }
    variables.emplace_back("QT_QPA_PLATFORM=xcb");
    return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// The process's CPU clock: every thread's time, those that have ended included, in nanoseconds
// as the scheduler counts it (not the 10 ms ticks of /proc/PID/stat).
double CpuMsOf(pid_t pid) {
    clockid_t clock{};
    timespec used{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &used) != 0) {
        return 0;
    }
    return static_cast<double>(used.tv_sec) * 1e3 + static_cast<double>(used.tv_nsec) / 1e6;
}

std::string ExitWords(int status) {
    if (WIFEXITED(status)) {
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "ended by signal " + std::to_string(WTERMSIG(status));
    }
    return "ended";
}

}  // namespace

CWindowStartWatch::CWindowStartWatch() {
    m_pConnection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_pConnection) != 0) {
        m_Error = "no X server (DISPLAY)";
        return;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_pConnection)).data;
    // Without a window manager a top-level window is mapped as a child of the root: its
    // MapNotify reaches whoever watches the root's substructure.
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_generic_error_t* error = xcb_request_check(
        m_pConnection, xcb_change_window_attributes_checked(m_pConnection, screen->root,
                                                            XCB_CW_EVENT_MASK, &mask));
    if (error != nullptr) {
        std::free(error);
        m_Error = "cannot watch the root window";
        return;
    }
    constexpr std::string_view kPidName = "_NET_WM_PID";
    const auto atom = Owned(xcb_intern_atom_reply(
        m_pConnection,
        xcb_intern_atom(m_pConnection, 0, static_cast<std::uint16_t>(kPidName.size()),
                        kPidName.data()),
        nullptr));
    if (!atom) {
        m_Error = "cannot name _NET_WM_PID";
        return;
    }
    m_PidAtom = atom->atom;
}

CWindowStartWatch::~CWindowStartWatch() {
    xcb_disconnect(m_pConnection);
}

bool CWindowStartWatch::IsWindowOf(unsigned window, int pid) {
    const auto reply = Owned(xcb_get_property_reply(
        m_pConnection,
        xcb_get_property(m_pConnection, 0, window, m_PidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!reply || xcb_get_property_value_length(reply.get()) != 4) {
        return false;
    }
    std::uint32_t owner = 0;
    std::memcpy(&owner, xcb_get_property_value(reply.get()), sizeof owner);
    return owner == static_cast<std::uint32_t>(pid);
}

WindowStartResult CWindowStartWatch::MsToWindow(const std::string& program,
                                                const std::vector<std::string>& arguments) {
    if (!m_Error.empty()) {
        return {std::nullopt, 0, m_Error};
    }
    std::vector<std::string> argumentStrings{program};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = ChildEnvironment();
    const std::vector<char*> argv = Pointers(argumentStrings);
    const std::vector<char*> envp = Pointers(environment);

    // What earlier runs left (their windows' unmapping and destruction) is not this run's.
    while (xcb_generic_event_t* stale = xcb_poll_for_event(m_pConnection)) {
        std::free(stale);
    }

    // Their chatter (Qt's notes on the environment) would bury the figures; the exit status
    // says what went wrong.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const Clock::time_point started = Clock::now();
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return {std::nullopt, 0, program + ": " + std::strerror(spawned)};
    }

    WindowStartResult outcome;
    bool ended = false;
    pollfd watched{xcb_get_file_descriptor(m_pConnection), POLLIN, 0};
    while (!outcome.MsToWindow && outcome.Error.empty()) {
        ::poll(&watched, 1, kPollSliceMs);
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_pConnection)) {
            const auto owned = Owned(event);
            if ((event->response_type & 0x7F) != XCB_MAP_NOTIFY || outcome.MsToWindow) {
                continue;
            }
            const Clock::time_point mapped = Clock::now();
            const double cpuMs = CpuMsOf(pid);
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            if (map->override_redirect == 0 && IsWindowOf(map->window, pid)) {
                outcome.MsToWindow =
                    std::chrono::duration<double, std::milli>(mapped - started).count();
                outcome.CpuMsToWindow = cpuMs;
            }
        }
        if (xcb_connection_has_error(m_pConnection) != 0) {
            outcome.Error = "lost the X server";
        } else if (int status = 0; !outcome.MsToWindow && waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            outcome.Error = program + " " + ExitWords(status) + " before showing a window";
        } else if (!outcome.MsToWindow && Clock::now() - started > kHangGuard) {
            outcome.Error = program + " showed no window";
        }
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    return outcome;
}

}  // namespace tarvex::bench
