// A stand-in for systemd-logind on a private bus: it owns org.freedesktop.login1 and answers
// Manager.Inhibit as logind does, with the writing end of a pipe as the lock's descriptor. It
// keeps the reading end, so it sees the lock end when every copy of the descriptor is closed.
//
//   fake_login1 --address=ADDRESS [--refuse | --silent]
//
// Standard output, one line each, flushed at once:
//   ready                                  the name is owned, calls are answered
//   inhibit N WHAT|WHO|WHY|MODE            lock N was handed out
//   released N                             every copy of lock N's descriptor was closed
// --refuse answers Inhibit with AccessDenied, --silent never answers it. Ends when the bus goes.

#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

enum class Answer { Grant, Refuse, Silent };

struct StandIn {
    Answer Mode = Answer::Grant;
    int NextLock = 1;
    std::map<int, int> OpenLocks;  // lock number -> reading end of its pipe
};

int Inhibit(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    auto& standIn = *static_cast<StandIn*>(userdata);
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    if (const int result = sd_bus_message_read(call, "ssss", &what, &who, &why, &mode);
        result < 0) {
        return result;
    }
    if (standIn.Mode == Answer::Refuse) {
        std::printf("refused %s|%s|%s|%s\n", what, who, why, mode);
        std::fflush(stdout);
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "Permission denied");
    }
    if (standIn.Mode == Answer::Silent) {
        std::printf("unanswered %s|%s|%s|%s\n", what, who, why, mode);
        std::fflush(stdout);
        return 1;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return -errno;
    }
    const int lock = standIn.NextLock++;
    // Sending copies the descriptor into the message; this process keeps no writing end.
    const int result = sd_bus_reply_method_return(call, "h", ends[1]);
    close(ends[1]);
    if (result < 0) {
        close(ends[0]);
        return result;
    }
    standIn.OpenLocks[lock] = ends[0];
    std::printf("inhibit %d %s|%s|%s|%s\n", lock, what, who, why, mode);
    std::fflush(stdout);
    return 1;
}

const sd_bus_vtable kManagerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

// Waits for the bus or a lock's pipe; reports each lock whose writers are all gone.
bool ServeOnce(sd_bus* bus, StandIn& standIn) {
    int result;
    while ((result = sd_bus_process(bus, nullptr)) > 0) {
    }
    if (result < 0) {
        return false;
    }
    std::vector<pollfd> watched{
        {sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0}};
    std::vector<int> locks;
    for (const auto& [lock, fd] : standIn.OpenLocks) {
        watched.push_back({fd, POLLIN, 0});
        locks.push_back(lock);
    }
    if (poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR) {
        return false;
    }
    for (std::size_t i = 1; i < watched.size(); ++i) {
        if (watched[i].revents != 0) {
            char byte;
            if (read(watched[i].fd, &byte, 1) <= 0) {
                close(watched[i].fd);
                standIn.OpenLocks.erase(locks[i - 1]);
                std::printf("released %d\n", locks[i - 1]);
                std::fflush(stdout);
            }
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    StandIn standIn;
    std::string address;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.starts_with("--address=")) {
            address = argument.substr(10);
        } else if (argument == "--refuse") {
            standIn.Mode = Answer::Refuse;
        } else if (argument == "--silent") {
            standIn.Mode = Answer::Silent;
        } else {
            std::fprintf(stderr, "fake_login1: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address.c_str()) < 0 ||
        sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_negotiate_fds(bus, 1) < 0 ||
        sd_bus_start(bus) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager", kManagerVtable, &standIn) < 0 ||
        sd_bus_request_name(bus, "org.freedesktop.login1", 0) < 0) {
        std::fprintf(stderr, "fake_login1: cannot serve on %s\n", address.c_str());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    while (ServeOnce(bus, standIn)) {
    }
    sd_bus_flush_close_unref(bus);
    return 0;
}
