#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer and
# runs each on its seed corpus in fuzz/corpus: scripts/fuzz.sh [seconds per target] [target ...]
# (targets: song_fuzz meta_fuzz cfg_fuzz; a target also stops after NOLARI_FUZZ_RUNS inputs,
# 10 million by default). New inputs go to a scratch corpus; crashes land in build-fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(song_fuzz meta_fuzz cfg_fuzz)
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DNOLARI_FUZZ=ON -DNOLARI_SANITIZE=address,undefined \
    -DNOLARI_TESTS=OFF -DNOLARI_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}" -j"${NOLARI_JOBS:-$(nproc)}"

for target in "${targets[@]}"; do
    seeds="$root/fuzz/corpus/${target%_fuzz}"
    # Every input writes files: on a memory file system where there is one.
    scratch=$(mktemp -d -p "$([ -d /dev/shm ] && echo /dev/shm || echo /tmp)")
    mkdir "$scratch/corpus"
    echo "== $target: ${seconds} s or ${NOLARI_FUZZ_RUNS:-10000000} inputs"
    # The default grouping writes histogram.xls into the working directory: the scratch one.
    (cd "$scratch" && TMPDIR="$scratch" ASAN_OPTIONS=detect_leaks=1 "$build/$target" -max_total_time="$seconds" \
        -runs="${NOLARI_FUZZ_RUNS:-10000000}" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$build/$target-" "$scratch/corpus" "$seeds")
    rm -rf "$scratch"
done
