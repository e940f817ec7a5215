// The Linux port list over a fake sysfs tree laid out as the kernel lays
// out a USB CDC-ACM reader, a USB-serial adapter, a built-in port, legacy
// ports that are not there and a virtual terminal.
#include "serial/unix/portlist.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velmora-sysfs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    void makeDirs(const std::string &path) { std::system(("mkdir -p '" + root_ + path + "'").c_str()); }
    void writeFile(const std::string &path, const std::string &text)
    {
        std::string::size_type slash = path.find_last_of('/');
        makeDirs(path.substr(0, slash));
        std::ofstream(root_ + path) << text;
    }
    void link(const std::string &target, const std::string &path)
    {
        std::string::size_type slash = path.find_last_of('/');
        makeDirs(path.substr(0, slash));
        ASSERT_EQ(symlink(target.c_str(), (root_ + path).c_str()), 0) << path;
    }
    // A USB device with one tty, as /sys/class/tty/<tty> -> .../tty/<tty>.
    // ttyACM: device -> the interface; ttyUSB: device -> the port below it.
    void usbTty(const std::string &tty, const std::string &usbPath, const char *vid, const char *pid,
                const char *serial)
    {
        writeFile(usbPath + "/idVendor", std::string(vid) + "\n");
        writeFile(usbPath + "/idProduct", std::string(pid) + "\n");
        if (serial)
            writeFile(usbPath + "/serial", std::string(serial) + "\n");
        std::string device = usbPath + "/1-1:1.0";
        if (tty.compare(0, 6, "ttyUSB") == 0)
            device += "/" + tty;
        std::string ttyDir = device + "/tty/" + tty;
        makeDirs(ttyDir);
        link("../../../" + std::string(tty.compare(0, 6, "ttyUSB") == 0 ? tty : "1-1:1.0"), ttyDir + "/device");
        link("../../.." + ttyDir, "/sys/class/tty/" + tty);
    }

    std::string root_;
};

TEST_F(FakeSysfs, ListsRealPortsWithTheirUsbIdsAndSkipsTheRest)
{
    usbTty("ttyACM0", "/sys/devices/pci0000:00/usb1/1-1", "2e3c", "5750", "TV00042");
    usbTty("ttyUSB1", "/sys/devices/pci0000:00/usb1/1-2", "0403", "6001", nullptr);
    usbTty("ttyUSB10", "/sys/devices/pci0000:00/usb1/1-3", "0403", "6001", "FT1");
    // A built-in port, and a legacy one the driver registers without hardware.
    writeFile("/sys/devices/platform/serial8250/tty/ttyS0/type", "4\n");
    link("../../../serial8250", "/sys/devices/platform/serial8250/tty/ttyS0/device");
    link("../../devices/platform/serial8250/tty/ttyS0", "/sys/class/tty/ttyS0");
    writeFile("/sys/devices/platform/serial8250/tty/ttyS3/type", "0\n");
    link("../../../serial8250", "/sys/devices/platform/serial8250/tty/ttyS3/device");
    link("../../devices/platform/serial8250/tty/ttyS3", "/sys/class/tty/ttyS3");
    // A virtual terminal: no device.
    makeDirs("/sys/devices/virtual/tty/tty1");
    link("../../devices/virtual/tty/tty1", "/sys/class/tty/tty1");

    std::vector<PortInfo> ports = listSerialPortsUnder(root_);
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].name, "/dev/ttyACM0");
    EXPECT_EQ(ports[0].vendorId, 0x2E3C);
    EXPECT_EQ(ports[0].productId, 0x5750);
    EXPECT_EQ(ports[0].serialNumber, "TV00042");
    EXPECT_EQ(ports[1].name, "/dev/ttyS0");
    EXPECT_EQ(ports[1].vendorId, -1);
    EXPECT_EQ(ports[1].productId, -1);
    // Numeric order: ttyUSB1 before ttyUSB10.
    EXPECT_EQ(ports[2].name, "/dev/ttyUSB1");
    EXPECT_EQ(ports[2].vendorId, 0x0403);
    EXPECT_EQ(ports[2].productId, 0x6001);
    EXPECT_EQ(ports[2].serialNumber, "");
    EXPECT_EQ(ports[3].name, "/dev/ttyUSB10");
    EXPECT_EQ(ports[3].serialNumber, "FT1");
}

TEST_F(FakeSysfs, AnIdFileThatIsNotHexGivesNoIds)
{
    usbTty("ttyACM1", "/sys/devices/pci0000:00/usb1/1-4", "zz3c", "5750", "S");
    std::vector<PortInfo> ports = listSerialPortsUnder(root_);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].vendorId, -1);
    EXPECT_EQ(ports[0].productId, -1);
}

TEST_F(FakeSysfs, NoTtyClassMeansNoPorts)
{
    EXPECT_TRUE(listSerialPortsUnder(root_).empty());
    EXPECT_TRUE(listSerialPortsUnder(root_ + "/missing").empty());
}

}  // namespace
