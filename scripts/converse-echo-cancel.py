#!/usr/bin/env python3
"""Does PulseAudio's echo-cancel module let `converse` keep barge-in on
loudspeakers? Measured with null devices, on a private sound server.

usage: scripts/converse-echo-cancel.py [BUILD-DIR] [SECONDS]   (build/default, 20)

The room is a null output, "qs_room", whose monitor is the microphone: the
user's speech is played into it, and so is the loudspeaker, a second null
output "qs_speaker", through a loopback (20 ms). Two set-ups:

  none         converse listens on qs_room.monitor, speaks on qs_speaker:
               the microphone hears the agent as loudly as the user
  echo-cancel  module-echo-cancel (webrtc; its gain controls off, so it
               does not raise what is left of the echo) between them:
               converse listens on its source and speaks on its sink

In each, the user says one utterance; the reply is long (about 12 s of
speech). For SECONDS after it, the script counts the agent's replies and
those the agent stopped although nobody spoke (its own echo recognised as
the user's words), and how long each played before it was stopped. Then
the echo itself: the reply's speech played into the set-up's output while
both the room and the set-up's input are recorded, the level per second in
dB and how much the canceller took away.
"""
import array
import json
import math
import os
import subprocess
import sys
import tempfile
import time
import wave

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "default")
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20.0
cli = os.path.join(build, "apps", "quorvel-sherpa")
utterance = os.path.join(build, "apps", "testdata", "hello_world_48000.wav")
server = os.path.join(root, "scripts", "sound-server.sh")
reply_text = ("This reply is long enough to be cut off by the user who speaks while it plays. It goes on and on, "
              "sentence after sentence, so that there is plenty left that nobody hears. And then some more of it.")

work = tempfile.mkdtemp()
runtime = os.path.join(work, "runtime")
env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
env.pop("PULSE_SERVER", None)


def pactl(*args):
    subprocess.run(["pactl", *args], env=env, check=True, stdout=subprocess.DEVNULL)


def converse(mic, speaker):
    """Replies and self-interruptions in `seconds` after one utterance."""
    reply = os.path.join(work, "reply.sh")
    with open(reply, "w") as f:
        f.write(f"#!/bin/sh\ncat >/dev/null\nfor word in {reply_text}; do printf '%s ' \"$word\"; sleep 0.05; done\n")
    os.chmod(reply, 0o755)
    out = os.path.join(work, f"{mic}.jsonl")
    with open(out, "w") as sink:
        agent = subprocess.Popen([cli, "converse", "--json", "--device", mic, "--output-device", speaker,
                                  "--reply-command", reply], env=env, stdout=sink, stderr=subprocess.DEVNULL)
        time.sleep(5)  # the models load, the streams start
        subprocess.run(["paplay", "-d", "qs_room", utterance], env=env, check=True)
        time.sleep(seconds)
        before_end = open(out).read().splitlines()  # Ctrl-C cuts the last reply off: not counted
        agent.send_signal(2)
        agent.wait()
    events = [json.loads(line) for line in before_end]
    replies = [(e["payload"], e["wallTime"]) for e in events if e["event"] == "agent"]
    return [(p["interrupted"], p["text"], wall - p.get("firstAudio", wall)) for p, wall in replies]


def levels(path):
    with wave.open(path) as w:
        s = array.array("h", w.readframes(w.getnframes()))
        rate = w.getframerate()
    return [10 * math.log10(sum(v * v for v in s[i:i + rate]) / rate + 1e-9) for i in range(0, len(s) - rate, rate)]


def echo(mic, speaker, speech):
    """Level per second of the echo in the room and at the set-up's input."""
    recorders = [subprocess.Popen(["parecord", "-d", device, "--rate=16000", "--channels=1", "--format=s16le",
                                   "--file-format=wav", os.path.join(work, name)], env=env)
                 for device, name in (("qs_room.monitor", "room.wav"), (mic, "mic.wav"))]
    time.sleep(0.5)
    subprocess.run(["paplay", "-d", speaker, speech], env=env, check=True)
    time.sleep(0.5)
    for r in recorders:
        r.send_signal(2)
        r.wait()
    return levels(os.path.join(work, "room.wav")), levels(os.path.join(work, "mic.wav"))


subprocess.run([server, "start", runtime], env=env, check=True, stdout=subprocess.DEVNULL)
try:
    pactl("load-module", "module-null-sink", "sink_name=qs_room")
    pactl("load-module", "module-null-sink", "sink_name=qs_speaker")
    pactl("load-module", "module-loopback", "source=qs_speaker.monitor", "sink=qs_room", "latency_msec=20")
    speech = os.path.join(work, "reply.wav")
    subprocess.run([cli, "say", reply_text, "-o", speech, "--rate", "48000"], check=True, stderr=subprocess.DEVNULL)
    for name, mic, speaker in (("none", "qs_room.monitor", "qs_speaker"), ("echo-cancel", "qs_ec_mic", "qs_ec_speaker")):
        if name == "echo-cancel":
            pactl("load-module", "module-echo-cancel", "source_master=qs_room.monitor", "sink_master=qs_speaker",
                  "source_name=qs_ec_mic", "sink_name=qs_ec_speaker", "aec_method=webrtc",
                  'aec_args="analog_gain_control=0 digital_gain_control=0"')
        replies = converse(mic, speaker)
        stopped = [played for interrupted, _, played in replies if interrupted]
        print(f"{name}: {len(replies)} replies in {seconds:g} s after one utterance, {len(stopped)} of them stopped "
              f"with nobody speaking, after " + ", ".join(f"{s:.1f}" for s in stopped) + " s of their speech")
        room, heard = echo(mic, speaker, speech)
        print("  echo level per second (dB): room " + " ".join(f"{x:.0f}" for x in room))
        print("                         input " + " ".join(f"{x:.0f}" for x in heard))
finally:
    subprocess.run([server, "stop", runtime], env=env, stdout=subprocess.DEVNULL)
