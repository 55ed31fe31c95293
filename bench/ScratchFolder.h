#pragma once
// A folder of the benchmark's own under the system's temporary directory, made fresh with a
// random name (so that two benchmark processes running at once never share a file) and removed
// with everything in it when the object goes away.

#include <filesystem>

namespace tarvex::bench {

class CScratchFolder {
public:
    // Check Made() before use: the temporary directory may not be writable.
    CScratchFolder();
    ~CScratchFolder();
    CScratchFolder(const CScratchFolder&) = delete;
    CScratchFolder& operator=(const CScratchFolder&) = delete;

    bool Made() const { return !m_Path.empty(); }
    const std::filesystem::path& Path() const { return m_Path; }

private:
    std::filesystem::path m_Path;
};

}  // namespace tarvex::bench
