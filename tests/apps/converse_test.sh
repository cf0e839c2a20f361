#!/usr/bin/env bash
# converse end to end against a private sound server (scripts/sound-server.sh):
# the user is a second null output, "qs_mic", filled with paplay of the test
# audio, whose monitor is converse's input; the agent speaks on qs_null,
# whose monitor is recorded. The reply commands are small scripts that print
# their reply a word at a time.
# Usage: converse_test.sh <quorvel-sherpa> <testdata dir> <sound-server.sh>
set -uo pipefail
cli="$1"
testdata="$2"
server="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/test_helpers.sh"
agent=""
cleanup_first() {
  [[ -n "$agent" ]] && kill "$agent" 2>/dev/null
  if [[ $failed -gt 0 ]]; then  # what the agents printed, for the failure's cause
    for log in "$work"/*.jsonl "$work"/*.err; do
      [[ -s "$log" ]] && { echo "--- ${log##*/}"; tail -n 40 "$log"; } >&2
    done
  fi
}
source "$here/sound_test_helpers.sh"
pactl load-module module-null-sink sink_name=qs_mic >/dev/null

now_ms() { echo $(($(date +%s%N) / 1000000)); }
wait_for_line() {  # wait_for_line FILE PATTERN SECONDS: until a line matches
  for _ in $(seq $(($3 * 20))); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}
# converse in the background, JSON lines into FILE.
start_agent() {  # start_agent FILE CONVERSE-ARGS...
  local out="$1"
  shift
  local before
  before=$(pactl list short source-outputs | wc -l)
  "$cli" converse --json --device qs_mic.monitor --output-device qs_null "$@" >"$out" 2>"$out.err" &
  agent=$!
  wait_for_streams source-outputs $((before + 1))
}
end_agent() {  # end_agent NAME: Ctrl-C, which ends converse with status 0
  kill -INT "$agent"
  wait "$agent"
  local status=$?
  agent=""
  check "$1: Ctrl-C ends converse with status 0 (was $status)" test $status -eq 0
}
user_says() { paplay -d qs_mic "$testdata/$1"; }
# A field of the JSON line of the Nth (1-based) event of a kind.
field() {  # field FILE EVENT N KEY
  python3 - "$@" <<'PY'
import json, sys
path, event, n, key = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
found = [json.loads(l) for l in open(path) if json.loads(l)["event"] == event]
print(found[n - 1]["payload"].get(key, "") if len(found) >= n else "")
PY
}

# A turn and its reply, heard whole: the recording is the speech of say -o
# of the same reply. The reply command reads the user's text and the
# conversation file.
reply="Hello there this is the agent answering you now."
cat >"$work/reply.sh" <<EOF
#!/bin/sh
cat >"$work/stdin.txt"
cp "\$QS_CONVERSATION" "$work/conversation.jsonl"
for word in $reply; do printf '%s ' "\$word"; sleep 0.05; done
EOF
chmod +x "$work/reply.sh"
start_recording "$work/turn-recorded.wav"
start_agent "$work/turn.jsonl" --reply-command "$work/reply.sh"
user_says hello_world_48000.wav
check "a turn: the agent answers" wait_for_line "$work/turn.jsonl" '"event":"agent"' 20
stop_recording
end_agent "a turn"
check "a turn: the user's text" test "$(field "$work/turn.jsonl" user 1 text)" = "HELLO WORLD"
check "a turn: the reply command read it on its standard input" test "$(cat "$work/stdin.txt")" = "HELLO WORLD"
check "a turn: QS_CONVERSATION holds the user's turn" grep -q '{"role":"user","text":"HELLO WORLD"}' "$work/conversation.jsonl"
check "a turn: the reply, heard whole" test "$(field "$work/turn.jsonl" agent 1 text)" = "$reply "
check "a turn: not interrupted" test "$(field "$work/turn.jsonl" agent 1 interrupted)" = False
rate=$(pactl list short sinks | awk '$2 == "qs_null" { sub(/Hz/, "", $6); print $6 }')
"$cli" say "$reply" -o "$work/reply-reference.wav" --rate "$rate" 2>/dev/null
echo "converse reply recorded vs say -o:" >&2
check "a turn: the recording has the speech of say -o of the reply (duration 3%, energy 5%)" \
  python3 "$here/compare_audio.py" "$work/reply-reference.wav" "$work/turn-recorded.wav" 0.03 0.05

# Barge-in: a second utterance while a long reply speaks stops it; the
# conversation shows what was heard and the rest.
cat >"$work/long.sh" <<'EOF'
#!/bin/sh
cat >/dev/null
for word in This reply is long enough to be cut off by the user who speaks while it plays. It goes on and on, \
  sentence after sentence, so that there is plenty left that nobody hears. And then some more of it.; do
  printf '%s ' "$word"
  sleep 0.05
done
EOF
chmod +x "$work/long.sh"
start_recording "$work/barge-recorded.wav"
start_agent "$work/barge.jsonl" --reply-command "$work/long.sh"
start=$(now_ms)
user_says hello_world_48000.wav
check "barge-in: the first turn is answered" wait_for_line "$work/barge.jsonl" '"event":"spoken"' 20
sleep 1
spoke=$(now_ms)
user_says he_he_go_48000.wav &
player=$!
check "barge-in: the agent is interrupted" wait_for_line "$work/barge.jsonl" '"interrupted":true' 10
stopped=$(now_ms)
wait "$player"
stop_recording
# The turn ends after the endpoint's silence (0.8 s) has been decoded: wait
# for it before Ctrl-C, which would drop an utterance not yet ended.
wait_for_line "$work/barge.jsonl" '"event":"user","payload":{"text":"HE HE GO"}' 10
end_agent "barge-in"
heard=$(field "$work/barge.jsonl" agent 1 text)
unheard=$(field "$work/barge.jsonl" agent 1 notHeard)
echo "barge-in: heard '$heard', not heard '$unheard'; stopped $((stopped - spoke)) ms after the utterance began" >&2
check "barge-in: some of the reply was heard" test -n "$heard"
check "barge-in: the rest was not" bash -c "[[ '$unheard' == *'nobody hears.'* ]]"
check "barge-in: heard and not heard are the reply up to where it was" \
  bash -c "[[ \"This reply is long enough to be cut off by the user who speaks while it plays. It goes on and on, sentence after sentence, so that there is plenty left that nobody hears. And then some more of it. \" == '$heard'* ]]"
# The synthetic recognizer's first word comes well within a second of the
# utterance's start: stopped within 2.5 s of it (generous: timing on two
# shared cores) is the stop at the first word, not at the turn's end.
check "barge-in: stopped within 2.5 s of the utterance's start" test $((stopped - spoke)) -lt 2500
check "barge-in: the interrupting utterance is the next turn" \
  grep -q '"event":"user","payload":{"text":"HE HE GO"}' "$work/barge.jsonl"
# The recording ends with the stop: far less sound than the whole reply.
"$cli" say "This reply is long enough to be cut off by the user who speaks while it plays. It goes on and on, sentence after sentence, so that there is plenty left that nobody hears. And then some more of it." \
  -o "$work/long-reference.wav" --rate 48000 2>/dev/null
check "barge-in: the recording has less than half the reply" python3 - "$work/barge-recorded.wav" "$work/long-reference.wav" <<'PY'
import array, sys, wave
def loud_seconds(path):
    with wave.open(path) as w:
        s = array.array("h", w.readframes(w.getnframes()))
        return sum(1 for x in s if abs(x) > 160) / w.getframerate() / w.getnchannels()
assert loud_seconds(sys.argv[1]) < 0.5 * loud_seconds(sys.argv[2]), (loud_seconds(sys.argv[1]), loud_seconds(sys.argv[2]))
PY

# Reply commands that fail, hang or print nothing: a line each, and the
# loop goes on (the fourth turn is answered). A counter picks the case.
cat >"$work/moody.sh" <<EOF
#!/bin/sh
cat >/dev/null
n=\$(cat "$work/count" 2>/dev/null || echo 0); n=\$((n + 1)); echo \$n >"$work/count"
case \$n in
  1) exit 3 ;;
  2) echo \$\$ >"$work/hanging.pid"; exec sleep 60 ;;
  3) exit 0 ;;
  *) echo "Still here." ;;
esac
EOF
chmod +x "$work/moody.sh"
start_agent "$work/moody.jsonl" --reply-command "$work/moody.sh" --reply-timeout 1
for turn in 1 2 3 4; do
  user_says hello_world_48000.wav
  wait_for_line "$work/moody.jsonl" "\"event\":\"\\(replyFailed\\|agent\\)\"" 10
  [[ $turn -lt 4 ]] && sleep 2.5  # the line of this turn is out; the next turn
done
wait_for_line "$work/moody.jsonl" '"event":"agent"' 10
end_agent "failing reply commands"
failures=$(grep '"replyFailed"' "$work/moody.jsonl" | sed 's/.*"text":"\([^"]*\)".*/\1/' | tr '\n' '|')
echo "failing reply commands: $failures" >&2
check "a failing reply command: a line with its status" bash -c "[[ '$failures' == *'failed (exit status 3)'* ]]"
check "a hanging reply command: ended after the timeout" bash -c "[[ '$failures' == *'printed nothing for 1 s; it was ended'* ]]"
check "a silent reply command: a line" bash -c "[[ '$failures' == *'the reply command printed nothing|'* ]]"
check "after them the loop goes on: the fourth turn is answered" test "$(field "$work/moody.jsonl" agent 1 text)" = "Still here."
check "no hanging command is left behind" bash -c "! kill -0 \$(cat '$work/hanging.pid') 2>/dev/null"

# Without a reply command it echoes; the plain output shows the turns.
"$cli" converse --device qs_mic.monitor --output-device qs_null >"$work/echo.txt" 2>"$work/echo.err" &
agent=$!
wait_for_streams source-outputs 1
user_says he_he_go_48000.wav
wait_for_line "$work/echo.txt" '^agent: ' 20
end_agent "echo"
check "without a reply command it echoes" test "$(tr '\n' '|' <"$work/echo.txt")" = "you: HE HE GO|agent: You said: HE HE GO|"

# No sound server: one line, status 1.
"$server" stop "$runtime" >/dev/null
"$cli" converse >/dev/null 2>"$work/noserver.err"
status=$?
check "no server: status 1" test $status -eq 1
check "no server: one line saying so" \
  bash -c "test \$(wc -l <'$work/noserver.err') -eq 1 && grep -q 'the sound server is not running' '$work/noserver.err'"

finish
