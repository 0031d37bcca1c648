// SPDX-License-Identifier: Apache-2.0
// The whole life of the server process: one-shot modes, one instance per user and session,
// start-up in a fixed order, serving, and teardown in reverse.
#pragma once

namespace kavi::win::server {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNoIdentity = 2;
inline constexpr int kExitNoSecurity = 3;
inline constexpr int kExitDataRecoveryFailed = 4;
inline constexpr int kExitForwardFailed = 5;

int RunServer(int argc, char** argv);

}  // namespace kavi::win::server
