// The serial ports a Linux system lists, from records as udev and sysfs describe its tty
// devices, the stable by-id names, and what a port that will not open is told with: the
// programs that hold it and, for one this user may not open, its group and the fix.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/posix/PortAccess.h"
#include "platform/posix/UdevPortLister.h"
#include "serial/PortInfo.h"

namespace {

const std::string kFtdiLink = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ01-if00-port0";

TEST(PortListTest, TtyRecordsBecomeListedPorts) {
    struct Case {
        const char* what;
        TtyRecord tty;
        std::string line;  // empty: not listed
    };
    const std::map<std::string, std::string> byIdOf = {{"/dev/ttyUSB0", kFtdiLink}};
    const Case cases[] = {
        {"USB serial converter with a by-id link",
         {"/dev/ttyUSB0",
          "ftdi_sio",
          "",
          true,
          {{"idVendor", "0403"},
           {"idProduct", "6001"},
           {"manufacturer", "FTDI"},
           {"product", "FT232R USB UART"},
           {"serial", "A9XYZ01"}}},
         kFtdiLink + " -> /dev/ttyUSB0: ftdi_sio, USB 0403:6001, FTDI, FT232R USB UART, " +
             "serial A9XYZ01 (/port usb:A9XYZ01)"},
        {"ACM device without strings or link",
         {"/dev/ttyACM0", "cdc_acm", "", true, {{"idVendor", "2341"}, {"idProduct", "0043"}}},
         "/dev/ttyACM0: cdc_acm, USB 2341:0043"},
        {"UART that answered", {"/dev/ttyS0", "serial", "4", true, {}}, "/dev/ttyS0: serial"},
        {"UART slot with nothing there", {"/dev/ttyS1", "serial8250", "0", true, {}}, ""},
        {"virtual console", {"/dev/tty1", "", "", false, {}}, ""},
        {"no device node", {"", "serial", "4", true, {}}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSerialPort(c.tty), !c.line.empty()) << c.what;
        if (!c.line.empty()) {
            EXPECT_EQ(FormatPortLine(PortFromTty(c.tty, byIdOf)), c.line) << c.what;
        }
    }
}

TEST(PortListTest, ListsAndNamesLinesSayWhatIsThere) {
    PortInfo uart;
    uart.name = uart.node = "/dev/ttyS0";
    PortInfo usb = uart;
    usb.node = "/dev/ttyUSB0";
    usb.name = kFtdiLink;
    usb.serial = "A9XYZ01";
    usb.busy = true;
    EXPECT_EQ(FormatPortList({}), "no serial ports found\n");
    EXPECT_EQ(FormatPortList({uart, usb}),
              "/dev/ttyS0\n" + kFtdiLink +
                  " -> /dev/ttyUSB0: serial A9XYZ01 (/port usb:A9XYZ01), busy\n");
    EXPECT_EQ(PortNamesLine({}), "no serial ports found");
    EXPECT_EQ(PortNamesLine({uart, usb}), "serial ports now: /dev/ttyS0, " + kFtdiLink);
    // /port usb:SERIAL, as the command line hands it over
    const std::pair<std::string, std::string> names[] = {
        {"COMusb:A9XYZ01", "A9XYZ01"}, {"usb:A9XYZ01", "A9XYZ01"}, {"COMusb:", ""}, {"COM3", ""},
        {"COM/dev/usb:x", ""},
    };
    for (const auto& [name, serial] : names) {
        EXPECT_EQ(UsbSerialOf(name), serial) << name;
    }
    const std::vector<PortInfo> ports = {uart, usb};
    EXPECT_EQ(FindUsbSerial(ports, "A9XYZ01"), &ports[1]);
    EXPECT_EQ(FindUsbSerial(ports, ""), nullptr);
}

TEST(PortListTest, ByIdLinksAreFoundByTheirNode) {
    char folder[] = "/tmp/ostrevan-by-id-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string dir = folder;
    for (const char* node : {"/ttyUSB0", "/ttyUSB1"}) {
        std::fclose(std::fopen((dir + node).c_str(), "w"));
    }
    ASSERT_EQ(::mkdir((dir + "/by-id").c_str(), 0755), 0);
    // two names for one node (the shorter name wins), one for the other, one left dangling
    const std::pair<const char*, const char*> links[] = {
        {"/by-id/usb-B-port0", "../ttyUSB0"},
        {"/by-id/usb-A-port0", "../ttyUSB0"},
        {"/by-id/usb-C-port0", "../ttyUSB1"},
        {"/by-id/usb-D-port0", "../ttyUSB9"},
    };
    for (const auto& [link, target] : links) {
        ASSERT_EQ(::symlink(target, (dir + link).c_str()), 0);
    }
    const std::map<std::string, std::string> expected = {
        {dir + "/ttyUSB0", dir + "/by-id/usb-A-port0"},
        {dir + "/ttyUSB1", dir + "/by-id/usb-C-port0"},
    };
    EXPECT_EQ(ByIdLinks(dir + "/by-id"), expected);
    EXPECT_TRUE(ByIdLinks(dir + "/none").empty());
    std::system(("rm -rf " + dir).c_str());
}

// A child process named name that opens path, locks it when asked, and waits to be killed.
pid_t Hold(const std::string& path, const char* name, bool lock) {
    int ready[2];
    if (::pipe(ready) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_NAME, name);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0 && lock) {
            ::flock(fd, LOCK_EX);
        }
        const char done = fd >= 0 ? 1 : 0;
        [[maybe_unused]] const ssize_t told = ::write(ready[1], &done, 1);
        ::pause();
        ::_exit(0);
    }
    char done = 0;
    const ssize_t told = ::read(ready[0], &done, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    return told == 1 && done == 1 ? child : -1;
}

TEST(PortAccessTest, HoldersAreNamedTheLockHolderFirst) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string path = ::ttyname(slave);
    // This process holds the port too: it never names itself.
    EXPECT_TRUE(FindPortHolders(path).empty());
    const pid_t opener = Hold(path, "opener", false);
    ASSERT_GT(opener, 0);
    EXPECT_EQ(HoldersText(FindPortHolders(path)),
              "held by opener (pid " + std::to_string(opener) + ")");
    // The one whose lock keeps the port busy, not every program that has it open.
    const pid_t locker = Hold(path, "locker", true);
    ASSERT_GT(locker, 0);
    EXPECT_EQ(HoldersText(FindPortHolders(path)),
              "held by locker (pid " + std::to_string(locker) + ")");
    for (const pid_t child : {opener, locker}) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    EXPECT_TRUE(FindPortHolders(path).empty());
    EXPECT_TRUE(FindPortHolders("/dev/ostrevan-none").empty());
    ::close(master);
    ::close(slave);
}

TEST(PortAccessTest, ADeniedPortNamesItsGroupAndTheFix) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "gives a file away to another group: needs root";
    }
    char folder[] = "/tmp/ostrevan-denied-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string node = std::string(folder) + "/ttyUSB0";
    const std::string link = std::string(folder) + "/port";
    std::fclose(std::fopen(node.c_str(), "w"));
    ASSERT_EQ(::symlink(node.c_str(), link.c_str()), 0);
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    const std::string fix =
        ": permission denied; the port belongs to the group dialout. Add yourself to the group "
        "dialout: sudo usermod -aG dialout $USER, then log in again";
    struct Case {
        std::string path;
        gid_t group;
        mode_t mode;
        std::string advice;
    };
    const Case cases[] = {
        {node, dialout->gr_gid, 0660, node + fix},
        {link, dialout->gr_gid, 0660, link + " (" + node + ")" + fix},
        // a group that may not read and write it: joining it would not help
        {node, dialout->gr_gid, 0600,
         node + ": permission denied; only its owner root may open it (group dialout, mode 0600)"},
        {node, 0, 0660,
         node + ": permission denied; only its owner root may open it (group root, mode 0660)"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(::chown(node.c_str(), 0, c.group), 0);
        ASSERT_EQ(::chmod(node.c_str(), c.mode), 0);
        EXPECT_EQ(DeniedAdvice(c.path), c.advice);
    }
    std::system((std::string("rm -rf ") + folder).c_str());
}

}  // namespace
