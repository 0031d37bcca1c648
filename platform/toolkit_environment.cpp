// SPDX-License-Identifier: Apache-2.0
#include "platform/toolkit_environment.h"

#include <cstdlib>

namespace kavi::win {

void KeepToolkitsOffOpenGl() {
  ::setenv("GDK_GL", "disable", /*overwrite=*/0);
}

}  // namespace kavi::win
