#!/usr/bin/env bash
# Installs what Nolari needs, builds it and starts it on the bundled demo song.
# The program runs in its own working folder (run/), where Nolari.cfg and NolariLog.txt live;
# a first start seeds a configuration whose current song is the demo song.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build-run" -DCMAKE_BUILD_TYPE=Release -DNOLARI_TESTS=OFF -DNOLARI_BENCH=OFF >/dev/null
cmake --build "$root/build-run" --target nolari -j"$(nproc)"

mkdir -p "$root/run"
if [ ! -e "$root/run/Nolari.cfg" ]; then
  printf 'CURRENTSONG %s\n' "$root/assets/demo.mid" > "$root/run/Nolari.cfg"
fi
cd "$root/run"
exec "$root/build-run/nolari"
