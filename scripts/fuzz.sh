#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (seconds, default 60) over a copy of its committed seed corpus. Any crash,
# hang or sanitizer report fails the run. The parsers of the settings (the
# answers file, the feed destinations), the JSON reader, the control
# socket's commands and the spectrum decoder are small and fast: half that
# time covers them, which keeps the stage near its old length.
# The seed is fixed so that a run can be repeated: a gate must not fail at
# random. ZOL_FUZZ_SEED=0 lets libFuzzer pick one, for longer hunts by hand.
# A failing input is printed in base64, since the work folder goes away.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
seed=${ZOL_FUZZ_SEED:-20261209}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A signal ends the script through the EXIT trap above.
trap 'exit 129' HUP; trap 'exit 130' INT; trap 'exit 143' TERM
# LeakSanitizer needs ptrace, which containers often forbid; ASan and UBSan stay on.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in read_line ctd_echo clock_replies parse_ctd prompts view_records \
  answers_file feed_targets view_meta json_reader shore_messages view_packed_counts control_reader \
  link_files; do
  time=$seconds
  case $target in answers_file | feed_targets | json_reader | shore_messages | view_packed_counts | control_reader | link_files) time=$(((seconds + 1) / 2)) ;; esac
  mkdir -p "$work/$target"
  cp fuzz/corpus/$target/* "$work/$target/"
  echo "fuzz_$target: ${time}s, seed $seed"
  build-fuzz/fuzz/fuzz_$target -seed="$seed" -max_total_time="$time" -timeout=10 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$work/" "$work/$target" \
    2>"$work/$target.log" || {
    tail -50 "$work/$target.log"
    for input in "$work"/crash-* "$work"/timeout-* "$work"/oom-*; do
      [ -f "$input" ] || continue
      echo "failing input $(basename "$input"), in base64:"
      base64 "$input"
    done
    echo "fuzz_$target FAILED"
    exit 1
  }
  grep -E "^stat::number_of_executed_units" "$work/$target.log" || true
done
