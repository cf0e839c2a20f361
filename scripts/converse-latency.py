#!/usr/bin/env python3
"""Turn latency of `quorvel-sherpa converse`: from the end of the user's
speech to the first reply audio at the output device, split into its parts.

usage: scripts/converse-latency.py [BUILD-DIR] [TURNS]   (build/default, 5)

Starts a private sound server (scripts/sound-server.sh) with a second null
output, "qs_mic", whose monitor is converse's input, plays the test
utterance hello_world_48000.wav into it TURNS times, and times each turn on
one clock (the system's wall clock, read here and by the reply command):

  speech end   paplay of the file returns (the server has played it), less
               the file's silence after its last loud sample
  turn end     the "user" line of converse --json arrives (the final segment)
  first token  the reply command prints its first word (it stamps the time)
  speech start the reply's first piece went to the engine ("speechStart" of
               the "agent" line, on converse's clock: moved onto ours by
               the "user" line, which arrives at its "turnEnd")
  first audio  converse saw the device callback render the first sound of
               the reply ("firstAudio", likewise; seen at converse's next
               10 ms round; the device's buffer, 100 ms, is still ahead)

The reply command prints "Here is my answer. It comes a word at a time." a
word every 20 ms, so the first piece is its first sentence, four words in.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import wave
import array

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "default")
turns = int(sys.argv[2]) if len(sys.argv) > 2 else 5
cli = os.path.join(build, "apps", "quorvel-sherpa")
utterance = os.path.join(build, "apps", "testdata", "hello_world_48000.wav")
server = os.path.join(root, "scripts", "sound-server.sh")


def trailing_silence(path, threshold=0.005):
    with wave.open(path) as w:
        samples = array.array("h", w.readframes(w.getnframes()))
        rate, channels = w.getframerate(), w.getnchannels()
    last = max(i for i, s in enumerate(samples) if abs(s) > threshold * 32768)
    return (len(samples) - 1 - last) / channels / rate


work = tempfile.mkdtemp()
runtime = os.path.join(work, "runtime")
env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
env.pop("PULSE_SERVER", None)
subprocess.run([server, "start", runtime], env=env, check=True, stdout=subprocess.DEVNULL)
try:
    subprocess.run(["pactl", "load-module", "module-null-sink", "sink_name=qs_mic"], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    stamps = os.path.join(work, "first-token")
    reply = os.path.join(work, "reply.sh")
    with open(reply, "w") as f:
        f.write("#!/bin/sh\ncat >/dev/null\nfirst=1\n"
                "for word in Here is my answer. It comes a word at a time.; do\n"
                f"  [ $first = 1 ] && date +%s.%N >>{stamps}; first=0\n"
                "  printf '%s ' \"$word\"; sleep 0.02\ndone\n")
    os.chmod(reply, 0o755)
    agent = subprocess.Popen([cli, "converse", "--json", "--device", "qs_mic.monitor", "--output-device", "qs_null",
                              "--reply-command", reply], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             text=True)
    lines = []  # (arrival wall time, event)

    def read():
        for line in agent.stdout:
            lines.append((time.time(), json.loads(line)))

    reader = threading.Thread(target=read)
    reader.start()
    time.sleep(5)  # the models load, the input stream starts
    silence = trailing_silence(utterance)
    speech_ends = []
    for _ in range(turns):
        subprocess.run(["paplay", "-d", "qs_mic", utterance], env=env, check=True)
        speech_ends.append(time.time() - silence)
        time.sleep(6)  # the reply plays out
    agent.terminate()
    agent.wait()
    reader.join()
    first_tokens = [float(t) for t in open(stamps)]
finally:
    subprocess.run([server, "stop", runtime], env=env, stdout=subprocess.DEVNULL)

rows = []
for i, end in enumerate(speech_ends):
    window = [(t, e) for t, e in lines if t > end and (i + 1 == len(speech_ends) or t < speech_ends[i + 1])]
    turn_end = next(t for t, e in window if e["event"] == "user")
    agent_line = next(e["payload"] for t, e in window if e["event"] == "agent")
    offset = turn_end - agent_line["turnEnd"]
    start = agent_line["speechStart"] + offset
    audio = agent_line["firstAudio"] + offset
    rows.append((turn_end - end, first_tokens[i] - turn_end, start - first_tokens[i], audio - start, audio - end))

names = ["speech end -> turn end", "turn end -> first token", "first token -> speech start",
         "speech start -> first audio", "total: speech end -> first audio"]
print(f"{turns} turns, median (min-max) in ms:")
for k, name in enumerate(names):
    values = [r[k] * 1000 for r in rows]
    print(f"  {name:34s} {statistics.median(values):6.0f} ({min(values):.0f}-{max(values):.0f})")
