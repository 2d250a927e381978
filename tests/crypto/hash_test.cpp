// The digests: known answers from FIPS 180-4 and FIPS 202 (the "abc" and
// two-block examples), piece boundaries that must not matter, and a
// streaming context that must give the one-shot answer after every reuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "crypto/hash.h"
#include "support/testdata.h"

namespace quenfold::crypto {
namespace {

ByteView view(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

constexpr std::string_view kTwoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

TEST(Digest, KnownAnswers) {
  struct Case {
    std::string_view message, sha256, sha512, sha3_512;
  };
  const Case cases[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643"
       "ce80e2a9ac94fa54ca49f",
       "b751850b1a57168a5693cd924b6b096e08f621827444f70d884f5d0240d2712e10e116e9192af3c91a7ec57647e3934057340b4cf40"
       "8d5a56592f8274eec53f0"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd474"
       "17a81a538327af927da3e",
       "a69f73cca23a9ac5c8b567dc185a756e97c982164fe25859e0d1dcc1475c80a615b2123af1f5f94c11e3e9402c3ac558f500199d95b"
       "6d3e301758586281dcd26"},
      {kTwoBlocks, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
       "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c33596fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71"
       "dd70354ec631238ca3445",
       "04a371e84ecfb5b8b77cb48610fca8182dd457ce6f326a0fd3d7ec2f1e91636dee691fbe0c985302ba1b0d8dc78c086346b533b49c0"
       "30d99a27daf1139d6e75e"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(test::to_hex(sha256({view(c.message)})), c.sha256) << c.message;
    EXPECT_EQ(test::to_hex(sha512({view(c.message)})), c.sha512) << c.message;
    EXPECT_EQ(test::to_hex(sha3_512({view(c.message)})), c.sha3_512) << c.message;
  }
}

TEST(Digest, PieceBoundariesDoNotMatter) {
  const ByteView whole = view(kTwoBlocks);
  for (std::size_t a = 0; a <= whole.size(); ++a) {
    for (std::size_t b = a; b <= whole.size(); b += 7) {
      const ByteView p1 = whole.first(a), p2 = whole.subspan(a, b - a), p3 = whole.subspan(b);
      ASSERT_EQ(sha256({p1, p2, p3}), sha256({whole})) << a << "," << b;
      ASSERT_EQ(sha512({p1, p2, p3}), sha512({whole})) << a << "," << b;
      ASSERT_EQ(sha3_512({p1, p2, p3}), sha3_512({whole})) << a << "," << b;
    }
  }
}

TEST(Digest, StreamingContextMatchesOneShotAcrossReuse) {
  Hasher s512(Hasher::Algorithm::Sha512), s3(Hasher::Algorithm::Sha3_512);
  // Inputs of growing length, crossing both block sizes (128 and 72 bytes).
  std::vector<std::uint8_t> input;
  for (int round = 0; round < 300; ++round) {
    input.push_back(static_cast<std::uint8_t>(round * 31));
    const ByteView in(input);
    ASSERT_EQ(s512.update(in.first(in.size() / 2)).update(in.subspan(in.size() / 2)).finish(), sha512({in}))
        << round;
    ASSERT_EQ(s3.update(in).finish(), sha3_512({in})) << round;
  }
  EXPECT_EQ(test::to_hex(s3.update(view("abc")).finish()).substr(0, 16), "b751850b1a57168a");
}

// A prefix absorbed once serves any number of messages: each continues from
// a copy of its state, and the prefix's own state is left as it was.
TEST(Digest, ContinuingFromACopiedPrefixState) {
  std::vector<std::uint8_t> bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const ByteView all(bytes);
  for (const auto algorithm : {Hasher::Algorithm::Sha512, Hasher::Algorithm::Sha3_512}) {
    const auto one_shot = [&](ByteView a, ByteView b) {
      return algorithm == Hasher::Algorithm::Sha512 ? sha512({a, b}) : sha3_512({a, b});
    };
    // Prefixes below, at and across both block sizes (72 and 128 bytes).
    for (const std::size_t p : {0uz, 1uz, 71uz, 72uz, 73uz, 128uz, 129uz, 200uz}) {
      Hasher prefix(algorithm), worker(algorithm);
      prefix.update(all.first(p));
      for (const std::size_t m : {0uz, 5uz, 64uz, 100uz}) {
        const ByteView suffix = all.subspan(p, std::min<std::size_t>(m, all.size() - p));
        ASSERT_EQ(worker.copy_state_from(prefix).update(suffix).finish(), one_shot(all.first(p), suffix))
            << p << "+" << m;
      }
      EXPECT_EQ(prefix.finish(), one_shot(all.first(p), {})) << p;
    }
  }
}

}  // namespace
}  // namespace quenfold::crypto
