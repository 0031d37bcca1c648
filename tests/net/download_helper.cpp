// SPDX-License-Identifier: Apache-2.0
// Downloads one file in a process of its own, for the test of two processes sharing a target.
// usage: kavi_download_helper URL CA_BUNDLE TARGET SIZE SHA256; prints the outcome.
#include <cstdlib>
#include <iostream>
#include <string>

#include "update/file_downloader.h"

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  kavi::win::HttpClientOptions options;
  options.extra_ca_bundle = argv[2];
  const kavi::win::WinHttpClient client(options);
  kavi::win::DownloadRequest request;
  request.url = argv[1];
  request.target = argv[3];
  request.expected_size = std::strtoull(argv[4], nullptr, 10);
  request.expected_sha256 = argv[5];
  std::string message;
  const bool done = kavi::win::FileDownloader(client).Download(request, &message);
  std::cout << (done ? "done" : message) << std::endl;
  return done ? 0 : 1;
}
