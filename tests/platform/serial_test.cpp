// The serial-port service against a pseudo-terminal pair: the port name reaches the pty's
// slave through BX_COMn, the test plays the far end on the master.
#include <bxplatform/kernel.h>
#include <bxplatform/serial.h>

#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace k = bx::kernel;

namespace {

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = k::TimeWarp();
        k::SetTimeWarp(50);
        char name[128] = {};
        ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        ::setenv("BX_COM7", name, 1);
    }
    void TearDown() override {
        if (port_ != k::INVALID_SERIAL_HANDLE) k::CloseSerialPort(port_);
        ::unsetenv("BX_COM7");
        ::close(master_);
        ::close(slave_);
        k::SetTimeWarp(saved_);
    }
    void Open(const k::SerialTimeouts& timeouts) {
        k::SerialStatus status;
        port_ = k::OpenSerialPort("COM7", &status);
        ASSERT_TRUE(status.Ok()) << status.Text();
        ASSERT_TRUE(k::SetSerialLine(port_, {}).Ok());
        ASSERT_TRUE(k::SetSerialTimeouts(port_, timeouts).Ok());
    }
    // Warped milliseconds that `fn` took.
    static int64_t WarpedMsFor(auto&& fn) {
        const int64_t t0 = k::NowMicroseconds();
        fn();
        return (k::NowMicroseconds() - t0) / 1000;
    }

    int master_ = -1, slave_ = -1;
    k::SerialHandle port_ = k::INVALID_SERIAL_HANDLE;
    double saved_ = 1;
};

TEST(SerialName, MapsComNamesToDevices) {
    ::setenv("BX_COM12", "/dev/ttyUSB3", 1);
    const struct {
        const char* name;
        const char* path;
    } cases[] = {{"COM1", "/dev/ttyS0"},
                 {"COM4", "/dev/ttyS3"},
                 {"COM12", "/dev/ttyUSB3"},
                 {"COM0", ""},
                 {"COM", ""},
                 {"COM1x", ""},
                 {"COM-1", ""},
                 {"LPT1", ""},
                 {"", ""}};
    for (const auto& c : cases) EXPECT_EQ(k::SerialDevicePath(c.name), c.path) << c.name;
    ::unsetenv("BX_COM12");
}

TEST(SerialName, MissingDeviceIsNotCreated) {
    const std::string path = ::testing::TempDir() + "bx_no_such_port";
    ::setenv("BX_COM8", path.c_str(), 1);
    k::SerialStatus status;
    EXPECT_EQ(k::OpenSerialPort("COM8", &status), k::INVALID_SERIAL_HANDLE);
    EXPECT_EQ(status.Error, ENOENT) << status.Text();
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    ::unsetenv("BX_COM8");
}

TEST_F(SerialTest, AppliesRawNineSixHundredEightNOne) {
    // Start from a cooked line with flow control and parity, as a port may have been left.
    termios t{};
    ASSERT_EQ(::tcgetattr(slave_, &t), 0);
    t.c_cflag |= PARENB | CSTOPB | CRTSCTS;
    ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &t), 0);
    Open({});
    ASSERT_EQ(::tcgetattr(slave_, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B9600);
    EXPECT_EQ(::cfgetispeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t{CS8});
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_iflag & ICRNL, 0u);  // a carriage return arrives as sent
}

TEST_F(SerialTest, ReadEndsByItsTotalTimeoutOrTheCallersLimit) {
    Open({.ReadInterval = 2000, .ReadTotalMultiplier = 500, .ReadTotalConstant = 4000});
    const struct {
        uint32_t limitMs;
        int64_t expectedMs;
    } cases[] = {{UINT32_MAX, 5000}, {500, 500}};  // 500 per byte asked for, plus 4000
    for (const auto& c : cases) {
        char buffer[2] = {};
        size_t n = 1;
        k::SerialStatus status;
        const int64_t ms =
            WarpedMsFor([&] { status = k::ReadSerial(port_, buffer, 2, &n, c.limitMs); });
        EXPECT_EQ(status.Result, k::SerialResult::TimedOut);
        EXPECT_EQ(n, 0u);
        EXPECT_GE(ms, c.expectedMs - 50);
        EXPECT_LT(ms, c.expectedMs + 2500);  // 50 ms of real slack for a busy machine
    }
}

TEST_F(SerialTest, ReadEndsByItsIntervalAfterFirstByte) {
    Open({.ReadInterval = 200, .ReadTotalConstant = 100000});
    ASSERT_EQ(::write(master_, "x", 1), 1);
    char buffer[4] = {};
    size_t n = 0;
    k::SerialStatus status;
    const int64_t ms = WarpedMsFor([&] { status = k::ReadSerial(port_, buffer, 4, &n); });
    EXPECT_EQ(status.Result, k::SerialResult::TimedOut);
    EXPECT_EQ(n, 1u);
    EXPECT_LT(ms, 5000);  // far below the 100 s total
}

TEST_F(SerialTest, WriteToAStalledLineEndsByItsTimeout) {
    // Nobody reads the master, so the pty's buffer fills and the write must give up.
    Open({.WriteTotalConstant = 1000});
    const std::vector<char> big(1 << 20, 'z');
    size_t n = 0;
    k::SerialStatus status;
    const int64_t ms =
        WarpedMsFor([&] { status = k::WriteSerial(port_, big.data(), big.size(), &n); });
    EXPECT_EQ(status.Result, k::SerialResult::TimedOut);
    EXPECT_LT(n, big.size());
    EXPECT_LT(ms, 1000 + 2500);
}

}  // namespace
