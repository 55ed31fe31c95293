// Device locks as flock on the device's node, on files that stand in for the nodes: what another
// open file of the node (another program) sees, sharing within the program, a lock that a
// program's death or a helper program it started does not keep, and the USB device's node found
// from its sysfs folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/FlockDeviceLocks.h"
#include "tests/platform/LogindStandIn.h"

namespace tarvex {
namespace {

using testing::CChildProcess;

class FlockDeviceLocksTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tarvex-locks.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_Folder = folder;
        m_Node = (m_Folder / "hidraw7").string();
        std::ofstream(m_Node).put('\0');
    }
    void TearDown() override { std::filesystem::remove_all(m_Folder); }

    // Another program's view: its own backend opens the node afresh.
    DeviceLockError OtherProgramTries(const std::string& device) {
        CFlockDeviceLocks other(m_Folder / "usb");
        return other.TryLock(device).Error;
    }

    std::filesystem::path m_Folder;
    std::string m_Node;
};

TEST_F(FlockDeviceLocksTest, OneProgramHoldsTheNodeAndSharesItWithItself) {
    CFlockDeviceLocks locks;
    DeviceLockResult first = locks.TryLock(m_Node);
    ASSERT_TRUE(first.Held()) << first.Message;
    DeviceLockResult second = locks.TryLock(m_Node);
    ASSERT_TRUE(second.Held()) << "the program locked itself out: " << second.Message;
    EXPECT_EQ(OtherProgramTries(m_Node), DeviceLockError::Busy);

    first.Lock.reset();
    EXPECT_EQ(OtherProgramTries(m_Node), DeviceLockError::Busy) << "one holder is left";
    second.Lock.reset();
    EXPECT_EQ(OtherProgramTries(m_Node), DeviceLockError::None);
    EXPECT_TRUE(locks.TryLock(m_Node).Held()) << "taken again after it was let go";
}

TEST_F(FlockDeviceLocksTest, AnotherProcessHoldingTheNodeMakesItBusyUntilItEnds) {
    CChildProcess holder;
    std::string error;
    // util-linux's flock(1): an unrelated program that locks the node the same way. --close
    // keeps the lock with flock itself, not with the shell it starts.
    ASSERT_TRUE(holder.Start({"/usr/bin/flock", "--exclusive", "--close", m_Node, "/bin/sh", "-c",
                              "echo locked; exec sleep 30"},
                             error))
        << error;
    ASSERT_EQ(holder.ReadLine(std::chrono::seconds(10)), "locked");
    CFlockDeviceLocks locks;
    const DeviceLockResult busy = locks.TryLock(m_Node);
    EXPECT_EQ(busy.Error, DeviceLockError::Busy) << busy.Message;
    EXPECT_FALSE(busy.Held());

    holder.Stop();  // the kernel lets a dead program's lock go
    EXPECT_TRUE(locks.TryLock(m_Node).Held());
}

TEST_F(FlockDeviceLocksTest, AHelperProgramStartedDuringTheLockDoesNotKeepIt) {
    CFlockDeviceLocks locks;
    DeviceLockResult held = locks.TryLock(m_Node);
    ASSERT_TRUE(held.Held());
    CChildProcess helper;
    std::string error;
    ASSERT_TRUE(helper.Start({"/bin/sleep", "30"}, error)) << error;
    held.Lock.reset();
    EXPECT_EQ(OtherProgramTries(m_Node), DeviceLockError::None)
        << "the helper inherited the lock's descriptor";
}

TEST_F(FlockDeviceLocksTest, AUsbDeviceIsLockedThroughItsNode) {
    const auto device = m_Folder / "sys" / "1-2";
    std::filesystem::create_directories(device);
    std::ofstream(device / "busnum") << "3\n";
    std::ofstream(device / "devnum") << "17\n";
    const auto node = m_Folder / "usb" / "003" / "017";
    std::filesystem::create_directories(node.parent_path());
    std::ofstream(node).put('\0');

    EXPECT_EQ(UsbDeviceNode(device, m_Folder / "usb"), node);
    CFlockDeviceLocks locks(m_Folder / "usb");
    DeviceLockResult held = locks.TryLock(device.string());
    ASSERT_TRUE(held.Held()) << held.Message;
    EXPECT_EQ(OtherProgramTries(device.string()), DeviceLockError::Busy);
    EXPECT_EQ(OtherProgramTries(node.string()), DeviceLockError::Busy) << "the node is the lock";
}

TEST_F(FlockDeviceLocksTest, WhatCannotBeLockedIsUnavailableNotBusy) {
    const auto noNumbers = m_Folder / "sys" / "usb1";
    std::filesystem::create_directories(noNumbers);
    CFlockDeviceLocks locks(m_Folder / "usb");
    for (const std::string& device : {std::string("virtual:hid-update-device"),
                                      (m_Folder / "gone").string(), noNumbers.string()}) {
        const DeviceLockResult result = locks.TryLock(device);
        EXPECT_EQ(result.Error, DeviceLockError::Unavailable) << device;
        EXPECT_FALSE(result.Message.empty()) << device;
    }
}

}  // namespace
}  // namespace tarvex
