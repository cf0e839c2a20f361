#!/usr/bin/env bash
# The command-line host against a real sound server: a private PulseAudio
# with a null output whose monitor is recorded (scripts/sound-server.sh),
# started here and stopped at the end, also when a check fails.
# Usage: live_audio_test.sh <quorvel-sherpa> <testdata dir> <sound-server.sh>
set -uo pipefail
cli="$1"
testdata="$2"
server="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/test_helpers.sh"
source "$here/sound_test_helpers.sh"

# devices: the null output and its monitor, both the defaults.
"$cli" devices >"$work/devices.txt" 2>&1
check "devices exits 0" test $? -eq 0
check "devices lists the null output as the default output" \
  bash -c "sed -n '/^output/,/^input/p' '$work/devices.txt' | grep -q '^  \* qs_null: '"
check "devices lists its monitor as the default input" \
  bash -c "sed -n '/^input/,\$p' '$work/devices.txt' | grep -q '^  \* qs_null.monitor: '"
"$cli" devices --json >"$work/devices.jsonl" 2>/dev/null
check "devices --json: one line per device" \
  grep -q '"channels":2,"default":true,"description":"Null Output","direction":"output","name":"qs_null"' "$work/devices.jsonl"

# say --play, recorded from the monitor: the speech of `say -o` at the
# same rate, in length and energy; -o beside --play writes what was played.
text="Hello world. This is QuorvelSherpa speaking."
start_recording "$work/say-recorded.wav"
"$cli" say "$text" --play -o "$work/say-played.wav" 2>"$work/say.err"
check "say --play exits 0" test $? -eq 0
stop_recording
check "say --play reports the events and the device" \
  bash -c "grep -q 'synthesisStarted' '$work/say.err' && grep -q 'finished' '$work/say.err' && grep -q '^played .* on qs_null' '$work/say.err'"
rate=$(soxi -r "$work/say-played.wav")
channels=$(soxi -c "$work/say-played.wav")
check "say --play plays at the device's format" test "$rate-$channels" = "$(pactl list short sinks | awk '$2 == "qs_null" { sub(/Hz/, "", $6); print $6 "-" substr($5, 1, 1) }')"
"$cli" say "$text" -o "$work/say-reference.wav" --rate "$rate" 2>/dev/null
echo "say --play recorded vs say -o:" >&2
check "say --play: the recording has the speech of say -o (duration 3%, energy 5%)" \
  python3 "$here/compare_audio.py" "$work/say-reference.wav" "$work/say-recorded.wav" 0.03 0.05
echo "say --play -o vs say -o:" >&2
check "say --play -o writes the speech it played (duration 1%, energy 2%)" \
  python3 "$here/compare_audio.py" "$work/say-reference.wav" "$work/say-played.wav" 0.01 0.02

# Another rate and a chosen device: --rate is kept, the server converts.
start_recording "$work/rate-recorded.wav"
"$cli" say "$text" --play --device qs_null --rate 16000 --channels 1 -o "$work/rate-played.wav" 2>"$work/rate.err"
check "say --play --device --rate exits 0" test $? -eq 0
stop_recording
check "say --play --rate 16000 plays at 16000 Hz" test "$(soxi -r "$work/rate-played.wav")" = 16000
echo "say --play --rate 16000 recorded vs its -o:" >&2
check "say --play --rate 16000: the recording has its speech (duration 3%, energy 5%)" \
  python3 "$here/compare_audio.py" "$work/rate-played.wav" "$work/rate-recorded.wav" 0.03 0.05

# stream --play: the pieces in order, all of it played and recorded.
start_recording "$work/stream-recorded.wav"
printf 'The first sentence is right here, and it is long enough. The second one follows it now!' \
  | "$cli" stream --play -o "$work/stream-played.wav" --json >"$work/stream.jsonl" 2>"$work/stream.err"
check "stream --play exits 0" test $? -eq 0
stop_recording
check "stream --play speaks the pieces in order and ends with finished" \
  bash -c "grep -o '\"event\":\"[a-zA-Z]*\"' '$work/stream.jsonl' | grep -v spoken | tr '\n' ' ' | grep -q '^\"event\":\"synthesisStarted\" \"event\":\"finished\" \"event\":\"synthesisStarted\" \"event\":\"finished\" \$'"
check "stream --play shows the words as they are spoken" \
  test "$(grep '"spoken"' "$work/stream.jsonl" | sed 's/.*"text":"\([^"]*\)".*/\1/' | tr -d '\n')" = \
  "The first sentence is right here, and it is long enough. The second one follows it now!"

echo "stream --play recorded vs its -o:" >&2
check "stream --play: the recording has what was played (duration 3%, energy 5%)" \
  python3 "$here/compare_audio.py" "$work/stream-played.wav" "$work/stream-recorded.wav" 0.03 0.05

# listen on the monitor while the known test audio plays into the output:
# the known text, as the last line (its final segment) after the growing
# ones. Eight seconds: the null output, idle before, may start up to two
# seconds late (it sleeps for its idle latency), then 2.5 s of speech, then
# the silence that ends the segment.
listen_to() {  # listen_to WAV OUTPUT LISTEN-ARGS...
  local wav="$1" out="$2"
  shift 2
  "$cli" "$@" >"$out" 2>"$out.err" &
  local listener=$!
  wait_for_streams source-outputs 1
  paplay -d qs_null "$wav"
  wait "$listener"
}
# The engine writes a line on standard error when it has to resample; listen
# asks the server for the recognizer's rate, so it never should.
no_resampler_line() {  # no_resampler_line STDERR-FILE
  ! grep -qi 'resampler' "$1"
}
listen_to "$testdata/hello_world_48000.wav" "$work/listen.txt" listen --seconds 8
check "listen exits 0" test $? -eq 0
check "listen prints the known text last" test "$(tail -1 "$work/listen.txt")" = "HELLO WORLD"
check "listen prints the text as it grows" test "$(wc -l <"$work/listen.txt")" -ge 2
check "listen names the device and the recognizer's format" \
  grep -q '^listening on qs_null.monitor (16000 Hz, 1 channel' "$work/listen.txt.err"
check "listen: no resampler line from the engine" no_resampler_line "$work/listen.txt.err"
listen_to "$testdata/he_he_go_16000.wav" "$work/listen.jsonl" listen --device qs_null.monitor --seconds 8 --json
check "listen --json exits 0" test $? -eq 0
check "listen --json: the known text, final, in the last line" \
  bash -c "tail -1 '$work/listen.jsonl' | grep -q '\"event\":\"text\",\"payload\":{\"isFinal\":true,\"segment\":0,\"text\":\"HE HE GO\"}'"
check "listen --json: no resampler line from the engine" no_resampler_line "$work/listen.jsonl.err"

# Two utterances 1.5 s apart: two final segments, in order.
sox "$testdata/hello_world_48000.wav" "$work/gap.wav" pad 0 1.5
sox "$work/gap.wav" "$testdata/he_he_go_48000.wav" "$work/two.wav"
listen_to "$work/two.wav" "$work/two.jsonl" listen --seconds 11 --json
check "listen --json: two utterances give two final segments" \
  test "$(grep '"isFinal":true' "$work/two.jsonl" | grep -o '"segment":[0-9]*,"text":"[A-Z ]*"' | tr '\n' '|')" = \
       '"segment":0,"text":"HELLO WORLD"|"segment":1,"text":"HE HE GO"|'
check "listen --json: interim text before the final segments" test "$(grep -c '"isFinal":false' "$work/two.jsonl")" -ge 2
listen_to "$testdata/hello_world_48000.wav" "$work/old.txt" listen --seconds 8 --no-endpoints
check "listen --no-endpoints: the growing text, the known text last" test "$(tail -1 "$work/old.txt")" = "HELLO WORLD"
check "listen --no-endpoints: no resampler line from the engine" no_resampler_line "$work/old.txt.err"

# Ctrl-C ends listen cleanly, at once.
"$cli" listen >"$work/interrupted.txt" 2>&1 &
listener=$!
wait_for_streams source-outputs 1
sleep 0.5
kill -INT "$listener"
start=$(date +%s%N)
wait "$listener"
status=$?
check "listen ends with status 0 at Ctrl-C" test $status -eq 0
check "listen ends within a second of Ctrl-C" test $((($(date +%s%N) - start) / 1000000)) -lt 1000

# Ctrl-C stops say --play at once, with the device still running, and tells
# what the listener heard and what not.
"$cli" say "This sentence is long enough to be cut off by the interrupt that comes a second in." --play \
  >/dev/null 2>"$work/interrupted-say.err" &
speaker=$!
wait_for_streams sink-inputs 1
# Once the first word has been heard (the idle null output may start late).
for _ in $(seq 100); do grep -q ' spoken ' "$work/interrupted-say.err" && break; sleep 0.05; done
kill -INT "$speaker"
start=$(date +%s%N)
wait "$speaker"
status=$?
check "say --play ends with status 130 at Ctrl-C" test $status -eq 130
check "say --play at Ctrl-C tells what was heard and what not" \
  grep -Eq '^interrupted: heard "This[^"]*"; not heard "[^"]*a second in\."$' "$work/interrupted-say.err"
check "say --play ends within a second of Ctrl-C" test $((($(date +%s%N) - start) / 1000000)) -lt 1000

# Devices that are not there: one line, status 1.
expect_failure() {  # expect_failure NAME MESSAGE ARGS...
  local name="$1" message="$2"
  shift 2
  local start status ms
  start=$(date +%s%N)
  echo "Hello." | "$cli" "$@" >/dev/null 2>"$work/err.txt"
  status=$?
  ms=$((($(date +%s%N) - start) / 1000000))
  check "$name: status 1" test $status -eq 1
  check "$name: one line saying '$message'" bash -c "test \$(wc -l <'$work/err.txt') -eq 1 && grep -q \"$message\" '$work/err.txt'"
  echo "$name: $(cat "$work/err.txt") (status $status, $ms ms)" >&2
  check "$name: within a second" test "$ms" -lt 1000
}
expect_failure "say --play on an unknown device" "no output device named 'nope'" say "Hello." --play --device nope
expect_failure "listen on an unknown device" "no input device named 'nope'" listen --device nope --seconds 1
pactl unload-module module-null-sink
expect_failure "say --play without any output device" "no output device: the sound server has none" say "Hello." --play
expect_failure "listen without any input device" "no input device: the sound server has none" listen --seconds 1

# The server lost while playing and listening: one line each, status 1,
# within a second of the server's end.
pactl load-module module-null-sink sink_name=qs_null >/dev/null
"$cli" say "This sentence keeps the device busy while the sound server goes away under it." --play \
  >/dev/null 2>"$work/lost-say.err" &
speaker=$!
"$cli" listen >/dev/null 2>"$work/lost-listen.err" &
listener=$!
wait_for_streams sink-inputs 1
wait_for_streams source-outputs 1
sleep 0.5
"$server" stop "$runtime" >/dev/null
start=$(date +%s%N)
wait "$speaker"
say_status=$?
wait "$listener"
listen_status=$?
ms=$((($(date +%s%N) - start) / 1000000))
echo "server lost: $(grep -v synthesisStarted "$work/lost-say.err") / $(grep -v '^listening\|^$' "$work/lost-listen.err") ($ms ms)" >&2
check "say --play: status 1 when the server goes away" test $say_status -eq 1
check "say --play: one line when the server goes away" \
  bash -c "test \$(grep -vc synthesisStarted '$work/lost-say.err') -eq 1 && grep -q 'the sound server went away' '$work/lost-say.err'"
check "listen: status 1 when the server goes away" test $listen_status -eq 1
check "listen: says the server went away" grep -q 'the sound server went away' "$work/lost-listen.err"
check "both end within a second of the server" test "$ms" -lt 1000

# The server stopped: every live command says so at once.
expect_failure "say --play without a server" "the sound server is not running" say "Hello." --play
expect_failure "stream --play without a server" "the sound server is not running" stream --play
expect_failure "listen without a server" "the sound server is not running" listen --seconds 1
expect_failure "devices without a server" "the sound server is not running" devices

finish
