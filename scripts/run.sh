#!/usr/bin/env bash
# Builds Quelltrine and runs the saver: in a window when a display is there,
# else headless into a PNG file. When the picture folder holds no pictures,
# it runs on the demo pictures (without touching your own preferences).
#   scripts/run.sh [engine arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

"./scripts/install-deps.sh"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target quelltrine-saver quelltrine-samples

ENGINE="$ROOT/build/engine/quelltrine-saver"
folder=$("$ENGINE" defaults read imageFolder 2>/dev/null || true)
folder=${folder:-$HOME/Pictures/Quelltrine Screensaver}
folder=${folder/#\~/$HOME}
shopt -s nullglob nocaseglob
pictures=("$folder"/*.{jpg,jpeg,png,heic,tiff,bmp})
shopt -u nullglob nocaseglob
if ((${#pictures[@]} == 0)); then
  demo_config=$(mktemp -d)
  trap 'rm -rf "$demo_config"' EXIT
  export XDG_CONFIG_HOME="$demo_config"
  "$ENGINE" defaults write imageFolder "$ROOT/build/samples" >/dev/null
  echo "No pictures in \"$folder\": showing the demo pictures in build/samples."
fi

if [[ -n "${DISPLAY:-}" ]]; then
  # Not exec: the demo preferences folder is removed when the saver ends.
  status=0
  "$ENGINE" "$@" || status=$?
  exit "$status"
fi
out="$ROOT/quelltrine-frame.png"
"$ENGINE" render-png "$out" --frames 300
echo "No display: rendered 300 frames headless; the last one is in $out"
