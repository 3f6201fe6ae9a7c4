#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers on) into fuzz/build/, through the project's own CMake files so
# they link whatever the libraries need, and runs them when asked:
#
#   fuzz/build.sh                      build every target
#   fuzz/build.sh run NAME [SECONDS [OPTION...]]
#                                      build, then fuzz NAME (default 600 s)
#                                      starting from fuzz/corpus/NAME; further
#                                      options go to libFuzzer (-runs=N, ...)
#   fuzz/build.sh smoke [SECONDS]      build, then fuzz every target in turn
#                                      (default 10 s each); fails on a finding
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

fuzz() { # name, seconds, libFuzzer options...
  local name=$1 seconds=$2 work="$out/corpus-$1"
  shift 2
  mkdir -p "$work"
  # Findings go to fuzz/build/; new inputs to fuzz/build/corpus-NAME, never
  # into the seed corpus of the source tree.
  "$out/fuzz/$name" -artifact_prefix="$out/" -max_total_time="$seconds" -print_final_stats=1 \
    -max_len=65536 "$@" "$work" "$here/corpus/$name"
}

case "${1:-}" in
  run)
    [ $# -ge 2 ] || { echo "usage: $0 run NAME [SECONDS]" >&2; exit 2; }
    name=$2
    seconds=${3:-600}
    shift $(( $# >= 3 ? 3 : 2 ))
    fuzz "$name" "$seconds" "$@"
    ;;
  smoke)
    for name in "${targets[@]}"; do
      echo "== fuzzing $name for ${2:-10} s =="
      fuzz "$name" "${2:-10}"
    done
    ;;
  "") ;;
  *)
    echo "usage: $0 [run NAME [SECONDS [OPTION...]] | smoke [SECONDS]]" >&2
    exit 2
    ;;
esac
