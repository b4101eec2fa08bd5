#!/usr/bin/env bash
# Builds the library and its tools, writes a sample pyramid and shows the
# library reading it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
echo "demo: the command-line tool is not in place yet; the build succeeded."
