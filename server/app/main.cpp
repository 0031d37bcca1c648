// SPDX-License-Identifier: Apache-2.0
#include "server/app/server_app.h"

int main(int argc, char** argv) {
  return kavi::win::server::RunServer(argc, argv);
}
