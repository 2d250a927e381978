// Hostile argument sizes through the built shared library: an argument of
// a megabyte or more is echoed capped, and the message is lowered into a
// buffer that holds exactly the serialized VerifyError.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/boundary.h"
#include "support/notes.h"

namespace quenfold::test {
namespace {

using VerifyNoteFn = uint32_t(RustBuffer, RustBuffer, RustCallStatus*);
using CheckpointParseFn = RustBuffer(RustBuffer, RustCallStatus*);

// Hostile texts are echoed capped: a megabyte-long argument gives a message
// of a few hundred bytes, lowered into a buffer that holds exactly the
// serialized VerifyError (no slack, length field equal to the message).
TEST(HostileArguments, TextsAreEchoedCapped) {
  const Library& lib = Library::instance();
  constexpr std::size_t kBig = 1 << 20;
  auto repeat = [](std::string_view unit, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += unit;
    return out;
  };
  const NoteSigner ed = NoteSigner::ed25519("log.example/boundary", 41);
  const std::string body = checkpoint_body("log.example/boundary", 1, Bytes(32, 1));
  auto text = [&](std::string_view t) { return lib.buffer(t); };
  auto key_list = [&](const std::vector<std::string>& k) { return lib.buffer(Ser().string_list(k).out); };
  const NoteSigner long_name = NoteSigner::ed25519(std::string(300, 'n'), 43);
  const std::string forged = body + "\n" + signature_line(long_name.name(), long_name.key_id(), Bytes(64, 7));
  struct Case {
    const char* what;
    std::function<void(RustCallStatus*)> call;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"size line of 0xff bytes",
       [&](RustCallStatus* st) {
         lib.take(lib.fn<CheckpointParseFn>("uniffi_quenfold_log_fn_func_checkpoint_parse")(
             text("o\n" + std::string(kBig, '\xff') + "\n" + base64_of(Bytes(32, 0)) + "\n"), st));
       },
       "malformed checkpoint: tree size is not decimal: \"" + repeat("\\x{ff}", 42) + "\"... (" +
           std::to_string(kBig - 42) + " more bytes)"},
      {"verifier key of 0x01 bytes",
       [&](RustCallStatus* st) {
         lib.fn<VerifyNoteFn>("uniffi_quenfold_log_fn_func_verify_signed_note")(
             text(body + "\n" + ed.signature_line(body)), key_list({std::string(kBig, '\x01')}), st);
       },
       "malformed signed note: malformed verifier key: \"" + repeat("\\u{1}", 51) + "\"... (" +
           std::to_string(kBig - 51) + " more bytes)"},
      {"signature line without its prefix",
       [&](RustCallStatus* st) {
         lib.fn<VerifyNoteFn>("uniffi_quenfold_log_fn_func_verify_signed_note")(
             text(body + "\n" + std::string(kBig, '"') + "\n"), key_list({ed.verifier_key()}), st);
       },
       "malformed signed note: signature line missing '\xE2\x80\x94 ' prefix: \"" + repeat("\\\"", 128) +
           "\"... (" + std::to_string(kBig - 128) + " more bytes)"},
      {"long trusted key name",
       [&](RustCallStatus* st) {
         lib.fn<VerifyNoteFn>("uniffi_quenfold_log_fn_func_verify_signed_note")(
             text(forged), key_list({long_name.verifier_key()}), st);
       },
       "invalid signature for known key \"" + std::string(256, 'n') + "\"... (44 more bytes) (key id " +
           [&] {
             char id[9];
             std::snprintf(id, sizeof id, "%08x", long_name.key_id());
             return std::string(id);
           }() +
           ")"},
  };
  for (const auto& c : cases) {
    RustCallStatus st{};
    c.call(&st);
    ASSERT_EQ(st.code, 1) << c.what;
    const RustBuffer e = st.error_buf;
    EXPECT_EQ(e.capacity, e.len) << c.what;
    const Bytes raw = lib.take(e);
    ASSERT_EQ(raw.size(), 8 + c.want.size()) << c.what;
    const std::size_t n = c.want.size();
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 8),
              (Bytes{0, 0, 0, 1, static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                     static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)}))
        << c.what;
    EXPECT_EQ(std::string(raw.begin() + 8, raw.end()), c.want) << c.what;
  }
}

}  // namespace
}  // namespace quenfold::test
