// The mount table as the kernel writes it, parsed and ordered without touching the system, and
// the volume list over a table it is given.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/linux/MountedVolumeList.h"
#include "tests/drivecopy/DriveCopyTestSupport.h"

namespace tarvex::testing {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> MountPoints(const std::vector<MountInfoEntry>& entries) {
    std::vector<std::string> points;
    for (const auto& e : entries) {
        points.push_back(e.MountPoint.native());
    }
    return points;
}

TEST(MountInfoTest, UnescapesTheFourEscapedBytesAndLeavesOtherBackslashes) {
    const struct {
        std::string_view field;
        std::string text;
    } cases[] = {
        {R"(/media/user/NO\040NAME)", "/media/user/NO NAME"},
        {R"(/a\011b\012c)", "/a\tb\nc"},
        {R"(/back\134slash)", "/back\\slash"},
        {R"(/back\134040)", "/back\\040"},  // an escaped backslash before digits stays one
        {R"(\040\040)", "  "},
        {R"(/trailing\04)", R"(/trailing\04)"},  // too short to be an escape
        {R"(/not\08x)", R"(/not\08x)"},          // 8 is no octal digit
        {R"(/end\)", R"(/end\)"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UnescapeMountField(c.field), c.text) << c.field;
    }
}

TEST(MountInfoTest, ParsesFieldsAroundAnyNumberOfOptionalFields) {
    const std::string table =
        "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
        "61 22 8:17 / /media/user/NO\\040NAME rw,nosuid shared:35 master:7 - vfat /dev/sdb1 "
        "rw,fmask=0022\n"
        "70 22 0:48 / /tmp/x rw - tmpfs tmpfs\\040src rw,size=104k\n"
        "71 22 259:65536 /sub /srv rw - xfs /dev/nvme0n1p1 rw\n";
    const auto entries = ParseMountInfo(table);
    ASSERT_EQ(entries.size(), 4U);

    EXPECT_EQ(entries[1].MountId, 61U);
    EXPECT_EQ(entries[1].ParentId, 22U);
    EXPECT_EQ(entries[1].Major, 8U);
    EXPECT_EQ(entries[1].Minor, 17U);
    EXPECT_EQ(entries[1].MountPoint, "/media/user/NO NAME");
    EXPECT_EQ(entries[1].FileSystemType, "vfat");
    EXPECT_EQ(entries[1].Source, "/dev/sdb1");

    EXPECT_EQ(entries[2].Major, 0U);
    EXPECT_EQ(entries[2].Minor, 48U);
    EXPECT_EQ(entries[2].Source, "tmpfs src");
    EXPECT_EQ(entries[3].Major, 259U);
    EXPECT_EQ(entries[3].Minor, 65536U);  // minor numbers reach past 8 bits
    EXPECT_EQ(entries[3].MountPoint, "/srv");
    EXPECT_EQ(entries[1].Root, "/");
    EXPECT_EQ(entries[3].Root, "/sub");  // a bind mount of a folder
}

TEST(MountInfoTest, SkipsMalformedLines) {
    const std::string table =
        "\n"
        "garbage\n"
        "30 1 8:1 / /no-separator rw shared:1 ext4 /dev/sda1 rw\n"
        "31 1 8x1 / /bad-device rw - ext4 /dev/sda1 rw\n"
        "32 1 8: / /empty-minor rw - ext4 /dev/sda1 rw\n"
        "-1 1 8:1 / /negative-id rw - ext4 /dev/sda1 rw\n"
        "33 1 8:1 / /separator-last rw -\n"
        "34 1 8:1 / /ok rw - ext4 /dev/sda1 rw";  // no final newline
    EXPECT_THAT(MountPoints(ParseMountInfo(table)), ElementsAre("/ok"));
}

TEST(MountInfoTest, VisibleMountsAreSortedByBytesAndKeepTheTopOfAStack) {
    std::vector<MountInfoEntry> entries = {
        {22, 1, 8, 2, "/", "ext4", "/dev/sda2", "/"},
        {40, 22, 0, 40, "/mnt/x", "tmpfs", "lower", "/"},
        {41, 22, 0, 41, "/mnt-x", "tmpfs", "dash", "/"},
        {43, 42, 0, 43, "/mnt/y", "tmpfs", "upper", "/"},  // listed before what it sits on
        {42, 22, 0, 42, "/mnt/y", "tmpfs", "lower", "/"},
        {44, 40, 0, 44, "/mnt/x", "tmpfs", "upper", "/"},
        {50, 22, 0, 50, "/mnt/z", "tmpfs", "first", "/"},  // siblings: the later one is on top
        {51, 22, 0, 51, "/mnt/z", "tmpfs", "second", "/"},
        {60, 22, 0, 60, "/M", "tmpfs", "capital", "/"},
    };
    const auto visible = VisibleMountsByMountPoint(entries);
    EXPECT_THAT(MountPoints(visible),
                ElementsAre("/", "/M", "/mnt-x", "/mnt/x", "/mnt/y", "/mnt/z"));
    EXPECT_EQ(visible[3].Source, "upper");
    EXPECT_EQ(visible[4].Source, "upper");
    EXPECT_EQ(visible[5].Source, "second");
}

// The sizing rule as CMountedVolumeList applies it to a table it is given. Every mount point is
// a real folder, so a mount that were sized would show the size of the file system holding it;
// only the whole of a block-backed FAT-family file system may be.
TEST(MountedVolumeListTest, SizesOnlyWholeBlockBackedFatVolumes) {
    const struct {
        std::string_view type;
        std::uint32_t major;
        std::string_view root;
        bool sized;
    } cases[] = {
        {"vfat", 8, "/", true},        {"msdos", 8, "/", true},     {"exfat", 259, "/", true},
        {"vfat", 0, "/", false},     // no block device behind it
        {"vfat", 8, "/sub", false},  // a bind mount of a folder on the volume
        {"fuse", 0, "/", false},     // whatever a user-space daemon serves; may never answer
        {"fuseblk", 8, "/", false},  // ntfs-3g, exfat-fuse: a daemon answers, on a block device
        {"fuse.sshfs", 0, "/", false}, {"virtiofs", 0, "/", false}, {"nfs", 0, "/", false},
        {"nfs4", 0, "/", false},       {"cifs", 0, "/", false},     {"9p", 0, "/", false},
        {"autofs", 0, "/", false},     {"tmpfs", 0, "/", false},    {"ext4", 8, "/", false},
    };
    CScratchFolder folder;
    std::string table;
    std::uint32_t id = 100;
    for (const auto& c : cases) {
        const auto point = folder.Path() / std::to_string(id);
        std::filesystem::create_directories(point);
        table += std::to_string(id) + " 1 " + std::to_string(c.major) + ":" + std::to_string(id) +
                 " " + std::string(c.root) + " " + point.native() + " rw,relatime - " +
                 std::string(c.type) + " /dev/tarvex-test rw\n";
        ++id;
    }
    const auto tablePath = folder.Path() / "mountinfo";
    WriteBytes(tablePath, std::vector<std::uint8_t>(table.begin(), table.end()));

    CMountedVolumeList list(tablePath);
    const auto volumes = list.ListVolumes();
    ASSERT_EQ(volumes.size(), std::size(cases));
    id = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.major) + " " +
                     std::string(c.root));
        const auto point = folder.Path() / std::to_string(id++);
        const auto volume = std::find_if(volumes.begin(), volumes.end(), [&](const VolumeInfo& v) {
            return v.MountPoint == point;
        });
        ASSERT_NE(volume, volumes.end());
        EXPECT_EQ(volume->CapacityBytes != 0, c.sized) << volume->CapacityBytes;
        EXPECT_EQ(volume->SourceDevice, "/dev/tarvex-test");
    }
}

TEST(MountInfoTest, CapacityIsComputedInSixtyFourBitsAndSaturates) {
    EXPECT_EQ(CapacityFromBlocks(26, 4096), 106'496U);
    EXPECT_EQ(CapacityFromBlocks(208, 512), 106'496U);
    EXPECT_EQ(CapacityFromBlocks(std::uint64_t{1} << 31, 4096), std::uint64_t{1} << 43);
    EXPECT_EQ(CapacityFromBlocks(std::uint64_t{1} << 60, 4096), UINT64_MAX);
    EXPECT_EQ(CapacityFromBlocks(0, 4096), 0U);
}

}  // namespace
}  // namespace tarvex::testing
