#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a
# bounded time on a scratch copy of its seed corpus (fuzz/corpus/<target>/),
# so nothing new lands in the repository. Fails when any target finds a crash
# or a broken property; the input is kept in build-fuzz/findings/.
#   fuzz/run.sh [seconds per target, default 20]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
targets=(placement conversions serial_settings codepage)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMORA_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz --target "${targets[@]/#/fuzz_}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
findings=build-fuzz/findings
mkdir -p "$findings"

failed=()
for target in "${targets[@]}"; do
    cp -r "fuzz/corpus/$target" "$scratch/$target"
    echo "== fuzz_$target: ${seconds}s"
    if ! build-fuzz/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 \
        -artifact_prefix="$findings/$target-" "$scratch/$target" 2>"$scratch/$target.log"; then
        tail -n 40 "$scratch/$target.log"
        failed+=("$target")
    else
        tail -n 1 "$scratch/$target.log"
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]} (inputs in $findings/)" >&2
    exit 1
fi
echo "All fuzz targets ran clean."
