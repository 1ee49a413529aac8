# Sourced by the package checks. Waits up to 5 s for the relay service, started in the
# background as PID with its output in LOG, to announce its listening socket, and prints
# "ADDRESS PORT"; prints nothing when the service exits or stays silent.
service_listening() {
  local log=$1 pid=$2
  for _ in $(seq 50); do
    grep -q "listening on" "$log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  sed -n 's/^lumacast-cloud listening on \(.*\):\([0-9]*\)$/\1 \2/p' "$log"
}
