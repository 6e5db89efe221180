#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer, runs
# each on its corpus in fuzz/corpus and then minimises that corpus with what the run found:
#   scripts/fuzz.sh [seconds per target] [target ...]
# (targets: song_fuzz meta_fuzz cfg_fuzz; a target also stops after NOLARI_FUZZ_RUNS inputs,
# 10 million by default). The inputs are read from memory and write no file; crashes land in
# build-fuzz/. A full run, as on a shared machine:
#   nice -n 19 scripts/fuzz.sh 86400
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
    corpus="$root/fuzz/corpus/${target%_fuzz}"
    found="$build/$target-found"
    mkdir -p "$found"
    echo "== $target: ${seconds} s or ${NOLARI_FUZZ_RUNS:-10000000} inputs"
    # ASan's quarantine keeps 256 MB of freed blocks by default, which is most of a target's memory;
    # one input frees far less than 64 MB, so a smaller one still catches any use after free.
    ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=64 "$build/$target" -max_total_time="$seconds" -runs="${NOLARI_FUZZ_RUNS:-10000000}" \
        -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$build/$target-" "$found" "$corpus"
    echo "== $target: minimising the corpus"
    minimised=$(mktemp -d)
    "$build/$target" -merge=1 -timeout=10 "$minimised" "$corpus" "$found" 2>&1 | grep -E '^MERGE-OUTER: [0-9]+ new files' || true
    if [ -n "$(ls -A "$minimised")" ]; then
        rm -f "$corpus"/*
        cp "$minimised"/* "$corpus"/
    fi
    rm -rf "$minimised"
done
