#!/usr/bin/env bash
# Installs what is missing, builds Kestrel with AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings are errors) and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install_deps.sh"

build="$root/build-test"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DKESTREL_SANITIZE=ON -DKESTREL_WERROR=ON -DKESTREL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
export TZ=UTC
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
