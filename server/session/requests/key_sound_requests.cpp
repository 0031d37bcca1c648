// SPDX-License-Identifier: Apache-2.0
#include "server/session/requests/key_sound_requests.h"

#include <string>

#include "server/session/requests/request_replies.h"

namespace kavi::win {

PipeResponse HandleKeySoundRequest(const PipeRequest& request, KeySoundPort* key_sounds) {
  if (!key_sounds || !key_sounds->Play(std::string(TextFieldView(request.text)), request.argument))
    return RefusedReply(request);
  return OkReply(request);
}

}  // namespace kavi::win
