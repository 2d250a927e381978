#!/usr/bin/env bash
# Installs everything the build needs on a Debian 12 machine and, when the
# system's OpenSSL is older than 3.5 (no ML-DSA), builds a trimmed static
# libcrypto from Debian trixie's openssl source package into a cache directory
# outside the source tree. Later runs reuse the cache.
#
# Prints the OpenSSL prefix to use on its last line of stdout.
set -euo pipefail

CACHE_DIR="${QUENFOLD_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/quenfold_log}"
mkdir -p "$CACHE_DIR"

log() { echo "setup-deps: $*" >&2; }

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# --- Debian packages ---------------------------------------------------------
pkgs=(build-essential cmake ninja-build pkg-config libsodium-dev libgtest-dev
      libgmock-dev libbenchmark-dev clang llvm libclang-rt-14-dev dpkg-dev perl
      python3 binutils valgrind nlohmann-json3-dev clang-16 libclang-rt-16-dev
      libcli11-dev help2man python3-setuptools python3-wheel python3-venv)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  log "installing ${missing[*]}"
  $SUDO apt-get update -qq >&2 || true
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >&2
fi

# --- OpenSSL >= 3.5 ----------------------------------------------------------
version_ge() { [ "$(printf '%s\n%s\n' "$2" "$1" | sort -V | head -n1)" = "$2" ]; }

sys_ver=$(pkg-config --modversion openssl 2>/dev/null || echo 0)
if version_ge "$sys_ver" "3.5.0"; then
  log "system OpenSSL $sys_ver is recent enough"
  echo "system"
  exit 0
fi

prefix="$CACHE_DIR/openssl"
if [ -f "$prefix/.complete" ]; then
  log "using cached OpenSSL $(cat "$prefix/.complete") in $prefix"
  echo "$prefix"
  exit 0
fi

work="$CACHE_DIR/openssl-src"
rm -rf "$work" && mkdir -p "$work/lists/partial" "$work/archives/partial"
cat > "$work/sources.list" <<SRC
deb-src http://deb.debian.org/debian trixie main
SRC
apt_opts=(-o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts=-
          -o Dir::State::Lists="$work/lists" -o Dir::Cache::Archives="$work/archives"
          -o APT::Get::List-Cleanup=0)
log "fetching the trixie source index"
apt-get "${apt_opts[@]}" update -qq >&2

# Try the listed versions newest first: the index can list a version whose
# files the mirror does not serve.
mapfile -t versions < <(apt-cache "${apt_opts[@]}" showsrc openssl 2>/dev/null \
  | awk '/^Package: /{p=$2} /^Version: /{if (p=="openssl") print $2}' | sort -V -r -u)
[ "${#versions[@]}" -gt 0 ] || { log "no openssl source package listed"; exit 1; }

got=""
for v in "${versions[@]}"; do
  upstream=${v%-*}; upstream=${upstream#*:}
  version_ge "$upstream" "3.5.0" || continue
  log "trying openssl $v"
  rm -rf "$work/dl" && mkdir -p "$work/dl"
  if (cd "$work/dl" && apt-get "${apt_opts[@]}" source --download-only "openssl=$v" >&2); then
    got="$v"; break
  fi
done
[ -n "$got" ] || { log "could not download any openssl >= 3.5 source"; exit 1; }

cd "$work/dl"
dsc=$(ls ./*.dsc | head -n1)
tarball=$(ls openssl_*.orig.tar.* | grep -v '\.asc$' | head -n1)
# Verify the tarball against the SHA-256 recorded in the .dsc (apt checked the
# .dsc against the signed index).
want=$(awk '/^Checksums-Sha256:/{f=1;next} /^[^ ]/{f=0} f && $3=="'"$tarball"'"{print $1}' "$dsc")
have=$(sha256sum "$tarball" | cut -d' ' -f1)
[ -n "$want" ] && [ "$want" = "$have" ] || { log "checksum mismatch for $tarball"; exit 1; }
log "checksum of $tarball verified"

mkdir -p src && tar -xf "$tarball" -C src --strip-components=1
cd src
log "building static libcrypto (this takes a minute or two)"
./Configure linux-x86_64 --prefix="$prefix" --libdir=lib \
  no-shared no-module no-apps no-docs no-tests no-ui-console no-engine no-legacy \
  no-comp no-ssl3 no-dtls no-srp no-psk no-cms no-ts no-ocsp no-ct no-quic \
  no-sm2 no-sm3 no-sm4 no-seed no-rc2 no-rc4 no-rc5 no-idea no-cast no-camellia \
  no-aria no-bf no-md4 no-mdc2 no-whirlpool no-rmd160 no-des no-siphash no-gost \
  no-scrypt no-ocb no-siv no-cmac no-blake2 no-async \
  enable-ec_nistp_64_gcc_128 -fPIC >&2
make -j"$(nproc)" build_libs >&2
make install_dev >&2
rm -rf "$prefix/lib/libssl.a" 
echo "$got" > "$prefix/.complete"
rm -rf "$work"
log "OpenSSL $got installed in $prefix"
echo "$prefix"
