# Sourced by the scripts: installs dependencies (once) and configures a build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${JOBS:-$(nproc)}"

openssl_prefix() {
  local p
  p="$("$ROOT/scripts/setup-deps.sh" | tail -n 1)"
  if [ "$p" = "system" ]; then echo ""; else echo "$p"; fi
}

# configure_build <dir> [cmake args...]
configure_build() {
  local dir="$1"; shift
  local prefix
  prefix="$(openssl_prefix)"
  cmake -S "$ROOT" -B "$dir" -G Ninja -DQUENFOLD_OPENSSL_PREFIX="$prefix" "$@" >/dev/null
}
