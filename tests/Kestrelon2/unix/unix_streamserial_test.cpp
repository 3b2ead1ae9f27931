// Tests of the serial stream over a pseudo-terminal pair: raw bytes both ways, line settings, restoring the line, open errors and waiting.
#include "Kestrelon2/unix/unix_streamserial.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "tests/support/WireBytes.h"

namespace {
termios gLastRequested{};
}

// Pseudo-terminals keep eight data bits without parity whatever they are asked for, so the
// character format is checked where the line is asked for it; the call goes on to the OS as usual.
extern "C" int tcsetattr(int fd, int action, const termios* settings) noexcept
{
    using Real = int (*)(int, int, const termios*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    gLastRequested = *settings;
    return real(fd, action, settings);
}

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

size_t openDescriptors()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// The far end of the line: the master side of a pseudo-terminal, plus a slave descriptor of the
// test's own through which the line's settings are looked at.
class ASerialStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slavePath = ptsname(master);
        observer = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(observer, 0);
    }

    void TearDown() override
    {
        if (stream != nullptr) {
            aStream_Destroy(&stream);
        }
        closeMaster();
        if (observer >= 0) {
            close(observer);
        }
    }

    void closeMaster()
    {
        if (master >= 0) {
            close(master);
            master = -1;
        }
    }

    termios lineSettings() const
    {
        termios settings{};
        EXPECT_EQ(tcgetattr(observer, &settings), 0);
        return settings;
    }

    std::vector<uint8_t> readStream(size_t count) { return ReadStream(stream, count); }

    std::vector<uint8_t> readMaster(size_t count) const { return ReadBytes(master, count); }

    void writeMaster(const std::vector<uint8_t>& bytes) const
    {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int master = -1;
    int observer = -1;
    std::string slavePath;
    aStream* stream = nullptr;
};

TEST_F(ASerialStream, CarriesEveryByteValueBothWaysUnchanged)
{
    ASSERT_EQ(aStream_CreateSerial(slavePath.c_str(), 6, 0, 0, 0, &stream), aErrNone);
    ASSERT_NE(stream, nullptr);

    // Bytes a cooked line would translate, swallow or turn into signals.
    const std::vector<uint8_t> control = {0x00, 0x0D, 0x0A, 0x03, 0x04, 0x11, 0x13, 0x1A, 0x7F, 0xFF};
    uint8_t none = 0;
    EXPECT_EQ(stream->getProc(&none, stream->procRef), aErrNotReady);

    writeMaster(control);
    EXPECT_EQ(readStream(control.size()), control);

    ASSERT_EQ(aStream_Write(stream, control.data(), control.size()), aErrNone);
    const uint8_t single = 0x0A;
    ASSERT_EQ(aStream_Write(stream, &single, 1), aErrNone);
    std::vector<uint8_t> expected = control;
    expected.push_back(single);
    EXPECT_EQ(readMaster(expected.size()), expected);
}

TEST_F(ASerialStream, ConfiguresARawLineFromTheSelectors)
{
    const struct {
        uint32_t speedCode;
        uint8_t parity;
        uint8_t dataBits;
        uint8_t stopBits;
        speed_t speed;
        tcflag_t size;
    } cases[] = {
        {6, 0, 0, 0, B115200, CS8}, {9, 0, 0, 0, B0, CS8},      {0, 0, 0, 0, B2400, CS8},
        {7, 0, 0, 0, B230400, CS8}, {2, 1, 0, 0, B9600, CS8},   {3, 0, 1, 0, B19200, CS7},
        {4, 0, 0, 1, B38400, CS8},  {5, 1, 1, 1, B57600, CS7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.speedCode << " parity " << int(c.parity)
                                        << " dataBits " << int(c.dataBits) << " stopBits "
                                        << int(c.stopBits));
        ASSERT_EQ(aStream_CreateSerial(slavePath.c_str(), c.speedCode, c.parity, c.dataBits,
                                       c.stopBits, &stream),
                  aErrNone);
        const termios line = lineSettings();
        EXPECT_EQ(cfgetispeed(&line), c.speed);
        EXPECT_EQ(cfgetospeed(&line), c.speed);
        EXPECT_EQ((line.c_cflag & CSTOPB) != 0, c.stopBits != 0);
        EXPECT_EQ(line.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
        EXPECT_EQ(gLastRequested.c_cflag & CSIZE, c.size);
        EXPECT_EQ((gLastRequested.c_cflag & PARENB) != 0, c.parity != 0);
        EXPECT_EQ(gLastRequested.c_cflag & PARODD, 0u);
        EXPECT_EQ(line.c_iflag, tcflag_t(IGNBRK | (c.parity != 0 ? IGNPAR : 0)));
        EXPECT_EQ(line.c_oflag, 0u);
        EXPECT_EQ(line.c_lflag, 0u);
        EXPECT_EQ(line.c_cc[VMIN], 0);
        EXPECT_EQ(line.c_cc[VTIME], 0);
        EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
    }
}

TEST_F(ASerialStream, DeleteRestoresTheSettingsFoundAtOpen)
{
    termios found = lineSettings();
    found.c_iflag = ICRNL | IXON;
    found.c_oflag = OPOST | ONLCR;
    found.c_lflag = ICANON | ECHO | ISIG;
    found.c_cflag = CREAD | CS8 | HUPCL;
    cfsetispeed(&found, B4800);
    cfsetospeed(&found, B4800);
    found.c_cc[VMIN] = 1;
    found.c_cc[VTIME] = 5;
    ASSERT_EQ(tcsetattr(observer, TCSANOW, &found), 0);
    const termios before = lineSettings();

    ASSERT_EQ(aStream_CreateSerial(slavePath.c_str(), 7, 1, 1, 1, &stream), aErrNone);
    ASSERT_NE(lineSettings().c_lflag, before.c_lflag);
    EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
    EXPECT_EQ(stream, nullptr);

    const termios after = lineSettings();
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&before));
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

TEST_F(ASerialStream, RefusesBadArgumentsAndLinesThatCannotBeOpenedWithoutLeaking)
{
    char directory[] = "/tmp/unix_streamserial_test.XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string plainFile = std::string(directory) + "/not-a-terminal";
    std::ofstream(plainFile) << "x";
    const std::string missing = std::string(directory) + "/missing";
    const std::string tooLong(5000, 'a');

    const struct {
        const char* path;
        uint8_t dataBits;
        uint8_t stopBits;
        aErr expected;
    } cases[] = {
        {nullptr, 0, 0, aErrResource},
        {slavePath.c_str(), 2, 0, aErrResource},
        {slavePath.c_str(), 0, 2, aErrResource},
        {tooLong.c_str(), 0, 0, aErrResource},
        {missing.c_str(), 0, 0, aErrNotFound},
        {plainFile.c_str(), 0, 0, aErrIO},
    };
    const size_t descriptors = openDescriptors();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path == nullptr ? "null path" : std::string(c.path).substr(0, 80));
        aStream* out = reinterpret_cast<aStream*>(&out);
        EXPECT_EQ(aStream_CreateSerial(c.path, 6, 0, c.dataBits, c.stopBits, &out), c.expected);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(aStream_CreateSerial(slavePath.c_str(), 6, 0, 0, 0, nullptr), aErrResource);
    EXPECT_EQ(openDescriptors(), descriptors);
    std::filesystem::remove_all(directory);
}

TEST_F(ASerialStream, ReportsAnUnreadableDeviceAsAPermissionError)
{
    if (geteuid() == 0) {
        GTEST_SKIP() << "root opens any device";
    }
    ASSERT_EQ(chmod(slavePath.c_str(), 0), 0);
    EXPECT_EQ(aStream_CreateSerial(slavePath.c_str(), 6, 0, 0, 0, &stream), aErrPermission);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(ASerialStream, WaitSleepsWhileTheLineIsIdle)
{
    ASSERT_EQ(aStream_CreateSerial(slavePath.c_str(), 6, 0, 0, 0, &stream), aErrNone);
    const double cpuBefore = threadCpuMs();
    const auto start = Clock::now();
    EXPECT_EQ(aStream_Wait(stream, 300), aErrNotReady);
    const long long elapsed = msSince(start);
    EXPECT_GE(elapsed, 295);
    EXPECT_LT(elapsed, 1500);
    EXPECT_LT(threadCpuMs() - cpuBefore, 30.0);
}

TEST_F(ASerialStream, WaitReturnsWhenAByteArrivesAndWhileOneWaits)
{
    ASSERT_EQ(aStream_CreateSerial(slavePath.c_str(), 6, 0, 0, 0, &stream), aErrNone);
    std::thread sender([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        writeMaster({0x5A});
    });
    const auto start = Clock::now();
    EXPECT_EQ(aStream_Wait(stream, 5000), aErrNone);
    EXPECT_LT(msSince(start), 2000);
    sender.join();

    const auto again = Clock::now();
    EXPECT_EQ(stream->waitProc(5000, stream->procRef), aErrNone);
    EXPECT_LT(msSince(again), 100);
    uint8_t byte = 0;
    EXPECT_EQ(stream->getProc(&byte, stream->procRef), aErrNone);
    EXPECT_EQ(byte, 0x5A);
}

TEST_F(ASerialStream, WaitReturnsOnHangUpSoThatGetReportsIt)
{
    ASSERT_EQ(aStream_CreateSerial(slavePath.c_str(), 6, 0, 0, 0, &stream), aErrNone);
    closeMaster();
    const auto start = Clock::now();
    EXPECT_EQ(stream->waitProc(5000, stream->procRef), aErrNone);
    EXPECT_LT(msSince(start), 1000);
    uint8_t byte = 0;
    EXPECT_EQ(stream->getProc(&byte, stream->procRef), aErrIO);
}

} // namespace
