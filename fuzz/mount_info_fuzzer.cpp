// Arbitrary text as the process's mount table (/proc/self/mountinfo), in which the drive-copy
// update looks for the device's volume: parsing and the choice of the visible mounts must neither
// crash nor read past a field, must list each mount point once and in byte order, and must keep
// only mounts that were in the table.

#include <algorithm>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "platform/linux/MountedVolumeList.h"

using tarvex::MountInfoEntry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto entries = tarvex::ParseMountInfo(text);
    FUZZ_CHECK(entries.size() <=
               static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);

    // Unescaping only ever shortens a field (four bytes become one), and leaves one without a
    // backslash as it is.
    const std::string unescaped = tarvex::UnescapeMountField(text);
    FUZZ_CHECK(unescaped.size() <= text.size());
    FUZZ_CHECK(text.find('\\') != std::string_view::npos || unescaped == text);

    const auto visible = tarvex::VisibleMountsByMountPoint(entries);
    FUZZ_CHECK(visible.size() <= entries.size());
    FUZZ_CHECK(std::adjacent_find(visible.begin(), visible.end(), [](const auto& a, const auto& b) {
                   return !(a.MountPoint.native() < b.MountPoint.native());
               }) == visible.end());
    for (const MountInfoEntry& mount : visible) {
        FUZZ_CHECK(std::any_of(entries.begin(), entries.end(), [&](const MountInfoEntry& e) {
            return e.MountId == mount.MountId && e.MountPoint == mount.MountPoint &&
                   e.Source == mount.Source;
        }));
    }
    return 0;
}
