#!/usr/bin/env bash
# Runs the built command-line host the way a user would and checks what it
# writes and prints. Usage: cli_test.sh <quorvel-sherpa> <testdata dir>
set -uo pipefail
cli="$1"
testdata="$2"
source "$(dirname "$0")/test_helpers.sh"
trap 'rm -rf "$work"' EXIT

# Seconds of audio and peak level of a WAV file, through sox.
duration() { soxi -D "$1"; }
peak() { sox "$1" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}'; }
float_between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

# say: rate, channels, sound, length that grows with the text.
"$cli" say "Hello world." -o "$work/short.wav" --rate 44100 --channels 2 2>"$work/say.err"
check "say exits 0" test $? -eq 0
check "say writes 44100 Hz" test "$(soxi -r "$work/short.wav")" = 44100
check "say writes 2 channels" test "$(soxi -c "$work/short.wav")" = 2
check "say audio is not silent" float_between "$(peak "$work/short.wav")" 0.01 1.0
check "say length fits the text" float_between "$(duration "$work/short.wav")" 0.5 2.5
"$cli" say "Hello world. This sentence is a good deal longer than the first one was." -o "$work/long.wav" 2>/dev/null
check "longer text gives longer audio" awk -v a="$(duration "$work/short.wav")" -v b="$(duration "$work/long.wav")" 'BEGIN { exit !(b > 2 * a) }'
check "say defaults to 48000 Hz mono" test "$(soxi -r "$work/long.wav")-$(soxi -c "$work/long.wav")" = 48000-1
"$cli" say "Hello world." -o - --rate 16000 >"$work/stdout.wav" 2>/dev/null
check "say -o - writes a WAV to standard output" test "$(soxi -r "$work/stdout.wav")" = 16000

# say --json: events as JSON lines, synthesisStarted before finished.
"$cli" --json say "Hello world." -o "$work/json.wav" >"$work/events.jsonl" 2>/dev/null
check "json events in order" bash -c "grep -o '\"event\":\"[a-zA-Z]*\"' '$work/events.jsonl' | tr '\n' ' ' | grep -q 'synthesisStarted.*finished'"
check "json carries the text" grep -q '"text":"Hello world."' "$work/events.jsonl"

# The global options after the subcommand, in either spelling.
printf 'Short. Stream.' | "$cli" stream --json -o "$work/late.wav" >"$work/late.jsonl" 2>/dev/null
check "stream --json after the subcommand" grep -q '"event":"finished"' "$work/late.jsonl"
"$cli" say "Hi." -o "$work/late.wav" --log-level=info --json >"$work/late.jsonl" 2>"$work/late.err"
check "--log-level= after the subcommand" grep -q '^\[info\] \[SherpaTTSNode\]' "$work/late.err"
check "--json at the end of the line" grep -q '"event":"synthesisStarted"' "$work/late.jsonl"
"$cli" transcribe "$testdata/hello_world_16000.wav" --log-level none >"$work/late.txt" 2>"$work/late.err"
check "--log-level none after a positional" bash -c "test \"\$(cat '$work/late.txt')\" = 'HELLO WORLD' && test ! -s '$work/late.err'"

# stream: pieces printed in order, all of the text spoken.
printf 'The first sentence is right here, and it is long enough. The second one follows it now! A third ends the stream.' \
  | "$cli" --json stream -o "$work/stream.wav" >"$work/stream.jsonl" 2>/dev/null
check "stream exits 0" test $? -eq 0
started=$(grep '"synthesisStarted"' "$work/stream.jsonl" | sed 's/.*"text":"\([^"]*\)".*/\1/' | tr '\n' '|')
check "stream speaks the text in order" test "$started" = "The first sentence is right here, and it is long enough.| The second one follows it now!|A third ends the stream.|"
# Without preparing ahead, the text held while the first piece plays goes out
# with the final token, queued behind that piece.
printf 'The first sentence is right here, and it is long enough. The second one follows it now! A third ends the stream.' \
  | "$cli" --json stream --no-prepare-ahead -o "$work/stream2.wav" >"$work/stream2.jsonl" 2>/dev/null
started=$(grep '"synthesisStarted"' "$work/stream2.jsonl" | sed 's/.*"text":"\([^"]*\)".*/\1/' | tr '\n' '|')
check "stream --no-prepare-ahead speaks the text in order" test "$started" = "The first sentence is right here, and it is long enough.| The second one follows it now! A third ends the stream.|"
for run in stream stream2; do
  check "$run ends with finished" bash -c "tail -1 '$work/$run.jsonl' | grep -q '\"finished\"'"
  check "$run: every piece announced has finished" test \
    "$(grep -c '"synthesisStarted"' "$work/$run.jsonl")" = "$(grep -c '"event":"finished"' "$work/$run.jsonl")"
done
# Both runs write every piece whole: the written audio holds the sum of the
# pieces' own lengths (each said alone, at the same rate and block), within
# one block per piece, whichever way the text was cut.
pieces_seconds() {  # the pieces of a run's JSON lines, each said alone
  local total=0 n=0 text
  while IFS= read -r text; do
    "$cli" say "$text" --rate 16000 --block 160 -o "$work/piece.wav" 2>/dev/null
    total=$(awk -v t="$total" -v d="$(duration "$work/piece.wav")" 'BEGIN { print t + d }')
    n=$((n + 1))
  done < <(grep '"synthesisStarted"' "$1" | sed 's/.*"text":"\([^"]*\)".*/\1/')
  echo "$total $n"
}
for prepare in "" --no-prepare-ahead; do
  printf 'The first sentence is right here, and it is long enough. The second one follows it now! A third ends the stream.' \
    | "$cli" --json stream $prepare --tokens-per-second 1000 --rate 16000 --block 160 -o "$work/whole$prepare.wav" \
      >"$work/whole$prepare.jsonl" 2>/dev/null
  read -r sum n < <(pieces_seconds "$work/whole$prepare.jsonl")
  check "stream ${prepare:-with prepare-ahead} writes every piece ($n pieces, $sum s said alone)" awk \
    -v got="$(duration "$work/whole$prepare.wav")" -v sum="$sum" -v n="$n" \
    'BEGIN { block = 0.01; d = got - sum; if (d < 0) d = -d; exit !(n >= 2 && d <= (n + 2) * block) }'
done

# stream --realtime: the words as they are spoken, each segment's joined to
# its text, after its "synthesisStarted" and before its "finished".
printf 'Hello there. This is a test of the captions, word by word.' \
  | "$cli" --json stream --realtime --tokens-per-second 100 -o "$work/captions.wav" >"$work/captions.jsonl" 2>/dev/null
check "stream --realtime shows the words as they are spoken" python3 - "$work/captions.jsonl" <<'PY'
import json, sys
started, spoken, order = {}, {}, []
for line in open(sys.argv[1]):
    event = json.loads(line)
    name, payload = event["event"], event["payload"]
    order.append(name)
    if name == "synthesisStarted":
        started[payload["sequence"]] = payload["text"]
    elif name == "spoken":
        assert payload["sequence"] in started, "a word before its segment was announced"
        spoken[payload["sequence"]] = spoken.get(payload["sequence"], "") + payload["text"]
assert spoken == started and len(started) == 2, (spoken, started)
assert order[-2:] == ["spoken", "finished"], order
PY

# transcribe: the known test audio decodes to its text.
for rate in 16000 48000; do
  text=$("$cli" transcribe "$testdata/hello_world_$rate.wav" 2>/dev/null)
  check "transcribe at $rate Hz" test "$text" = "HELLO WORLD"
done

# transcribe: two utterances 1.5 s apart are two segments, one line each;
# without endpoints, one line of the whole text.
for rate in 16000 48000; do
  sox "$testdata/hello_world_$rate.wav" "$work/gap.wav" pad 0 1.5
  sox "$work/gap.wav" "$testdata/he_he_go_$rate.wav" "$work/two.wav"
  check "transcribe: two utterances at $rate Hz, two lines" \
    test "$("$cli" transcribe "$work/two.wav" 2>/dev/null | tr '\n' '|')" = "HELLO WORLD|HE HE GO|"
  check "transcribe --no-endpoints: two utterances at $rate Hz, one line" \
    test "$("$cli" transcribe "$work/two.wav" --no-endpoints 2>/dev/null | tr '\n' '|')" = "HELLO WORLD HE HE GO|"
done

# transcribe over many file lengths and block sizes: the text must survive a
# last decode that finds nothing new, whatever the file's length and the
# block size make of the decode points.
for fixture in "$testdata"/*_16000.wav "$testdata"/*_48000.wav; do
  want=$(python3 -c 'import json,sys; print({w["file"]: w["text"] for w in json.load(open(sys.argv[1]))["wavs"]}[sys.argv[2]])' \
    "$testdata/manifest.json" "$(basename "$fixture")")
  wrong=""
  # "aligned": the padded file plus transcribe's one second of trailing
  # silence is a whole number of half-second decode intervals, so with a
  # block that divides the interval the last block is itself a decode point.
  aligned=$(awk -v d="$(soxi -D "$fixture")" 'BEGIN { a = int(d * 2 + 0.999) / 2; printf "%.4f", a - d }')
  for pad in "0 0" "0 0.03" "0.25 0.5" "0.1 1.7" "0 $aligned"; do
    padded="$work/padded.wav"
    sox "$fixture" "$padded" pad $pad
    for block in 1 7 160 441 480 500 512 1000 4096 8192; do
      got=$("$cli" transcribe "$padded" --block "$block" 2>/dev/null)
      [[ "$got" == "$want" ]] || wrong+=" [pad $pad, block $block: '$got']"
    done
  done
  check "transcribe $(basename "$fixture") at every length and block size${wrong}" test -z "$wrong"
done

# nodes: the record, the actions and the events.
"$cli" nodes >"$work/nodes.txt" 2>/dev/null
check "nodes lists the TTS type" grep -q 'Sherpa.TTS' "$work/nodes.txt"
check "nodes lists the actions" bash -c "grep -q 'appendStreamingText' '$work/nodes.txt' && grep -q 'synthesisStarted' '$work/nodes.txt'"

# Bad input: one clear line and a non-zero status.
expect_failure() {  # expect_failure NAME MESSAGE-PATTERN ARGS...
  local name="$1" pattern="$2"
  shift 2
  "$cli" "$@" >/dev/null 2>"$work/err.txt" </dev/null
  local status=$?
  check "$name exits non-zero" test $status -ne 0
  check "$name says why" grep -qi -- "$pattern" "$work/err.txt"
}
expect_failure "missing input file" "no such file" transcribe "$work/absent.wav"
printf 'not audio' >"$work/bad.wav"
expect_failure "unreadable input file" "cannot read" transcribe "$work/bad.wav"
expect_failure "voice that fails to load" "voice" say "Hello." --voice "$work"
expect_failure "unsupported channel count" "channel" say "Hello." --channels 6 -o "$work/x.wav"
expect_failure "empty text" "empty" say "   " -o "$work/x.wav"
expect_failure "unknown option after the subcommand" "not expected" say "Hello." --bogus
expect_failure "bad log level after the subcommand" "log-level" say "Hello." --log-level loud
expect_failure "rate out of range" "out of range" say "Hello." --rate 4000 -o "$work/x.wav"
expect_failure "--tokens without --model" "--tokens requires --model" say "Hi" --tokens /x
expect_failure "unknown subcommand" "unknown subcommand 'sing'" sing "Hi"


# The rough edges a new user meets.
cli_abs="$(realpath "$cli")"
# say without -o or --play writes say.wav in the working folder, and says so.
(cd "$work" && "$cli_abs" say "Hi." 2>"$work/default.err")
check "say without -o or --play writes say.wav" test "$(soxi -r "$work/say.wav" 2>/dev/null)" = 48000
check "say without -o or --play says it wrote say.wav" grep -q 'wrote say.wav' "$work/default.err"
check "say --help names say.wav" bash -c "'$cli' say --help | grep -q 'say.wav'"
# A text longer than say speaks is refused whole, not cut at the limit.
long_text=$(printf 'This sentence is said again and again until it is far too long. %.0s' $(seq 400))
"$cli" say "$long_text" --rate 8000 -o "$work/toolong.wav" >/dev/null 2>"$work/toolong.err"
check "say of a text beyond 600 s exits non-zero" test $? -ne 0
check "say of a text beyond 600 s says so" grep -q '600 s' "$work/toolong.err"
check "say of a text beyond 600 s writes nothing" test ! -e "$work/toolong.wav"
# An unwritable -o is told before any synthesis.
for command in "say Hello." stream; do
  echo "Hello." | "$cli" --json $command -o "$work/absent/x.wav" >"$work/unwritable.jsonl" 2>"$work/unwritable.err"
  check "$command to an unwritable -o fails" test $? -ne 0
  check "$command to an unwritable -o says why" grep -q "cannot write '$work/absent/x.wav'" "$work/unwritable.err"
  check "$command to an unwritable -o synthesises nothing" test ! -s "$work/unwritable.jsonl"
done
# nodes --json: one object per node type, with its actions and events.
"$cli" nodes --json >"$work/nodes.jsonl" 2>/dev/null
check "nodes --json lists both node types with their actions and events" python3 - "$work/nodes.jsonl" <<'PY'
import json, sys
types = {}
for line in open(sys.argv[1]):
    node = json.loads(line)
    types[node["library"] + "." + node["type"]] = node
tts = types["Sherpa.TTS"]
assert "appendStreamingText" in tts["actions"] and "synthesisStarted" in tts["events"], tts
assert all(node["description"] and node["displayName"] for node in types.values()), types
PY
# transcribe --json: one "text" event per segment.
sox "$testdata/hello_world_16000.wav" "$work/gap.wav" pad 0 1.5
sox "$work/gap.wav" "$testdata/he_he_go_16000.wav" "$work/two.wav"
"$cli" transcribe "$work/two.wav" --json >"$work/two.jsonl" 2>/dev/null
check "transcribe --json: a text event per segment" python3 - "$work/two.jsonl" <<'PY'
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
assert [e["event"] for e in events] == ["text", "text"], events
assert [e["payload"]["text"] for e in events] == ["HELLO WORLD", "HE HE GO"], events
PY
# transcribe of silence: nothing on standard output, "recognised nothing".
sox -n -r 16000 -c 1 "$work/silence.wav" trim 0 2
for endpoints in "" --no-endpoints; do
  "$cli" transcribe "$work/silence.wav" $endpoints >"$work/silence.txt" 2>"$work/silence.err"
  check "transcribe $endpoints of silence prints no text" test ! -s "$work/silence.txt"
  check "transcribe $endpoints of silence says it recognised nothing" grep -q 'recognised nothing' "$work/silence.err"
done
# The real-cost voice command of docs/models.md, as written, from a folder with no
# voices in it (the repository root is one).
(cd "$work" && "$cli_abs" say "Hello world." \
  --voice files/en_GB/vits-piper-en_GB-southern_english_female-low-real-cost -o real.wav 2>/dev/null)
check "--voice files/... works from another folder" test "$(soxi -r "$work/real.wav" 2>/dev/null)" = 48000
# fetch-engine.sh with the registry unreachable: npm's error and a clear line.
mkdir -p "$work/fetch/scripts"
cp "$(dirname "$0")/../../scripts/fetch-engine.sh" "$work/fetch/scripts/"
npm_config_registry=http://127.0.0.1:9/ npm_config_fetch_retries=0 bash "$work/fetch/scripts/fetch-engine.sh" \
  >/dev/null 2>"$work/fetch.err"
check "fetch-engine.sh fails when the registry is unreachable" test $? -ne 0
check "fetch-engine.sh shows npm's error" grep -q '^npm error' "$work/fetch.err"
check "fetch-engine.sh says what it could not fetch" grep -q 'fetch-engine: npm could not fetch' "$work/fetch.err"

finish
