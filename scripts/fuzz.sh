#!/usr/bin/env bash
# Fuzzes everything the program reads from outside: builds each target of
# fuzz/ with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (build/fuzz), and runs each for SECONDS (default
# 60), starting from its corpus in tests/fuzz/corpus. What a run finds is in
# build/fuzz/found/NAME (crash-*, the input that broke a property); the inputs
# it found new are in build/fuzz/corpus/NAME.
#
#   scripts/fuzz.sh [SECONDS] [NAME...]
#
#   KRX_FUZZ_RUNS   stop a target after so many executions (default: only
#                   the time bounds it)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
runs=${KRX_FUZZ_RUNS:--1}
shift || true
scripts/install-deps.sh
need=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${need[@]}"
fi

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_reply fuzz_logfile fuzz_export fuzz_sysfs fuzz_args)
flags="-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined"
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DKRX_FUZZ=ON -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build/fuzz -j"$(nproc)" --target "${targets[@]}"

status=0
for t in "${targets[@]}"; do
  mkdir -p "build/fuzz/corpus/$t" "build/fuzz/found/$t"
  start=$(date +%s)
  echo "=== $t: at most $seconds s"
  # Messages of the code under test (krx3's usage texts) go nowhere.
  if ! build/fuzz/fuzz/"$t" -max_total_time="$seconds" -runs="$runs" -close_fd_mask=2 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/found/$t/" "build/fuzz/corpus/$t" "tests/fuzz/corpus/$t" \
      2>"build/fuzz/$t.log"; then
    status=1
    echo "$t: a property does not hold; the input is in build/fuzz/found/$t:"
    grep -E "property does not hold|ERROR: " "build/fuzz/$t.log" | head -n 5 || true
  fi
  grep -E "stat::number_of_executed_units|stat::average_exec_per_sec" "build/fuzz/$t.log" | tr -s ' ' || true
  echo "time: $(( $(date +%s) - start )) s"
done
exit $status
