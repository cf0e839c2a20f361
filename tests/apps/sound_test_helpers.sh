# Shared by the shell tests that run against a private sound server
# (sourced after test_helpers.sh, with $server naming scripts/sound-server.sh):
# the server, started here in $work/runtime and stopped at exit, also when a
# check fails; waiting for streams; recording the null output's monitor.
# A test that starts processes of its own ends them in a function
# cleanup_first, which runs before the server stops.
runtime="$work/runtime"
recorder=""
cleanup() {
  declare -F cleanup_first >/dev/null && cleanup_first
  [[ -n "$recorder" ]] && kill "$recorder" 2>/dev/null
  "$server" stop "$runtime" >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
unset PULSE_SERVER
export XDG_RUNTIME_DIR="$runtime"

"$server" start "$runtime" >/dev/null || { echo "FAILED: the sound server did not start"; echo "0 passed, 1 failed"; exit 1; }

# Waits until the server has N streams of a kind (20 s at most: a command
# may load its models first).
wait_for_streams() {  # wait_for_streams sink-inputs|source-outputs N
  for _ in $(seq 400); do
    [[ $(pactl list short "$1" | wc -l) -ge $2 ]] && return 0
    sleep 0.05
  done
  return 1
}
# Records the null output's monitor, 16-bit mono at 48000 Hz (the server
# converts from the output's own format).
start_recording() {  # start_recording FILE
  local before
  before=$(pactl list short source-outputs | wc -l)
  parecord -d qs_null.monitor --rate=48000 --channels=1 --format=s16le --file-format=wav "$1" &
  recorder=$!
  wait_for_streams source-outputs $((before + 1))
}
stop_recording() {
  sleep 0.3  # the tail of the null output's buffer
  kill -INT "$recorder"
  wait "$recorder"
  recorder=""
}
