#!/bin/bash
# Starts on this machine what deploy/README.md describes for many: three clustered NATS servers
# and N lumacast-cloud nodes from a build tree, all on loopback, and with haproxy installed a
# TCP balancer in front of the nodes. Ctrl-C (or SIGTERM) ends everything it started.
#
#   deploy/try-cluster.sh [--build DIR] [--nodes N] [--port PORT]
#
# The balancer listens on PORT (default 8089), the nodes on PORT+1 ... PORT+N, the NATS
# servers on PORT+101 ... PORT+103 (clients) and PORT+201 ... PORT+203 (routes). Without
# haproxy, studios and viewers use one node's port directly; any node serves any room.
set -euo pipefail

build=build
nodes=3
port=8089
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --nodes) nodes="$2"; shift 2 ;;
    --port) port="$2"; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--nodes N] [--port PORT]" >&2; exit 2 ;;
  esac
done
relay="$build/bin/lumacast-cloud"
[ -x "$relay" ] || { echo "no $relay: build the lumacast-cloud target first" >&2; exit 1; }
command -v nats-server >/dev/null || { echo "nats-server is missing: apt-get install nats-server" >&2; exit 1; }

work=$(mktemp -d -t lumacast-cluster.XXXXXX)
pids=()
stop() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  echo "stopped; logs were in $work"
  exit 0
}
trap stop EXIT INT TERM

nats_urls=()
routes=()
for i in 1 2 3; do
  nats_urls+=("nats://127.0.0.1:$((port + 100 + i))")
  routes+=("nats://127.0.0.1:$((port + 200 + i))")
done
for i in 1 2 3; do
  others=()
  for j in 1 2 3; do [ "$j" = "$i" ] || others+=("${routes[j - 1]}"); done
  nats-server -a 127.0.0.1 -p $((port + 100 + i)) -n "nats-$i" --cluster_name lumacast \
    --cluster "${routes[i - 1]}" --routes "$(IFS=,; echo "${others[*]}")" \
    >"$work/nats-$i.log" 2>&1 &
  pids+=($!)
done

# haproxy connects to the nodes from 127.0.0.2 with a PROXY header naming the viewer; the nodes
# trust that address only, so a studio or viewer on 127.0.0.1 may still use a node directly.
balancer=()
command -v haproxy >/dev/null && balancer=(--balancer 127.0.0.2)

for n in $(seq 1 "$nodes"); do
  # Each node tries a different NATS server first.
  first=$(( (n - 1) % 3 ))
  list=("${nats_urls[@]:first}" "${nats_urls[@]:0:first}")
  "$relay" --listen 127.0.0.1 --port $((port + n)) --nats "$(IFS=,; echo "${list[*]}")" \
    "${balancer[@]}" >"$work/relay-$n.log" 2>&1 &
  pids+=($!)
  echo "relay node $n: http://127.0.0.1:$((port + n))/  (log $work/relay-$n.log)"
done

if command -v haproxy >/dev/null; then
  {
    printf 'defaults\n    mode tcp\n    timeout connect 3s\n    timeout client 1h\n    timeout server 1h\n'
    printf 'frontend lumacast\n    bind 127.0.0.1:%s\n    default_backend relays\n' "$port"
    printf 'backend relays\n    balance leastconn\n    option redispatch\n    retries 3\n'
    printf '    source 127.0.0.2\n'
    for n in $(seq 1 "$nodes"); do
      printf '    server relay-%s 127.0.0.1:%s check inter 2s fall 2 rise 2 send-proxy-v2\n' \
        "$n" $((port + n))
    done
  } >"$work/haproxy.cfg"
  haproxy -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
  pids+=($!)
  echo "balancer: 127.0.0.1:$port. In the studio add 127.0.0.1:$port as a custom server;"
  echo "viewers open http://127.0.0.1:$port/?room=<room>."
else
  echo "no haproxy: the studio streams to one node (127.0.0.1:$((port + 1))), viewers open any"
  echo "node's http://127.0.0.1:<port>/?room=<room>."
fi
echo "Ctrl-C ends it all."
wait -n "${pids[@]}" || true
echo "a process ended early; see the logs" >&2
