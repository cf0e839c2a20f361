#!/usr/bin/env bash
# Starts or stops a private PulseAudio sound server with one null output,
# "qs_null", whose monitor "qs_null.monitor" can be recorded: for the
# live-audio tests, and for trying `--play` and `listen` on a machine
# without a sound card. It runs as the calling user (root too) in a runtime
# folder of its own, so it meets no other server and no other run's.
#
#   scripts/sound-server.sh start [DIR]   # DIR: build/sound-server by default
#   scripts/sound-server.sh stop [DIR]
#
# Clients find it with XDG_RUNTIME_DIR=DIR; start prints the line to export.
# start returns once the server answers; stop once its process has ended.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
command="${1:-}"
dir="${2:-$root/build/sound-server}"

answers() { env -u PULSE_SERVER XDG_RUNTIME_DIR="$dir" timeout 5 pactl info >/dev/null 2>&1; }

case "$command" in
  start)
    mkdir -p "$dir"
    chmod 700 "$dir"
    dir="$(cd "$dir" && pwd)"
    if answers; then
      echo "sound-server: already running; export XDG_RUNTIME_DIR=$dir"
      exit 0
    fi
    # -n: no default configuration, so no hardware is probed; the server
    # would otherwise exit when idle.
    env -u PULSE_SERVER XDG_RUNTIME_DIR="$dir" pulseaudio --daemonize=yes --exit-idle-time=-1 -n \
      --load="module-null-sink sink_name=qs_null" --load=module-native-protocol-unix \
      --log-target=file:"$dir/server.log" 2>>"$dir/server.log"
    for _ in $(seq 50); do
      if answers; then
        echo "sound-server: running; export XDG_RUNTIME_DIR=$dir"
        exit 0
      fi
      sleep 0.1
    done
    echo "sound-server: the server did not answer within 5 s (see $dir/server.log)" >&2
    exit 1
    ;;
  stop)
    pidfile="$dir/pulse/pid"
    pid=""
    [[ -f "$pidfile" ]] && pid="$(cat "$pidfile")"
    answers && env -u PULSE_SERVER XDG_RUNTIME_DIR="$dir" timeout 5 pactl exit >/dev/null 2>&1 || true
    if [[ -n "$pid" ]]; then
      for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || { echo "sound-server: stopped"; exit 0; }
        sleep 0.1
      done
      # It did not leave when asked: end the process this script started.
      kill "$pid" 2>/dev/null || true
    fi
    echo "sound-server: stopped"
    ;;
  *)
    echo "usage: $0 start|stop [RUNTIME-DIR]" >&2
    exit 2
    ;;
esac
