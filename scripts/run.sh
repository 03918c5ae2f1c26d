#!/usr/bin/env bash
# Installs what is missing, builds the program and the stand-in sales-statistics service,
# starts the service on loopback and opens the Sellmeter window. Without a display the window
# runs under Xvfb: it queries the default nickname, saves a PNG screenshot and prints its path.
# The service started here is stopped when the script ends.
#   SELLMETER_BUILD_DIR  build directory (default: build)
#   SELLMETER_SCREENSHOT where the headless run saves its picture (default: sellmeter.png)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup-debian.sh

build="${SELLMETER_BUILD_DIR:-$root/build}"
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)" --target sellmeter sellmeter-service sellmeter-screenshot

# The program posts to the host its build names; the service listens there.
service_host="$(sed -n 's/^SELLMETER_SERVICE_HOST:STRING=//p' "$build/CMakeCache.txt")"
service_host="${service_host:-127.0.0.1:18080}"
address="${service_host%%:*}"
port="${service_host##*:}"
[ "$port" = "$service_host" ] && port=80

"$build/service/sellmeter-service" --host "$address" --port "$port" &
service_pid=$!
trap 'kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  if (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null; then break; fi
  if ! kill -0 "$service_pid" 2>/dev/null; then
    echo "the stand-in service did not start on $service_host" >&2
    exit 1
  fi
  sleep 0.1
done

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$build/app/sellmeter"
else
  shot="${SELLMETER_SCREENSHOT:-$root/sellmeter.png}"
  case "$shot" in /*) ;; *) shot="$root/$shot" ;; esac
  xvfb-run -a -s "-screen 0 1280x1024x24" "$build/app/sellmeter-screenshot" "$shot" >/dev/null
  echo "screenshot: $shot"
fi
