// The private ref10 header agrees with the libsodium archive it came with:
// points decoded and multiplied through it give the public API's answers.
// A header compiled with other configure definitions (the field
// representation) would give different bytes or crash here.
#include <gtest/gtest.h>

#include <sodium.h>

#include <array>
#include <cstdint>

#include "crypto/sodium_ref10.h"

namespace {

using Bytes32 = std::array<unsigned char, 32>;

TEST(SodiumRef10, AgreesWithThePublicApi) {
  ASSERT_GE(sodium_init(), 0);
  for (int i = 0; i < 64; ++i) {
    Bytes32 k{}, public_point{}, ref10_point{}, round_trip{};
    crypto_core_ed25519_scalar_random(k.data());
    ASSERT_EQ(crypto_scalarmult_ed25519_base_noclamp(public_point.data(), k.data()), 0);

    ge25519_p3 p;
    ge25519_scalarmult_base(&p, k.data());
    ge25519_p3_tobytes(ref10_point.data(), &p);
    EXPECT_EQ(ref10_point, public_point) << "k*B, case " << i;

    ge25519_p3 decoded;
    ASSERT_EQ(ge25519_frombytes(&decoded, public_point.data()), 0);
    ge25519_p3_tobytes(round_trip.data(), &decoded);
    EXPECT_EQ(round_trip, public_point) << "decode/encode, case " << i;

    // P + P through the cached-addition path against the public sum.
    Bytes32 sum{}, ref10_sum{};
    ASSERT_EQ(crypto_core_ed25519_add(sum.data(), public_point.data(), public_point.data()), 0);
    ge25519_cached c;
    ge25519_p1p1 r;
    ge25519_p3 s;
    ge25519_p3_to_cached(&c, &decoded);
    ge25519_add(&r, &decoded, &c);
    ge25519_p1p1_to_p3(&s, &r);
    ge25519_p3_tobytes(ref10_sum.data(), &s);
    EXPECT_EQ(ref10_sum, sum) << "P+P, case " << i;
  }
}

}  // namespace
