#!/usr/bin/env bash
# The library inside host processes that configure and use their own OpenSSL
# and libsodium: the answers of every host configuration must be identical,
# byte for byte, to those of a plain process, and nothing may abort.
#
#   run_host_tests.sh <host_probe> <libquenfold_log.so> <examples dir> <python binding dir>
set -euo pipefail
probe="$1" lib="$2" ex="$3" pydir="$4"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Host configurations. "base-only" activates nothing but OpenSSL's base
# provider (no algorithms at all), as FIPS-style host setups do; "fips"
# insists on a FIPS module that does not exist, with diagnostics on, so the
# host's own initialisation fails; both point OPENSSL_MODULES at an empty
# directory.
mkdir -p "$work/modules"
cp "$here/base-only.cnf" "$work/base-only.cnf"
cat > "$work/fips.cnf" <<CNF
config_diagnostics = 1
openssl_conf = openssl_init
[openssl_init]
providers = provider_sect
alg_section = algorithm_sect
[provider_sect]
fips = fips_sect
base = base_sect
[fips_sect]
module = $work/modules/fips.so
activate = 1
[base_sect]
activate = 1
[algorithm_sect]
default_properties = fips=yes
CNF

"$probe" "$lib" "$ex" plain > "$work/baseline" || { echo "plain run failed"; exit 1; }
[ -s "$work/baseline" ] || { echo "no answers"; exit 1; }
cat "$work/baseline" "$work/baseline" > "$work/baseline2"

status=0
for conf in none base-only fips; do
  for mode in plain host-first library-first; do
    want="$work/baseline"; [ "$mode" = library-first ] && want="$work/baseline2"
    envs=()
    [ "$conf" != none ] && envs=(OPENSSL_CONF="$work/$conf.cnf" OPENSSL_MODULES="$work/modules")
    set +e
    env "${envs[@]}" "$probe" "$lib" "$ex" "$mode" > "$work/got" 2> "$work/err"
    rc=$?
    set -e
    if [ $rc -ne 0 ] || ! cmp -s "$want" "$work/got"; then
      echo "FAIL: host configuration $conf, $mode (exit $rc)"; cat "$work/err"; diff "$want" "$work/got" || true
      status=1
    else
      echo "ok: host configuration $conf, $mode"
    fi
  done
  if command -v python3 >/dev/null; then
    if env "${envs[@]}" PYTHONPATH="$pydir" QUENFOLD_LOG_LIBRARY="$lib" PYTHONDONTWRITEBYTECODE=1 \
        python3 "$here/python_host.py" "$ex"; then
      echo "ok: python host, configuration $conf"
    else
      echo "FAIL: python host, configuration $conf"; status=1
    fi
  fi
done
exit $status
