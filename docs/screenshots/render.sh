#!/usr/bin/env bash
# Renders the README's theme screenshots with kavi-screenshot (build it first).
# usage: docs/screenshots/render.sh [path/to/kavi-screenshot]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
shot="${1:-$here/../../build/bin/kavi-screenshot}"
row=(中國 中文 種類 重要 眾人 終於 中間)
with_comments=(輸入法 書:shū 舒服:shū 數學:shù 樹木 熟悉:shú 叔叔)

"$shot" --theme native --scale 1.5 --highlight 0 --out "$here/native-horizontal.png" "${row[@]}"
"$shot" --theme native --dark --scale 1.5 --highlight 1 --out "$here/native-horizontal-dark.png" "${row[@]}"
"$shot" --theme ink_wash --vertical --scale 1.5 --highlight 0 --preedit "shu ru" \
  --out "$here/ink_wash-vertical.png" "${with_comments[@]}"
"$shot" --theme ink_wash --vertical --dark --scale 1.5 --highlight 2 \
  --out "$here/ink_wash-vertical-dark.png" "${with_comments[@]}"
"$shot" --theme celadon --scale 1.5 --highlight 2 --page 1 --out "$here/celadon-horizontal.png" "${row[@]}"
"$shot" --theme vermilion --vertical --scale 1.5 --highlight 1 \
  --out "$here/vermilion-vertical.png" "${with_comments[@]}"
"$shot" --theme midnight --vertical --scale 1.5 --highlight 0 \
  --out "$here/midnight-vertical.png" "${with_comments[@]}"
"$shot" --theme sakura --dark --scale 1.5 --highlight 0 --out "$here/sakura-horizontal-dark.png" "${row[@]}"
"$shot" --theme graphite --vertical --scale 1.5 --highlight 3 \
  --out "$here/graphite-vertical.png" "${with_comments[@]}"
"$shot" --theme daylight --dark --scale 1.5 --highlight 0 --out "$here/daylight-horizontal-dark.png" "${row[@]}"

# A narrow and a common screen: nothing is cut to a lone ellipsis, the first candidate stays whole.
ten=(你好 你 妳好 尼 呢 泥 擬 你號 逆 妮)
"$shot" --theme native --screen-width 640 --scale 1 --out "$here/native-640px.png" "${ten[@]}"
"$shot" --theme native --screen-width 1280 --scale 1 --simplified \
  --out "$here/native-1280px-sentence.png" 这个项目很有意思我们今天都来了 这个 这 着 者 这个项目 折 哲 遮 浙
"$shot" --theme native --screen-width 640 --scale 1 --simplified \
  --out "$here/native-640px-sentence.png" \
  这个项目很有意思我们今天都来了天气真好中华人民共和国万岁 这个 这 着 者 这个项目 折 哲 遮 浙

panel=()
for w in 中 鐘 忠 終 衷 種 腫 重 眾 仲 塚 盅 螽 踵 冢 蔥 聰 從 叢 匆 囪 琮 淙 樅 驄 璁 蓯 瑽 騘 悤; do
  panel+=("$w")
done
"$shot" --theme lavender --panel 10 --scale 1.5 --highlight 13 --out "$here/lavender-panel.png" "${panel[@]}"
