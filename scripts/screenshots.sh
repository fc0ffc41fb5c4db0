#!/usr/bin/env bash
# Renders the main window and the dialogs to build/screenshots/{100,150}/*.png, at 100 % and
# 150 % scale, so that a person can check texts and layout.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target vek_screenshots
for scale in 1 1.5; do
    out="build/screenshots/$(awk "BEGIN { print $scale * 100 }")"
    QT_SCALE_FACTOR=$scale build/default/tests/ui/vek_screenshots "$out"
    echo "$out"
done
