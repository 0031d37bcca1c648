#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Per-key latency through ibus-daemon for Kavi and ibus-libpinyin, in one private session.
# ibus-libpinyin is a black-box baseline for this benchmark only: it is installed here, not in
# scripts/deps.   Usage: bench/ibus/ibus_key_latency.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
if ! dpkg-query -W -f='${Status}' ibus-libpinyin 2>/dev/null | grep -q "install ok installed"; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends ibus-libpinyin
fi
cmake --build "$build" -j2 --target kavi_ibus_bench ibus-engine-kavi KaviServer kavi-client kavi_data
"$root/scripts/ibus-session" -c "$build/ibus/component" -b "$build/bin" -- bash -c "
  for _ in \$(seq 100); do '$build/bin/kavi-client' pid >/dev/null 2>&1 && break; sleep 0.1; done
  '$build/bench/ibus/kavi_ibus_bench'"
