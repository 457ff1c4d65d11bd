#!/usr/bin/env bash
# Builds and runs the suite with ASan + UBSan, and the threaded tests with TSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
cmake --preset tsan
# Only the threaded tests run under TSan, so only they (and what they load) are built.
# A sharded test (name.shardN) is one program.
threaded=$(ctest --test-dir build/tsan -L threaded -N | sed -n 's/^ *Test *#[0-9]*: *//p' | sed 's/\.shard[0-9]*$//' | sort -u)
cmake --build --preset tsan --target $threaded
# TSan needs a fixed address layout on kernels with high mmap randomisation.
setarch "$(uname -m)" -R ctest --preset tsan
