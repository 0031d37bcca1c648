// SPDX-License-Identifier: Apache-2.0
// A LibreTranslate stand-in on 127.0.0.1 (plain HTTP, as a local LibreTranslate serves): it
// answers "POST /translate" with "[target] q" and remembers what it was asked.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/json.h"

namespace kavi::win::testing {

class FakeLibreTranslate {
 public:
  FakeLibreTranslate() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 8);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeLibreTranslate() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/translate"; }
  // The request bodies received so far.
  std::vector<std::string> bodies() {
    std::lock_guard<std::mutex> hold(mutex_);
    return bodies_;
  }

 private:
  void Serve() {
    while (!stop_) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;
      std::string request;
      char buffer[4096];
      size_t header_end = std::string::npos, wanted = 0;
      for (;;) {
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        request.append(buffer, static_cast<size_t>(got));
        if (header_end == std::string::npos) {
          header_end = request.find("\r\n\r\n");
          if (header_end == std::string::npos) continue;
          const size_t length = request.find("Content-Length: ");
          wanted = length == std::string::npos ? 0 : std::stoul(request.substr(length + 16));
        }
        if (request.size() >= header_end + 4 + wanted) break;
      }
      const std::string body =
          header_end == std::string::npos ? std::string() : request.substr(header_end + 4);
      {
        std::lock_guard<std::mutex> hold(mutex_);
        bodies_.push_back(body);
      }
      JsonValue root;
      std::string q, target, answer;
      if (server::ParseJson(body, &root, nullptr) && server::GetJsonString(root, "q", &q) &&
          server::GetJsonString(root, "target", &target)) {
        answer = "{\"translatedText\":";
        server::AppendJsonString("[" + target + "] " + q, &answer);
        answer += "}";
      } else {
        answer = "{\"error\":\"bad request\"}";
      }
      const std::string reply =
          "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
          "Connection: close\r\nContent-Length: " +
          std::to_string(answer.size()) + "\r\n\r\n" + answer;
      ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
      ::close(client);
    }
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> bodies_;
  std::thread thread_;
};

}  // namespace kavi::win::testing
