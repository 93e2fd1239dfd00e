// The serial controller link against a controller emulator on a pseudo-terminal: COM2 names
// the pty's slave (BX_COM2), an emulator thread on the master answers each command line.
#include <bxplatform/serial.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/control_fixture.h"

namespace ferro::testing {
namespace {

using namespace bx::ui;

// Answers the i-th command line with replies[i] (the last one again after the list ends),
// `delayMs` warped milliseconds late; an empty reply is silence.
class ControllerEmulator {
public:
    ControllerEmulator(int master, std::vector<std::string> replies, uint32_t delayMs)
        : thread_([=, this](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  pollfd p{master, POLLIN, 0};
                  char c = 0;
                  if (::poll(&p, 1, 10) <= 0 || ::read(master, &c, 1) != 1 || c != '\n') continue;
                  const std::string& reply =
                      replies[std::min<size_t>(commands++, replies.size() - 1)];
                  bx::kernel::Sleep(delayMs);
                  if (::write(master, reply.data(), reply.size()) < 0) return;
              }
          }) {}
    std::atomic<int> commands{0};  // command lines received

private:
    std::jthread thread_;
};

class SerialLinkTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        char name[128] = {};
        ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        ::setenv("BX_COM2", name, 1);
        ::setenv("BX_COM3", "/nonexistent/bx_port", 1);
        // A script that runs out answers Cancel, so a Retry loop always ends.
        ui->SetResponder([](const MessageBoxRequest&) { return IDCANCEL; });
        Create();
    }
    void TearDown() override {
        control.reset();  // closes the port before the emulator goes
        emulator_.reset();
        ::close(master_);
        ::close(slave_);
        ::unsetenv("BX_COM2");
        ::unsetenv("BX_COM3");
        ControlTest::TearDown();
    }
    void Emulate(std::vector<std::string> replies, uint32_t delayMs = 0) {
        emulator_.reset();  // one emulator on the line at a time
        emulator_ = std::make_unique<ControllerEmulator>(master_, std::move(replies), delayMs);
    }
    // Picks a port in the (normally hidden) Controller group as a user would.
    void ChoosePort(int index) {
        control->grp_Controller->Show();
        control->AcquistionParameters->SetActivePage(control->tab_Device);
        ASSERT_TRUE(control->cbo_ControlPort->Select(index));
    }
    std::string Status() const { return control->lbl_ComStatus->Caption(); }

    int master_ = -1, slave_ = -1;
    std::unique_ptr<ControllerEmulator> emulator_;
};

const char kNoResponse[] = "No Response \n1. Is it switched on?\n2. Check Connections & Settings?";
const char kUnrecognised[] =
    "Unrecognised Response: \n1. Is the correct device connected\n2.Try Resetting or "
    "\n3.Check Connections & Port Settings?";
const char kVersionCaption[] = "Initialising Tessvik Ferro 1 Camera";

TEST_F(SerialLinkTest, VersionReplyShowsFromItsFifthCharacter) {
    const struct {
        const char* reply;
        const char* version;
    } cases[] = {{"VER 1.2\r", "1.2"}, {"VER 10.4.2b\r", "10.4.2b"}, {"VER\r", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        Emulate({c.reply});
        ui->Clear();
        ChoosePort(2);
        EXPECT_EQ(control->lbl_Version->Caption(), c.version);
        EXPECT_EQ(Status(), "Connected on COM2");
        EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
        EXPECT_EQ(emulator_->commands, 1);
        EXPECT_EQ(control->ControllerBusy, 0);
        ChoosePort(0);
    }
}

TEST_F(SerialLinkTest, SlowControllerWithinBoundsIsHeard) {
    Emulate({"VER 3.0\r"}, 4000);  // late, but inside the 5 s wait for a character
    ChoosePort(2);
    EXPECT_EQ(control->lbl_Version->Caption(), "3.0");
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(SerialLinkTest, UnrecognisedReplyAsksRetryOrCancel) {
    Emulate({"HELLO\r", "STILL NOT\r"});
    ui->QueueAnswers({IDRETRY, IDCANCEL});
    ChoosePort(2);
    const auto boxes = ui->Boxes();
    ASSERT_EQ(boxes.size(), 2u) << BoxTexts();
    for (const auto& box : boxes) {
        EXPECT_EQ(box.Text, kUnrecognised);
        EXPECT_EQ(box.Caption, kVersionCaption);
        EXPECT_EQ(box.Buttons(), MB_RETRYCANCEL);
    }
    EXPECT_EQ(emulator_->commands, 2);
    EXPECT_EQ(control->lbl_Diagnosis->Caption(), "?VER\r\n : STILL NOT");
    EXPECT_EQ(Status(), "Connected on COM2");  // cancelling this box keeps the port
}

TEST_F(SerialLinkTest, SilentControllerTimesOutBeepsAndClosesOnCancel) {
    Emulate({""});
    ChoosePort(2);
    const auto events = ui->Events();
    ASSERT_EQ(events.size(), 3u) << BoxTexts();
    EXPECT_EQ(events[0].box.Text, "READ Timeout");
    EXPECT_EQ(events[0].box.Caption, "ReadCharCom");
    EXPECT_EQ(events[0].box.Icon(), MB_ICONWARNING);
    EXPECT_TRUE(events[1].IsBeep());
    EXPECT_EQ(events[2].box.Text, kNoResponse);
    EXPECT_EQ(events[2].box.Caption, kVersionCaption);
    EXPECT_EQ(events[2].box.Buttons(), MB_RETRYCANCEL);
    EXPECT_EQ(control->lbl_Diagnosis->Caption(), "?VER\r\nRead Error");
    EXPECT_EQ(control->SerialPort, 0);
    EXPECT_EQ(Status(), "Not Connected");
}

TEST_F(SerialLinkTest, ChoosingNoneClosesTheOpenPort) {
    Emulate({"VER 1.2\r"});
    ChoosePort(2);
    const bx::kernel::SerialHandle open = control->SerialPort;
    ChoosePort(0);
    EXPECT_EQ(bx::kernel::FlushSerial(open).Result, bx::kernel::SerialResult::InvalidHandle);
    EXPECT_EQ(Status(), "Not Connected");
    std::string reply;
    EXPECT_FALSE(control->SendControllerCommand("?VER\r\n", reply));
    EXPECT_EQ(emulator_->commands, 1);
}

TEST_F(SerialLinkTest, MissingPortShowsBothOpenBoxes) {
    ChoosePort(3);
    const auto boxes = ui->Boxes();
    ASSERT_EQ(boxes.size(), 2u) << BoxTexts();
    EXPECT_EQ(boxes[0].Text, "Unable to Open COM Port");
    EXPECT_EQ(boxes[1].Text, "Unable to Set DCB for COM Port");
    for (const auto& box : boxes) {
        EXPECT_EQ(box.Caption, "Initialize");
        EXPECT_EQ(box.Icon(), MB_ICONWARNING);
    }
    EXPECT_EQ(Status(), "Not Connected");
}

TEST_F(SerialLinkTest, LongReplyStopsAtTheThirtyCharacterBuffer) {
    Emulate({std::string(40, 'x') + "\r"});
    ASSERT_TRUE(control->OpenControllerPort("COM2"));
    std::string reply;
    ASSERT_TRUE(control->SendControllerCommand("Q\n", reply));
    EXPECT_EQ(reply, std::string(29, 'x'));  // 30 read, the last dropped as the terminator
    EXPECT_EQ(control->lbl_Diagnosis->Caption(), "Q\n : " + std::string(29, 'x'));
}

}  // namespace
}  // namespace ferro::testing
