// SPDX-License-Identifier: Apache-2.0
#include "platform/stream_socket.h"

#include <sys/socket.h>
#include <unistd.h>

namespace kavi::win {

int OpenSocket(int family, int type, int protocol) {
  return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

void CloseSocket(int fd) {
  ::close(fd);
}

}  // namespace kavi::win
