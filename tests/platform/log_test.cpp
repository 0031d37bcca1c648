// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/log.h"
#include "text/utf8.h"

namespace kavi::win {
namespace {

using namespace std::string_literals;

// What LogLine writes to standard error while fn runs.
template <typename Fn>
std::string CapturedLog(Fn fn) {
  int pipe_fds[2];
  EXPECT_EQ(::pipe(pipe_fds), 0);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(pipe_fds[1], STDERR_FILENO);
  fn();
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(pipe_fds[1]);
  std::string out;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
  ::close(pipe_fds[0]);
  return out;
}

TEST(LogLineTest, InvalidUtf8IsEscapedAndValidTextKept) {
  struct Case {
    std::string text;
    std::string logged;
  };
  const Case cases[] = {
      {"[Kavi] 主題載入失敗：dark", "[Kavi] 主題載入失敗：dark\n"},
      {"[Kavi] theme \xff\xfe!", "[Kavi] theme \\xFF\\xFE!\n"},
      {"[Kavi] cut \xe4\xb8", "[Kavi] cut \\xE4\\xB8\n"},            // a character cut short
      {"[Kavi] overlong \xc0\xaf", "[Kavi] overlong \\xC0\\xAF\n"},  // "/" spelt in two bytes
      {"[Kavi] surrogate \xed\xa0\x80.", "[Kavi] surrogate \\xED\\xA0\\x80.\n"},
      {"[Kavi] nul \0x"s, "[Kavi] nul \\x00x\n"},
      {"[Kavi] escape \x1b[2J bell \a", "[Kavi] escape \\x1B[2J bell \\x07\n"},
  };
  for (const Case& c : cases) {
    const std::string logged = CapturedLog([&] { LogLine(c.text); });
    EXPECT_EQ(logged, c.logged);
    EXPECT_TRUE(IsValidUtf8(logged));
  }
}

}  // namespace
}  // namespace kavi::win
