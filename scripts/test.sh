#!/usr/bin/env bash
# Installs what building and the tests need, builds Nolari three ways and runs the whole test suite:
# the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, the concurrency tests under
# ThreadSanitizer, then every unit and end-to-end test of the normal build through CTest, each once.
# The sanitizer builds and runs go on beside the unit tests and the end-to-end tests that measure no
# timing; the end-to-end tests that measure timing run last, on a quiet machine. Every phase runs
# even when one before it failed; the command fails when any did.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

bash "$root/scripts/setup.sh" --test || exit 1

echo "== build: normal"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
    cmake --build "$root/build" -j"$jobs" || exit 1

sanitizers() {
    echo "== build: sanitizers (address, undefined)"
    cmake -S "$root" -B "$root/build-asan" -DNOLARI_SANITIZE=address,undefined -DNOLARI_BENCH=OFF >/dev/null &&
        cmake --build "$root/build-asan" --target unit_tests -j"$jobs" || return 1
    echo "== unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
    (cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 ./unit_tests --gtest_brief=1)
    local asan=$?
    echo "== build: sanitizer (thread)"
    cmake -S "$root" -B "$root/build-tsan" -DNOLARI_SANITIZE=thread -DNOLARI_BENCH=OFF >/dev/null &&
        cmake --build "$root/build-tsan" --target unit_tests -j"$jobs" || return 1
    echo "== concurrency tests under ThreadSanitizer"
    (cd "$root/build-tsan" && TSAN_OPTIONS=halt_on_error=1 ./unit_tests --gtest_brief=1 --gtest_filter='*Concurren*:*Thread*') &&
        return $asan
}

# Below the tests' priority, so that the programs under test are never kept waiting by a compiler.
sanitizer_log="$root/build/sanitizers.log"
(renice -n 10 -p "$BASHPID" >/dev/null && sanitizers) >"$sanitizer_log" 2>&1 &
sanitizer_job=$!

cd "$root/build"
failed=0
echo "== unit tests and the end-to-end tests that measure no timing (beside the sanitizer builds)"
ctest --output-on-failure -j"$jobs" --timeout 600 -L 'unit|untimed' || failed=1
wait "$sanitizer_job" || failed=1
cat "$sanitizer_log"
echo "== end-to-end tests that measure timing"
ctest --output-on-failure -j"$jobs" --timeout 600 -L e2e -LE untimed || failed=1
[ "$failed" -eq 0 ] && echo "== all tests passed" || echo "== some tests failed"
exit "$failed"
