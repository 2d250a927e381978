#!/usr/bin/env bash
# Installs everything the build needs on a Debian 12 machine and builds the
# two cryptographic dependencies as static, position-independent archives
# from Debian's source packages into a cache directory outside the source
# tree: a trimmed libcrypto from OpenSSL >= 3.5 (ML-DSA) and libsodium. Later
# runs reuse the cache.
#
# Prints the libsodium prefix and then the OpenSSL prefix, one per line, as
# the last two lines of stdout.
set -euo pipefail

CACHE_DIR="${QUENFOLD_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/quenfold_log}"
mkdir -p "$CACHE_DIR"
# One run at a time per cache: concurrent builds (several checkouts, or CI
# jobs sharing a home) would otherwise build into the same prefixes at once.
exec 9>"$CACHE_DIR/.lock"
flock 9

log() { echo "setup-deps: $*" >&2; }

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# --- Debian packages ---------------------------------------------------------
pkgs=(build-essential cmake ninja-build pkg-config libsodium-dev libgtest-dev
      libgmock-dev libbenchmark-dev autoconf automake libtool clang llvm libclang-rt-14-dev dpkg-dev perl
      python3 binutils valgrind libssl-dev nlohmann-json3-dev clang-16 libclang-rt-16-dev
      libcli11-dev help2man python3-setuptools python3-wheel python3-venv python3-pip
      libjna-java junit5 openjdk-17-jdk-headless libcurl4-openssl-dev
      python3-distributed python3-dask)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  log "installing ${missing[*]}"
  $SUDO apt-get update -qq >&2 || true
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >&2
fi

# --- Debian source packages ---------------------------------------------------
# The library links its cryptographic dependencies statically and hides their
# symbols, so that it needs nothing at run time beyond the C and C++ runtimes
# and never shares state with a host process's own OpenSSL or libsodium. Both
# are built from Debian's own source packages, fetched through a private
# sources list (the system's apt sources are left alone), newest listed
# version first, each tarball checked against the SHA-256 in its .dsc.
version_ge() { [ "$(printf '%s\n%s\n' "$2" "$1" | sort -V | head -n1)" = "$2" ]; }

# fetch_source <package> <minimum upstream version> <work dir>
# Leaves the unpacked upstream tree in <work dir>/dl/src and prints the
# Debian version it got.
fetch_source() {
  local pkg="$1" min="$2" work="$3"
  rm -rf "$work" && mkdir -p "$work/lists/partial" "$work/archives/partial"
  cat > "$work/sources.list" <<SRC
deb-src http://deb.debian.org/debian trixie main
deb-src http://deb.debian.org/debian bookworm main
SRC
  local apt_opts=(-o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts=-
                  -o Dir::State::Lists="$work/lists" -o Dir::Cache::Archives="$work/archives"
                  -o APT::Get::List-Cleanup=0)
  log "fetching the source index for $pkg"
  apt-get "${apt_opts[@]}" update -qq >&2

  # Try the listed versions newest first: the index can list a version whose
  # files the mirror does not serve.
  local versions v upstream got=""
  mapfile -t versions < <(apt-cache "${apt_opts[@]}" showsrc "$pkg" 2>/dev/null \
    | awk -v want="$pkg" '/^Package: /{p=$2} /^Version: /{if (p==want) print $2}' | sort -V -r -u)
  [ "${#versions[@]}" -gt 0 ] || { log "no $pkg source package listed"; return 1; }
  for v in "${versions[@]}"; do
    upstream=${v%-*}; upstream=${upstream#*:}
    version_ge "$upstream" "$min" || continue
    log "trying $pkg $v"
    rm -rf "$work/dl" && mkdir -p "$work/dl"
    if (cd "$work/dl" && apt-get "${apt_opts[@]}" source --download-only "$pkg=$v" >&2); then
      got="$v"; break
    fi
  done
  [ -n "$got" ] || { log "could not download any $pkg >= $min source"; return 1; }

  local dsc tarball want have
  dsc=$(cd "$work/dl" && ls ./*.dsc | head -n1)
  tarball=$(cd "$work/dl" && ls "${pkg}"_*.orig.tar.* | grep -v '\.asc$' | head -n1)
  # apt checked the .dsc against the signed index; the tarball is checked
  # against the .dsc.
  want=$(awk '/^Checksums-Sha256:/{f=1;next} /^[^ ]/{f=0} f && $3=="'"$tarball"'"{print $1}' "$work/dl/$dsc")
  have=$(sha256sum "$work/dl/$tarball" | cut -d' ' -f1)
  [ -n "$want" ] && [ "$want" = "$have" ] || { log "checksum mismatch for $tarball"; return 1; }
  log "checksum of $tarball verified"
  mkdir -p "$work/dl/src" && tar -xf "$work/dl/$tarball" -C "$work/dl/src" --strip-components=1
  echo "$got"
}

# --- OpenSSL >= 3.5: a trimmed static libcrypto --------------------------------
# The way the archives are built; a cache built another way is rebuilt.
RECIPE="neutral-paths"
cached() { [ -f "$1/.complete" ] && [ "$(sed -n 2p "$1/.complete")" = "recipe $RECIPE" ]; }
mark_complete() { printf '%s\nrecipe %s\n' "$2" "$RECIPE" > "$1/.complete"; }

openssl_prefix="$CACHE_DIR/openssl"
if cached "$openssl_prefix"; then
  log "using cached OpenSSL $(head -n 1 "$openssl_prefix/.complete") in $openssl_prefix"
else
  work="$CACHE_DIR/openssl-src"
  got=$(fetch_source openssl 3.5.0 "$work")
  cd "$work/dl/src"
  log "building static libcrypto (this takes a minute or two)"
  # libcrypto keeps its configured directories (OPENSSLDIR, MODULESDIR) as
  # strings, and the library never reads them (its own context loads no
  # configuration file and no module). They are configured as the neutral
  # /usr/local and the archive staged into the cache, so that nothing built
  # from it names this machine's cache.
  ./Configure linux-x86_64 --prefix=/usr/local --openssldir=/usr/local/ssl --libdir=lib \
    no-shared no-module no-apps no-docs no-tests no-ui-console no-engine no-legacy \
    no-comp no-ssl3 no-dtls no-srp no-psk no-cms no-ts no-ocsp no-ct no-quic \
    no-sm2 no-sm3 no-sm4 no-seed no-rc2 no-rc4 no-rc5 no-idea no-cast no-camellia \
    no-aria no-bf no-md4 no-mdc2 no-whirlpool no-rmd160 no-des no-siphash no-gost \
    no-scrypt no-ocb no-siv no-cmac no-blake2 no-async \
    enable-ec_nistp_64_gcc_128 -fPIC >&2
  make -j"$(nproc)" build_libs >&2
  rm -rf "$openssl_prefix" "$work/stage"
  make install_dev DESTDIR="$work/stage" >&2
  mkdir -p "$openssl_prefix" && cp -a "$work/stage/usr/local/." "$openssl_prefix/"
  rm -f "$openssl_prefix/lib/libssl.a"
  mark_complete "$openssl_prefix" "$got"
  cd "$CACHE_DIR" && rm -rf "$work"
  log "OpenSSL $got installed in $openssl_prefix"
fi

# --- libsodium: a static, position-independent archive ------------------------
# Beside the public headers, the prefix keeps the source tree's private
# Edwards25519 header (the ref10 group arithmetic the VRF verifier uses) and
# the configure definitions its types depend on (HAVE_TI_MODE and friends),
# so that code compiled against it agrees with the archive.
sodium_prefix="$CACHE_DIR/libsodium"
if cached "$sodium_prefix"; then
  log "using cached libsodium $(head -n 1 "$sodium_prefix/.complete") in $sodium_prefix"
else
  work="$CACHE_DIR/libsodium-src"
  got=$(fetch_source libsodium 1.0.18 "$work")
  cd "$work/dl/src"
  if [ ! -x ./configure ]; then
    log "generating libsodium's configure"
    ./autogen.sh -s >&2 2>&1 || ./autogen.sh >&2
  fi
  log "building static libsodium"
  rm -rf "$sodium_prefix"
  # No debug information: it would name this machine's source directory in
  # every binary linked with the archive.
  ./configure --prefix="$sodium_prefix" --libdir="$sodium_prefix/lib" \
    --disable-shared --enable-static --with-pic --disable-dependency-tracking CFLAGS="-O2" >&2
  make -j"$(nproc)" >&2
  make install >&2
  mkdir -p "$sodium_prefix/include/sodium/private"
  cp src/libsodium/include/sodium/private/*.h "$sodium_prefix/include/sodium/private/"
  # The definitions configure passed to the compiler, as a header included
  # before the private ones.
  # Only the feature macros (HAVE_*, NATIVE_*, CONFIGURED): they select the field
  # representation and the code paths the private headers declare.
  sed -n 's/^DEFS = //p' src/libsodium/Makefile | tr ' ' '\n' \
    | sed -n 's/^-D\(HAVE_[A-Z0-9_]*\|NATIVE_[A-Z0-9_]*\|CONFIGURED\)\(=\(.*\)\)\{0,1\}$/\1 \3/p' \
    | awk -v v="$got" 'BEGIN { print "/* Configure definitions libsodium " v " was built with. */"; print "#pragma once" }
           { val = ($2 == "" ? "1" : $2); print "#ifndef " $1; print "#define " $1 " " val; print "#endif" }' \
    > "$sodium_prefix/include/sodium/private/build_config.h"
  rm -f "$sodium_prefix"/lib/*.la
  mark_complete "$sodium_prefix" "$got"
  cd "$CACHE_DIR" && rm -rf "$work"
  log "libsodium $got installed in $sodium_prefix"
fi

echo "$sodium_prefix"
echo "$openssl_prefix"
