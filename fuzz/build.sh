#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers on) into fuzz/build/, through the project's own CMake files so
# they link whatever the libraries need, and runs them when asked:
#
#   fuzz/build.sh                      build every target
#   fuzz/build.sh run NAME [SECONDS]   build, then fuzz NAME (default 600 s)
#                                      starting from fuzz/corpus/NAME
#   fuzz/build.sh smoke [SECONDS]      build, then fuzz every target in turn
#                                      (default 30 s each); fails on a finding
#
# Needs clang and its runtime (Debian: clang, libclang-rt-14-dev).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out="$here/build"
targets=()
for target in "$here"/Fuzz*.cpp; do
  name=$(basename "$target" .cpp)
  [ "$name" = FuzzReplay ] || targets+=("$name")
done

cmake -S "$here/.." -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVALMORA_FUZZ=ON \
  -DVALMORA_BUILD_GUI=OFF -DVALMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$out" --parallel "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"

fuzz() { # name, seconds
  local name=$1 seconds=$2 work="$out/corpus-$1"
  mkdir -p "$work"
  # Findings go to fuzz/build/; new inputs to fuzz/build/corpus-NAME, never
  # into the seed corpus of the source tree.
  "$out/fuzz/$name" -artifact_prefix="$out/" -max_total_time="$seconds" -print_final_stats=1 \
    -max_len=65536 "$work" "$here/corpus/$name"
}

case "${1:-}" in
  run)
    [ $# -ge 2 ] || { echo "usage: $0 run NAME [SECONDS]" >&2; exit 2; }
    fuzz "$2" "${3:-600}"
    ;;
  smoke)
    for name in "${targets[@]}"; do
      echo "== fuzzing $name for ${2:-30} s =="
      fuzz "$name" "${2:-30}"
    done
    ;;
  "") ;;
  *)
    echo "usage: $0 [run NAME [SECONDS] | smoke [SECONDS]]" >&2
    exit 2
    ;;
esac
