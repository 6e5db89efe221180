#!/usr/bin/env bash
# Installs the system packages Nolari needs: with no argument those that building and running it
# need, with --test also those of the tests, benchmarks and fuzzing.
# Safe to run again: packages already present are left alone.
set -euo pipefail

build_packages=(
  build-essential cmake pkg-config
  freeglut3-dev libgl-dev libgl1-mesa-dri
  librtmidi-dev libasound2-dev libjack-jackd2-dev libfluidsynth-dev timgm6mb-soundfont
  libgtk-3-dev
  librsvg2-bin libpipewire-0.3-dev libsndfile1-dev
)

test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool x11-apps x11-utils imagemagick jackd2
  clang libclang-rt-14-dev python3 python3-mido
  desktop-file-utils appstream lintian
  pipewire wireplumber pipewire-pulse pipewire-jack pulseaudio-utils dbus
)

packages=("${build_packages[@]}")
case "${1:-}" in
  "") ;;
  --test) packages+=("${test_packages[@]}") ;;
  *) echo "usage: $0 [--test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
