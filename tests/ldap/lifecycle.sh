# Sourced by the test servers' scripts, with $cmd, $dir and $pidfile set:
# stop() ends the server whose pid $pidfile holds; "stop" does that now,
# "watch DIR OWNER PID" once OWNER has gone, so a killed test leaves no server.
stop() {
  [ -f "$pidfile" ] || return 0
  local pid; pid=$(cat "$pidfile")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$pidfile"
}

if [ "$cmd" = stop ]; then stop; exit 0; fi
if [ "$cmd" = watch ]; then
  while kill -0 "$3" 2>/dev/null && kill -0 "$4" 2>/dev/null; do sleep 1; done
  kill -0 "$3" 2>/dev/null || stop
  exit 0
fi
