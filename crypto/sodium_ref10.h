// libsodium's Edwards25519 group arithmetic (the ref10 point representation
// and its operations: decoding, encoding, addition, doubling, double-scalar
// multiplication). It is private to libsodium, so it comes from the same
// source tree as the static archive this library links, with the configure
// definitions that archive was built with: HAVE_TI_MODE selects the field
// representation, and a mismatch would silently change the point layout.
// Only code under crypto/ includes this header.
#pragma once

#include <sodium/private/build_config.h>

extern "C" {
#include <sodium/private/ed25519_ref10.h>
}
