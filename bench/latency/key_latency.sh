#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Per-key latency with the candidate window on: Kavi on a private Xvfb, Kavi without a display,
# and Fcitx 5 + pinyin on the same Xvfb in the same run. Fcitx 5 is a black-box baseline for
# this benchmark only: it is installed here, never in scripts/deps.
#   usage: bench/latency/key_latency.sh [BUILD_DIR] [REPS]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
reps="${2:-10}"
peer=(fcitx5 fcitx5-chinese-addons python3-dbus python3-gi dbus-x11 xvfb)
missing=()
for p in "${peer[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
# The shared bench tools lie beside the checkout (or beside the folder of work trees).
peer_script=""
for shared in "$root/../shared" "$root/../../shared"; do
  if [ -f "$shared/bench-tools/fcitx_peer_bench.sh" ]; then
    peer_script="$(cd "$shared/bench-tools" && pwd)/fcitx_peer_bench.sh"
    break
  fi
done
cmake --build "$build" -j2 --target kavi_key_latency_bench KaviServer kavi_data
"$build/bench/latency/kavi_key_latency_bench" --reps="$reps" ${peer_script:+--peer-script="$peer_script"}
