// Signature and public-key tokens through crypto::verify_token, both token
// strings fuzzed. With the low bit of the first byte set, the two token
// fields are the decoded token bytes and the target base64-encodes them, so
// that mutations land in the version tag, the component lengths and the
// component signatures instead of in the base64 alphabet. Seeds are valid
// token pairs of all six versions from the test signers.
#include "crypto/base64.h"
#include "crypto/sign.h"
#include "fuzz_input.h"

using quenfold::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const bool decoded = (in.u8() & 1) != 0;
  const auto message = in.field();
  const auto context = in.field();
  const auto sig = in.field();
  const auto key = in.field();
  std::string sig_text, key_text;
  if (decoded) {
    sig_text = quenfold::crypto::base64::encode(sig);
    key_text = quenfold::crypto::base64::encode(key);
  } else {
    sig_text.assign(sig.begin(), sig.end());
    key_text.assign(key.begin(), key.end());
  }
  const auto r = quenfold::crypto::verify_token(message, context, sig_text, key_text);
  if (decoded && r.has_value()) {
    // The raw-bytes path must give the same answer for the bytes the tokens
    // decode to.
    if (quenfold::crypto::verify_token_bytes(message, context, sig, key) != *r) __builtin_trap();
  }
  return 0;
}
