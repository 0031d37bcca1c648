// SPDX-License-Identifier: Apache-2.0
#include "platform/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace kavi::win {
namespace {

// Standard input replaced by another descriptor for the length of a test.
class StdinRedirect {
 public:
  explicit StdinRedirect(int fd) : saved_(::dup(STDIN_FILENO)) { ::dup2(fd, STDIN_FILENO); }
  ~StdinRedirect() {
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }
  StdinRedirect(const StdinRedirect&) = delete;
  StdinRedirect& operator=(const StdinRedirect&) = delete;

 private:
  int saved_;
};

// A pseudo-terminal: the test types into the master; the terminal under test is the slave.
struct PseudoTerminal {
  PseudoTerminal() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
      slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~PseudoTerminal() {
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
  }
  int master = -1;
  int slave = -1;
};

TEST(RawTerminalTest, RawWhileItLivesAndByteByByte) {
  PseudoTerminal pty;
  ASSERT_GE(pty.slave, 0);
  StdinRedirect redirect(pty.slave);
  termios before{};
  ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
  ASSERT_TRUE(before.c_lflag & ICANON);
  {
    RawTerminal terminal;
    ASSERT_TRUE(terminal.active());
    termios raw{};
    ASSERT_EQ(tcgetattr(pty.slave, &raw), 0);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(raw.c_iflag & (IXON | ICRNL), 0u);

    EXPECT_EQ(terminal.WaitForInput(0), RawTerminal::InputWait::kTimedOut);
    // No line ending: in raw mode each byte is there as soon as it is typed, and '\r' stays '\r'.
    ASSERT_EQ(::write(pty.master, "\x1b[A\r", 4), 4);
    EXPECT_EQ(terminal.WaitForInput(-1), RawTerminal::InputWait::kReady);
    for (unsigned char expected : {'\x1b', '[', 'A', '\r'})
      EXPECT_EQ(terminal.ReadByte(), expected);
    EXPECT_EQ(terminal.WaitForInput(0), RawTerminal::InputWait::kTimedOut);
  }
  termios after{};
  ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
}

TEST(RawTerminalTest, InputThatIsNoTerminalStaysAsItIsAndEndsInNothing) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    StdinRedirect redirect(fds[0]);
    ASSERT_EQ(::write(fds[1], "k", 1), 1);
    ::close(fds[1]);
    RawTerminal terminal;
    EXPECT_FALSE(terminal.active());
    EXPECT_EQ(terminal.ReadByte(), 'k');
    EXPECT_EQ(terminal.WaitForInput(-1), RawTerminal::InputWait::kReady);
    EXPECT_EQ(terminal.ReadByte(), std::nullopt);
  }
  ::close(fds[0]);
}

}  // namespace
}  // namespace kavi::win
