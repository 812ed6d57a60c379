#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Clock.h"
#include "platform/posix/PosixSerialDevice.h"
#include "serial/Eventually.h"
#include "serial/PortKeeper.h"
#include "serial/SerialPort.h"

namespace {

// A pseudo-terminal: the port opens the slave by its path, the test plays the far end on the
// master and keeps its own slave descriptor to read the line settings back.
class Pty {
  public:
    Pty() {
        // Raw from the start: bytes the far end sends before the port has set the line up
        // must not be echoed back.
        termios raw{};
        ::cfmakeraw(&raw);
        if (::openpty(&master_, &slave_, nullptr, &raw, nullptr) == 0) {
            path_ = ::ttyname(slave_);
        }
    }
    ~Pty() {
        CloseMaster();
        if (slave_ >= 0) {
            ::close(slave_);
        }
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool Ok() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    std::string PortName() const { return "COM" + path_; }
    int Slave() const { return slave_; }

    void Send(const std::string& text) {
        ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Reads until count bytes came or nothing comes for 10 s.
    std::vector<uint8_t> Receive(size_t count) {
        std::vector<uint8_t> bytes;
        uint8_t chunk[4096];
        while (bytes.size() < count) {
            pollfd fds = {master_, POLLIN, 0};
            if (::poll(&fds, 1, 10000) <= 0) {
                break;
            }
            const ssize_t got =
                ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (got <= 0) {
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }
    speed_t OutputSpeed() const {
        termios tio{};
        ::tcgetattr(slave_, &tio);
        return ::cfgetospeed(&tio);
    }
    // Fills the line towards the master until the kernel takes no more; the count put in.
    size_t Fill() {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
        size_t total = 0;
        const std::vector<uint8_t> block(4096, 0xAA);
        // The kernel moves bytes on to the master's side in the background, so a line that
        // refused one write may take more a moment later: full is when it stays refused.
        for (;;) {
            const ssize_t put = ::write(fd, block.data(), block.size());
            if (put > 0) {
                total += static_cast<size_t>(put);
                continue;
            }
            pollfd fds = {fd, POLLOUT, 0};
            if (::poll(&fds, 1, 200) <= 0) {
                break;
            }
        }
        ::close(fd);
        return total;
    }
    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Passes every call on and records the sizes of the writes.
class RecordingDevice : public PosixSerialDevice {
  public:
    using PosixSerialDevice::PosixSerialDevice;
    IoResult Write(const uint8_t* bytes, uint32_t count, uint32_t& written) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sizes_.push_back(count);
        }
        return PosixSerialDevice::Write(bytes, count, written);
    }
    std::vector<uint32_t> Sizes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sizes_;
    }

  private:
    std::mutex mutex_;
    std::vector<uint32_t> sizes_;
};

std::string ReadText(SerialPort& port, size_t count, bool handshake) {
    std::string text;
    uint8_t byte = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.size() < count && std::chrono::steady_clock::now() < limit) {
        if (handshake ? port.ReadHandshakeByte(byte) : port.ReadByte(byte)) {
            text.push_back(static_cast<char>(byte));
        } else {
            port.WaitForByte(100);
        }
    }
    return text;
}

std::vector<uint8_t> Pattern(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 13 + i / 251);
    }
    return bytes;
}

// Ports as a lister would give them: a test moves a device to another node.
class FakeLister : public PortLister {
  public:
    std::vector<PortInfo> List() override { return ports; }
    void Put(const std::string& serial, const std::string& node) {
        PortInfo port;
        port.node = node;
        port.serial = serial;
        ports = {port};
    }
    std::vector<PortInfo> ports;
};

class PosixSerialTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty.Ok()); }
    void OpenPty() {
        port.SetPortName(pty.PortName());
        port.Open();
        ASSERT_EQ(port.IsOpen(), 1u);
    }

    Pty pty;
    RecordingDevice device;
    SerialPort port{device};
};

}  // namespace

TEST(PosixSerialDeviceTest, PortNamesMapToDevicePaths) {
    PosixSerialDevice device;
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    const std::string here = cwd;
    const std::pair<std::string, std::string> cases[] = {
        {"COM./port", here + "/port"},
        {"COMsub/./port", here + "/sub/./port"},
        {"COM../port", here + "/../port"},
        {"COM1", "/dev/ttyS0"},
        {"COM10", "/dev/ttyS9"},
        {"com2", "/dev/ttyS1"},
        {"COM/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"COM0", ""},
        {"COMCOM3", ""},
        {"COM1x", ""},
        {"COM", ""},
        {"", ""},
        {"OFF", ""},
        {"/dev/ttyS0", ""},
        {"COM99999999999", ""},
        // resolved to a node only when used: the device may move to another one
        {"COMusb:A9XYZ01", "usb:A9XYZ01"},
        {"COMusb:", ""},
    };
    for (const auto& [name, path] : cases) {
        EXPECT_EQ(device.DevicePath(name), path) << name;
    }
}

TEST(PosixSerialDeviceTest, APortExistsWhenItsPathIsACharacterDeviceThatIsATerminal) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    char folder[] = "/tmp/ostrevan-exists-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/plain";
    std::fclose(std::fopen(file.c_str(), "w"));
    FakeLister lister;
    lister.Put("A9XYZ01", pty.Path());
    PosixSerialDevice device(&lister);
    struct Case {
        std::string name;
        bool exists;
        bool notSerial;  // refused at once, before any open
        SerialDevice::OpenResult opened;
    };
    using Result = SerialDevice::OpenResult;
    const Case cases[] = {
        {pty.PortName(), true, false, Result::Ok},
        // a device, but one without a line: it takes every byte and answers nothing
        {"COM/dev/null", true, false, Result::NotSerial},
        {"COM" + file, false, true, Result::NotSerial},
        {std::string("COM") + folder, false, true, Result::NotSerial},
        {"COM/dev/ostrevan-none", false, false, Result::Failed},
        {"", false, true, Result::Failed},
        {"OFF", false, true, Result::Failed},
        // a USB device by its serial number: there, or waited for as a missing port is
        {"COMusb:A9XYZ01", true, false, Result::Ok},
        {"COMusb:B0", false, false, Result::Failed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(device.PortExists(c.name), c.exists) << c.name;
        EXPECT_EQ(device.IsNotSerialPort(c.name), c.notSerial) << c.name;
        EXPECT_EQ(device.Open(device.DevicePath(c.name)), c.opened) << c.name;
        device.Close();
    }
    ::unlink(file.c_str());
    ::rmdir(folder);
}

TEST_F(PosixSerialTest, BytesTravelBothWays) {
    OpenPty();
    pty.Send("hello");
    EXPECT_EQ(ReadText(port, 5, false), "hello");
    EXPECT_EQ(ReadText(port, 5, true), "hello");
    uint8_t byte = 0;
    EXPECT_FALSE(port.ReadByte(byte));
    EXPECT_FALSE(port.ReadHandshakeByte(byte));

    ASSERT_TRUE(port.WriteText("world\r\n"));
    const std::vector<uint8_t> got = pty.Receive(7);
    EXPECT_EQ(std::string(got.begin(), got.end()), "world\r\n");
}

TEST_F(PosixSerialTest, TwentyThousandBytesLeaveInThreeWrites) {
    OpenPty();
    const std::vector<uint8_t> data = Pattern(20000);
    auto far = std::async(std::launch::async, [&] { return pty.Receive(data.size()); });
    ASSERT_TRUE(port.Write(data.data(), static_cast<uint32_t>(data.size())));
    EXPECT_EQ(far.get(), data);
    EXPECT_EQ(device.Sizes(), (std::vector<uint32_t>{8196, 8196, 3608}));
}

TEST_F(PosixSerialTest, TransmitDoneIsFalseWhileBytesWaitAndTrueOnceTheyLeft) {
    OpenPty();
    const size_t filler = pty.Fill();
    ASSERT_GT(filler, 0u);
    const std::vector<uint8_t> data = Pattern(10000);
    ASSERT_TRUE(port.Write(data.data(), static_cast<uint32_t>(data.size())));
    EXPECT_EQ(port.TransmitDone(), 0u);
    EXPECT_EQ(port.TransmitDone(), 0u);

    const std::vector<uint8_t> got = pty.Receive(filler + data.size());
    ASSERT_EQ(got.size(), filler + data.size());
    EXPECT_EQ(std::vector<uint8_t>(got.end() - 10000, got.end()), data);
    EXPECT_TRUE(Eventually([&] { return port.TransmitDone() != 0; }));
}

TEST_F(PosixSerialTest, SetSpeedReachesTheLine) {
    OpenPty();
    EXPECT_EQ(pty.OutputSpeed(), static_cast<speed_t>(B19200));
    const std::pair<int, speed_t> cases[] = {{9, B115200}, {5, B9600}, {8, B57600}, {0, B300}};
    for (const auto& [code, speed] : cases) {
        port.SetSpeed(code);
        EXPECT_EQ(pty.OutputSpeed(), speed) << code;
    }
}

TEST_F(PosixSerialTest, CloseEndsTheThreadsAndReleasesThePort) {
    OpenPty();
    pty.Fill();
    ASSERT_TRUE(port.WriteText("blocked behind a full line"));
    port.TransmitDone();
    port.Close();
    EXPECT_EQ(port.IsOpen(), 0u);
    PosixSerialDevice other;
    EXPECT_EQ(other.Open(pty.Path()), SerialDevice::OpenResult::Ok);
}

TEST_F(PosixSerialTest, AHungUpPortIsToldAtOnceAndClosedByCheckDevice) {
    OpenPty();
    port.CheckDevice();
    EXPECT_EQ(port.IsOpen(), 1u);
    EXPECT_FALSE(port.DeviceLeft());
    pty.CloseMaster();
    // The reader's refused read tells, before anyone asks.
    EXPECT_TRUE(Eventually([&] { return port.DeviceLeft(); }));
    port.CheckDevice();
    EXPECT_EQ(port.IsOpen(), 0u);
}

TEST(PosixSerialMoveTest, APortWhoseNameNowStandsForAnotherDeviceIsClosedByCheckDevice) {
    // A device that re-appears under its name while the old node is still there: a link moved
    // to a new terminal, as a simulator or a udev alias does it, or a USB device named by its
    // serial number that came back under another node.
    for (const bool byUsbSerial : {false, true}) {
        Pty pty;
        Pty other;
        ASSERT_TRUE(pty.Ok() && other.Ok());
        char folder[] = "/tmp/ostrevan-moved-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        const std::string link = std::string(folder) + "/port";
        ASSERT_EQ(::symlink(pty.Path().c_str(), link.c_str()), 0);
        FakeLister lister;
        lister.Put("A9XYZ01", pty.Path());
        RecordingDevice device(&lister);
        SerialPort port(device);
        port.SetPortName(byUsbSerial ? "COMusb:A9XYZ01" : "COM" + link);
        ASSERT_TRUE(port.Open());
        ASSERT_EQ(port.IsOpen(), 1u) << byUsbSerial;
        const uint32_t opens = port.OpenCount();
        port.CheckDevice();
        EXPECT_EQ(port.IsOpen(), 1u) << byUsbSerial;

        const std::string moved = link + ".new";
        ASSERT_EQ(::symlink(other.Path().c_str(), moved.c_str()), 0);
        ASSERT_EQ(::rename(moved.c_str(), link.c_str()), 0);
        lister.Put("A9XYZ01", other.Path());
        port.CheckDevice();
        EXPECT_EQ(port.IsOpen(), 0u) << byUsbSerial;
        ASSERT_TRUE(port.Open());
        EXPECT_EQ(port.OpenCount(), opens + 1) << byUsbSerial;
        // the port is the new node's: what its far end sends arrives
        other.Send("new");
        EXPECT_EQ(ReadText(port, 3, false), "new") << byUsbSerial;
        port.Close();
        ::unlink(link.c_str());
        ::rmdir(folder);
    }
}

TEST(PosixPortKeeperTest, OpenFailuresGiveTheirTexts) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    VirtualClock clock;
    LockedValue32 stop{0};
    PosixSerialDevice firstDevice;
    PosixSerialDevice secondDevice;
    PortKeeper first(clock, stop, firstDevice);
    PortKeeper second(clock, stop, secondDevice);
    first.RequestPortName(pty.PortName());
    ASSERT_TRUE(first.OpenPortNow());
    EXPECT_EQ(first.PortErrorText.Get(), "");

    // The texts name the path, never the COM name that carries it.
    const std::pair<std::string, std::string> cases[] = {
        {pty.PortName(), pty.Path() + " is Locked by Another Device!"},
        {"COM/dev/ostrevan-none", "/dev/ostrevan-none Serial Port Open Error!"},
        {"", "No Serial Port Selected."},
    };
    for (const auto& [name, text] : cases) {
        second.RequestPortName(name);
        EXPECT_FALSE(second.OpenPortNow()) << name;
        EXPECT_EQ(second.PortErrorText.Get(), text);
    }
}

TEST(PosixPortKeeperTest, KeeperRetriesUntilThePortAppearsAndFollowsANewName) {
    Pty first;
    Pty second;
    ASSERT_TRUE(first.Ok() && second.Ok());
    char folder[] = "/tmp/ostrevan-keeper-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/port";

    LockedValue32 stop{0};
    PosixSerialDevice device;
    PortKeeper keeper(ProcessClock(), stop, device);
    keeper.RequestPortName("COM" + link);
    auto thread = std::async(std::launch::async, [&] { return keeper.ThreadMain(); });
    EXPECT_TRUE(Eventually(
        [&] { return keeper.PortErrorText.Get() == link + " Serial Port Open Error!"; }));

    ASSERT_EQ(::symlink(first.Path().c_str(), link.c_str()), 0);
    ASSERT_TRUE(Eventually([&] { return keeper.PortErrorText.Get().empty(); }));
    first.Send("one");
    EXPECT_EQ(ReadText(keeper.port, 3, false), "one");

    keeper.RequestPortName(second.PortName());
    second.Send("two");
    EXPECT_EQ(ReadText(keeper.port, 3, false), "two");
    keeper.link->WriteText("back");
    const std::vector<uint8_t> back = second.Receive(4);
    EXPECT_EQ(std::string(back.begin(), back.end()), "back");

    keeper.RequestSpeed(9);
    EXPECT_TRUE(Eventually([&] { return second.OutputSpeed() == B115200; }));

    stop.Set(1);
    EXPECT_EQ(thread.get(), PortKeeper::kExitCode);
    EXPECT_EQ(keeper.port.IsOpen(), 0u);
    PosixSerialDevice after;
    EXPECT_EQ(after.Open(second.Path()), SerialDevice::OpenResult::Ok);
    ::unlink(link.c_str());
    ::rmdir(folder);
}
