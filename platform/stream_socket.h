// SPDX-License-Identifier: Apache-2.0
// The socket calls the HTTPS client makes itself: it opens and closes its transfer sockets so
// that another thread can shut one down (ShutdownSocket, platform/ipc.h) to abort a blocked
// transfer.
#pragma once

namespace kavi::win {

// A new close-on-exec socket; -1 with errno set on failure.
int OpenSocket(int family, int type, int protocol);
void CloseSocket(int fd);

}  // namespace kavi::win
