// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/qr_code.h"

#include <qrencode.h>

namespace kavi::win {

std::optional<QrCode> EncodeQrCode(const std::string& text) {
  if (text.empty()) return std::nullopt;
  QRcode* encoded = QRcode_encodeData(static_cast<int>(text.size()),
                                      reinterpret_cast<const unsigned char*>(text.data()),
                                      /*version=*/0, QR_ECLEVEL_M);
  if (encoded == nullptr) return std::nullopt;
  QrCode code;
  code.size = encoded->width;
  code.dark.resize(static_cast<size_t>(code.size) * code.size);
  for (size_t i = 0; i < code.dark.size(); ++i) code.dark[i] = (encoded->data[i] & 1) != 0;
  QRcode_free(encoded);
  return code;
}

}  // namespace kavi::win
