#!/usr/bin/env bash
# Installs what is missing, builds the libraries and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
protolib_need "${PROTOLIB_BASE_PACKAGES[@]}"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPROTOLIB_BUILD_TESTS=OFF >/dev/null
protolib_build release build/release
if [ -x build/release/tools/session_proto/session-proto ]; then
  build/release/tools/session_proto/session-proto demo
else
  build/release/examples/change_set_example
fi
