#!/usr/bin/env bash
# Installs what is missing, then builds Kestrel twice with warnings as errors
# and runs every test in both builds: once with AddressSanitizer and
# UndefinedBehaviorSanitizer, once optimised as it ships.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install_deps.sh"

export TZ=UTC
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_build() {  # NAME CMAKE-ARGS...
    local build="$root/$1"
    shift
    echo "== $(basename "$build"): configure, build, test"
    cmake -S "$root" -B "$build" -G Ninja -DKESTREL_WERROR=ON "$@" >/dev/null
    cmake --build "$build" -j "$(nproc)"
    (cd "$build" && ctest --output-on-failure -j "$(nproc)" --timeout 600)
}

run_build build-test -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON -DKESTREL_BUILD_BENCH=OFF
run_build build-release -DCMAKE_BUILD_TYPE=Release
