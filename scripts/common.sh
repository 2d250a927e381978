# Sourced by the scripts: installs dependencies (once) and configures a build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${JOBS:-$(nproc)}"

# Sets SODIUM_PREFIX and OPENSSL_PREFIX (the static archives' prefixes).
dependency_prefixes() {
  local out
  out="$("$ROOT/scripts/setup-deps.sh")"
  SODIUM_PREFIX="$(tail -n 2 <<<"$out" | head -n 1)"
  OPENSSL_PREFIX="$(tail -n 1 <<<"$out")"
}

# configure_build <dir> [cmake args...]
configure_build() {
  local dir="$1"; shift
  dependency_prefixes
  cmake -S "$ROOT" -B "$dir" -G Ninja -DQUENFOLD_OPENSSL_PREFIX="$OPENSSL_PREFIX" \
    -DQUENFOLD_SODIUM_PREFIX="$SODIUM_PREFIX" "$@" >/dev/null
}
