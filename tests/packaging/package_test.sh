#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian package, unpacks it into a scratch root, checks the installed layout, types
# through the installed client and server, and runs lintian on it.
#   package_test.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d)
root=$work/root
passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@" >"$work/out" 2>&1; then
    passed=$((passed + 1)); echo "ok: $what"
  else
    failed=$((failed + 1)); echo "FAILED: $what"; tail -20 "$work/out"
  fi
}
cleanup() {
  if [ -x "$root/usr/bin/kavi-client" ]; then
    LD_LIBRARY_PATH=$root/usr/lib/kavi "$root/usr/bin/kavi-client" --no-start shutdown >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; echo "0 passed, 1 failed"; exit 1; }
deb=$(ls "$work"/package/kavi_*.deb)
echo "package: $(basename "$deb")"
dpkg-deb -x "$deb" "$root"

for path in usr/lib/kavi/KaviServer usr/lib/kavi/libovra.so usr/lib/kavi/ibus-engine-kavi \
            usr/lib/kavi/KaviSettings usr/lib/kavi/kavi-client usr/share/kavi/data/.kavi-release \
            usr/share/kavi/data/schemas/base_pinyin.schema.yaml usr/share/kavi/data/plugin/emoji.txt \
            usr/share/kavi/data/dictionaries/sc.dict.flat \
            usr/share/ibus/component/kavi.xml usr/lib/systemd/user/kavi.service \
            usr/share/icons/hicolor/scalable/apps/kavi.svg usr/share/doc/kavi/copyright; do
  check "installs $path" test -s "$root/$path"
done
check "kavi-client on the PATH links into lib/kavi" \
  test "$(readlink "$root/usr/bin/kavi-client")" = ../lib/kavi/kavi-client
check "KaviSettings on the PATH links into lib/kavi" \
  test "$(readlink "$root/usr/bin/KaviSettings")" = ../lib/kavi/KaviSettings
check "the component starts the installed engine" \
  grep -q '<exec>/usr/lib/kavi/ibus-engine-kavi --ibus</exec>' "$root/usr/share/ibus/component/kavi.xml"
check "the user unit runs the installed server" \
  grep -q '^ExecStart=/usr/lib/kavi/KaviServer$' "$root/usr/lib/systemd/user/kavi.service"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in ibus libime-data libime-data-language-model wamerican libc6 libime libopencc libyaml-cpp libibus-1.0; do
  check "depends on $dep" grep -q "$dep" <<<"$depends"
done

# The installed programs, run from the scratch root: the client starts the installed server,
# which finds its data in share/kavi.
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config
export XDG_DATA_HOME=$work/home/.local/share LD_LIBRARY_PATH=$root/usr/lib/kavi
mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$HOME"
unset DISPLAY
for _ in $(seq 50); do
  "$root/usr/bin/kavi-client" pid >/dev/null 2>&1 && break
  sleep 0.2
done
check "the installed server answers" "$root/usr/bin/kavi-client" --no-start pid
check "the installed server types nihao" \
  bash -c "'$root/usr/bin/kavi-client' --no-start type 'nihao{space}' | grep -qx 'committed: 你好'"
check "the installed server made its data generation from share/kavi" \
  cmp "$root/usr/share/kavi/data/.kavi-release" "$XDG_DATA_HOME/Kavi/build/$(cat "$XDG_DATA_HOME/Kavi/build/current.txt")/data/.kavi-release"
check "KaviSettings lists the installed themes" \
  bash -c "'$root/usr/bin/KaviSettings' --page=appearance | grep -q vermilion"

lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" >"$work/lintian.log" 2>&1
lintian_rc=$?
grep -E '^E:' "$work/lintian.log"
check "lintian finds no error" test "$lintian_rc" -eq 0
echo "lintian: $(grep -c '^W:' "$work/lintian.log") warnings"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
