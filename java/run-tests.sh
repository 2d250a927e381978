#!/usr/bin/env bash
# Runs the JVM binding's JUnit 5 tests from the built jar: quenfold_log.jar and
# the test classes are copied into a temporary directory outside the checkout
# and the build tree, and run there with no QUENFOLD_LOG_LIBRARY nor
# QUENFOLD_LOG_EXT_LIBRARY, so that only the libraries the jar carries can be
# loaded. The checkout is named only for the examples, the README and the
# generator (QUENFOLD_SOURCE_ROOT).
#
#   java/run-tests.sh <quenfold_log.jar> <quenfold_log-tests.jar> <jna.jar> \
#       <junit-platform-console-standalone.jar> <checkout>
set -euo pipefail
jar="$1" tests="$2" jna="$3" console="$4" root="$(cd "$5" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
cp "$jar" "$tmp/quenfold_log.jar"
cp "$tests" "$tmp/quenfold_log-tests.jar"
cd "$tmp"
# JNA extracts the bundled libraries into its own directory, removed with the rest.
env -u QUENFOLD_LOG_LIBRARY -u QUENFOLD_LOG_EXT_LIBRARY QUENFOLD_SOURCE_ROOT="$root" QUENFOLD_EXPECT_BUNDLED=1 \
  java -Djna.tmpdir="$tmp/jna" -jar "$console" --disable-banner --disable-ansi-colors --details=tree \
    --fail-if-no-tests --class-path "quenfold_log.jar:quenfold_log-tests.jar:$jna" \
    --scan-class-path "$tmp/quenfold_log-tests.jar"
