// The library's ECVRF-EDWARDS25519-SHA512-TAI verifier against the reference
// composed from libsodium's public API (support/vrf_reference.h), on the
// RFC 9381 vectors and on random and adversarial inputs derived from valid
// proofs: every answer, every output and every error must be the same.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <map>
#include <random>
#include <string>

#include "crypto/vrf.h"
#include "support/edwards25519_cases.h"
#include "support/testdata.h"
#include "support/vrf_reference.h"

// The full comparison runs in optimised builds; instrumented builds run a
// sample (set from tests/CMakeLists.txt).
#ifndef QUENFOLD_VRF_COMPARISON_CASES
#define QUENFOLD_VRF_COMPARISON_CASES 100000
#endif

namespace quenfold::test {
namespace {

namespace ed = ed25519;

struct Input {
  Bytes pk, alpha, pi;
};

using Rng = std::mt19937_64;

Bytes random_bytes(Rng& rng, std::size_t n) {
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

std::size_t pick(Rng& rng, std::size_t n) { return static_cast<std::size_t>(rng() % n); }

template <class C>
const auto& pick_from(Rng& rng, const C& c) {
  return c[pick(rng, c.size())];
}

// Valid proofs to mutate: the RFC 9381 vectors, honest proofs for random
// keys and inputs, and proofs whose Gamma or public key (or both) carry each
// torsion component.
std::vector<Input> valid_inputs(Rng& rng) {
  std::vector<Input> out;
  const auto doc = nlohmann::json::parse(read_file(testdata_path("ecvrf_rfc9381.json")));
  for (const auto& v : doc.at("ECVRF-EDWARDS25519-SHA512-TAI"))
    out.push_back({from_hex(v.at("PK").get<std::string>()), from_hex(v.at("alpha").get<std::string>()),
                   from_hex(v.at("pi").get<std::string>())});
  const auto& prover = ecvrf_edwards25519_prover();
  for (int i = 0; i < 32; ++i) {
    const Bytes seed = random_bytes(rng, 32);
    const Bytes alpha = random_bytes(rng, pick(rng, 3) == 0 ? 0 : pick(rng, 200));
    out.push_back({*prover.public_key_from_secret(seed), alpha, *prover.prove(seed, alpha)});
  }
  const auto& t = ed::torsion_points();
  for (std::size_t k = 1; k < 8; ++k) {
    const Bytes seed = random_bytes(rng, 32), alpha = random_bytes(rng, 16);
    for (const auto& [gamma_t, key_t] : {std::pair{t[k], t[0]}, std::pair{t[0], t[k]}, std::pair{t[k], t[8 - k]}}) {
      auto proof = ed::torsion_proof(seed, alpha, gamma_t, key_t);
      out.push_back({proof.pk, alpha, proof.pi});
    }
  }
  return out;
}

// Scalars at the edges of the canonical range and beyond it.
std::vector<ed::Scalar> edge_scalars(const ed::Scalar& s) {
  const ed::Scalar one = ed::scalar_of(1);
  ed::Scalar l_minus_1 = ed::kOrder;
  l_minus_1[0] = static_cast<std::uint8_t>(l_minus_1[0] - 1);
  ed::Scalar top{}, all{};
  top.fill(0xff);
  top[31] = 0x7f;
  all.fill(0xff);
  return {ed::scalar_of(0), one, l_minus_1, ed::kOrder, ed::add256(ed::kOrder, one), ed::add256(s, ed::kOrder),
          top, all};
}

enum class Mutation {
  None, ProofBit, KeyBit, Alpha, GammaRandom, GammaSmallOrder, GammaTorsion, GammaNonCanonical,
  GammaUndecodable, KeySmallOrder, KeyTorsion, KeyNonCanonical, KeyUndecodable, KeyRandom, SEdge,
  CEdge, Lengths, AllRandom, kCount
};

void put(Bytes& b, std::size_t offset, const ed::Point& p) {
  std::copy(p.begin(), p.end(), b.begin() + static_cast<std::ptrdiff_t>(offset));
}
ed::Point at(const Bytes& b, std::size_t offset) {
  ed::Point p{};
  std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(offset), p.size(), p.begin());
  return p;
}

Input mutate(Rng& rng, const Input& base, Mutation m) {
  Input in = base;
  const auto& t = ed::torsion_points();
  switch (m) {
    case Mutation::None: break;
    case Mutation::ProofBit: in.pi[pick(rng, in.pi.size())] ^= static_cast<std::uint8_t>(1u << pick(rng, 8)); break;
    case Mutation::KeyBit: in.pk[pick(rng, in.pk.size())] ^= static_cast<std::uint8_t>(1u << pick(rng, 8)); break;
    case Mutation::Alpha:
      if (in.alpha.empty() || pick(rng, 2) == 0) {
        in.alpha.push_back(static_cast<std::uint8_t>(rng()));
      } else {
        in.alpha.pop_back();
      }
      break;
    case Mutation::GammaRandom: put(in.pi, 0, at(random_bytes(rng, 32), 0)); break;
    case Mutation::GammaSmallOrder: put(in.pi, 0, pick_from(rng, ed::small_order_encodings())); break;
    case Mutation::GammaTorsion:
      if (auto g = ed::add(at(in.pi, 0), t[1 + pick(rng, 7)])) put(in.pi, 0, *g);
      break;
    case Mutation::GammaNonCanonical: put(in.pi, 0, pick_from(rng, ed::non_canonical_encodings())); break;
    case Mutation::GammaUndecodable: put(in.pi, 0, ed::undecodable_point()); break;
    case Mutation::KeySmallOrder: put(in.pk, 0, pick_from(rng, ed::small_order_encodings())); break;
    case Mutation::KeyTorsion:
      if (auto y = ed::add(at(in.pk, 0), t[1 + pick(rng, 7)])) put(in.pk, 0, *y);
      break;
    case Mutation::KeyNonCanonical: put(in.pk, 0, pick_from(rng, ed::non_canonical_encodings())); break;
    case Mutation::KeyUndecodable: put(in.pk, 0, ed::undecodable_point()); break;
    case Mutation::KeyRandom: in.pk = random_bytes(rng, 32); break;
    case Mutation::SEdge: put(in.pi, 48, pick_from(rng, edge_scalars(at(in.pi, 48)))); break;
    case Mutation::CEdge: {
      // 0, all ones, and the same residue mod 8 with other high bits.
      const std::size_t which = pick(rng, 3);
      for (std::size_t i = 32; i < 48; ++i) {
        if (which == 0) in.pi[i] = 0;
        if (which == 1) in.pi[i] = 0xff;
        if (which == 2 && i > 32) in.pi[i] = static_cast<std::uint8_t>(rng());
      }
      break;
    }
    case Mutation::Lengths:
      if (pick(rng, 2) == 0) {
        in.pk.resize(pick(rng, 2) == 0 ? 31 : 33, 0);
      } else {
        in.pi.resize(pick(rng, 2) == 0 ? 79 : 81, 0);
      }
      break;
    case Mutation::AllRandom:
      in.pk = random_bytes(rng, 32);
      in.pi = random_bytes(rng, 80);
      break;
    case Mutation::kCount: break;
  }
  return in;
}

std::string describe(const std::expected<crypto::VrfVerdict, crypto::CryptoError>& r) {
  if (!r) return "error: " + r.error().message();
  if (!r->valid) return "not valid";
  return "valid " + to_hex(r->output);
}
std::string describe(const std::expected<crypto::Bytes64, crypto::CryptoError>& r) {
  if (!r) return "error: " + r.error().message();
  return to_hex(*r);
}

TEST(EcvrfEdwards25519Comparison, AgreesWithTheReferenceOnRandomAndAdversarialInputs) {
  Rng rng(20260918);
  const auto valid = valid_inputs(rng);
  const auto& library = crypto::ecvrf_edwards25519();
  const auto& reference = reference_ecvrf_edwards25519();

  constexpr std::size_t kCases = QUENFOLD_VRF_COMPARISON_CASES;
  constexpr auto kinds = static_cast<std::size_t>(Mutation::kCount);
  std::map<std::string, std::size_t> outcomes;
  std::size_t disagreements = 0;
  // Every valid input as it is first, then random mutations of random ones.
  for (std::size_t i = 0; i < kCases; ++i) {
    const auto m = i < valid.size() ? Mutation::None : static_cast<Mutation>(pick(rng, kinds));
    const Input in = mutate(rng, i < valid.size() ? valid[i] : pick_from(rng, valid), m);
    const auto answer = reference.verify(in.pk, in.alpha, in.pi);
    const auto want = describe(answer);
    const auto got = describe(library.verify(in.pk, in.alpha, in.pi));
    const auto want_hash = describe(reference.proof_to_hash(in.pi));
    const auto got_hash = describe(library.proof_to_hash(in.pi));
    if (want != got || want_hash != got_hash) {
      if (++disagreements <= 10)
        ADD_FAILURE() << "case " << i << " mutation " << static_cast<int>(m) << "\n pk " << to_hex(in.pk)
                      << "\n alpha " << to_hex(in.alpha) << "\n pi " << to_hex(in.pi) << "\n reference: " << want
                      << " / " << want_hash << "\n library:   " << got << " / " << got_hash;
    }
    ++outcomes[!answer ? "error" : answer->valid ? "valid" : "not valid"];
  }
  EXPECT_EQ(disagreements, 0u);
  // The inputs reach every kind of answer, so the agreement means something.
  EXPECT_GE(outcomes["valid"], valid.size());
  EXPECT_GT(outcomes["not valid"], kCases / 2);
  EXPECT_GT(outcomes["error"], 0u);
}

}  // namespace
}  // namespace quenfold::test
