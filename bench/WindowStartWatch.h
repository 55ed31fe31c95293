#pragma once
// Times a window program's start from outside: from the moment it is spawned to the moment the
// X server maps its first top-level window, seen as an X client that watches the root window.
// Nothing in the program itself is asked, so what it does before it shows itself (linking,
// fonts, pictures, devices) all counts.
//
// Threads: one watch per thread; it owns its X connection and the programs it starts.

#include <optional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace tarvex::bench {

struct WindowStartResult {
    std::optional<double> MsToWindow;  // wall time; empty on failure
    // The CPU time the program (all its threads) had used by then: steadier than the wall time
    // on a machine that others are loading.
    double CpuMsToWindow = 0;
    std::string Error;
};

class CWindowStartWatch {
public:
    // Connects to the X server named by DISPLAY.
    CWindowStartWatch();
    ~CWindowStartWatch();
    CWindowStartWatch(const CWindowStartWatch&) = delete;
    CWindowStartWatch& operator=(const CWindowStartWatch&) = delete;

    // Empty when connected and watching; else why not.
    const std::string& Error() const { return m_Error; }

    // Starts `program` with `arguments` on the xcb platform, waits until a top-level window
    // whose owner is that process is mapped, then kills the process and reaps it.
    WindowStartResult MsToWindow(const std::string& program,
                                 const std::vector<std::string>& arguments);

private:
    bool IsWindowOf(unsigned window, int pid);

    xcb_connection_t* m_pConnection = nullptr;
    unsigned m_PidAtom = 0;
    std::string m_Error;
};

}  // namespace tarvex::bench
