#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers on) into fuzz/build/, and runs one when asked:
#
#   fuzz/build.sh                      build every target
#   fuzz/build.sh run NAME [SECONDS]   build, then fuzz NAME (default 600 s)
#                                      starting from fuzz/corpus/NAME
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src="$here/../src"
out="$here/build"
mkdir -p "$out"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I"$src" $(pkg-config --cflags Qt6Core libatasmart) -fPIC
       -DQT_NO_CAST_FROM_ASCII -DQT_NO_CAST_TO_ASCII -Wall -Wextra -Werror)
libs=($(pkg-config --libs Qt6Core libatasmart))
common=("$src/drivedata/SmartTypes.cpp" "$src/drivedata/DriveInformationStream.cpp"
        "$src/drivedata/WmiDriveReader.cpp" "$src/platform/Wmi.cpp" "$src/platform/WmiRecordings.cpp"
        "$src/platform/WmiProviders.cpp" "$src/platform/WmiRemote.cpp"
        "$src/platform/linux/LocalWmiProvider.cpp" "$src/platform/linux/SmartSource.cpp"
        "$src/foundation/DateTime.cpp" "$src/foundation/TextFile.cpp" "$src/foundation/Exception.cpp")

for target in "$here"/Fuzz*.cpp; do
  name=$(basename "$target" .cpp)
  if [ ! -x "$out/$name" ] || [ -n "$(find "$target" "${common[@]}" -newer "$out/$name" 2>/dev/null)" ]; then
    echo "fuzz: building $name"
    clang++ "${flags[@]}" "$target" "${common[@]}" "${libs[@]}" -o "$out/$name"
  fi
done

if [ "${1:-}" = run ]; then
  name=$2
  seconds=${3:-600}
  work="$out/corpus-$name"
  mkdir -p "$work"
  exec "$out/$name" -artifact_prefix="$out/" -max_total_time="$seconds" -print_final_stats=1 -max_len=65536 \
    "$work" "$here/corpus/$name"
fi
