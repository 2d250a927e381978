// vkey-rfc6962: the verifier key of an RFC 6962 log, written from the public
// key a CT log list publishes for it.
//
// A static-ct-api log signs its checkpoints with its RFC 6962 key (type
// 0x05), named after the log's origin, with the key id
// SHA-256(origin || 0x0A || 0x05 || log ID)[:4] where the log ID is
// SHA-256 of the SubjectPublicKeyInfo DER. Log lists give the DER as base64
// ("key") beside the log ID, so the verifier key can be written from the
// list alone, and the printed log ID checked against the list's.
#include <cstdint>
#include <string>
#include <string_view>

#include "cli.h"
#include "crypto/hash.h"
#include "encoding/base64.h"
#include "encoding/text.h"
#include "note/verifier_key.h"
#include "quenfold/verifier.h"

namespace quenfold::cli {
namespace {

// The reason of a MalformedVerifierKey error (its last field), without the
// key's position and name, which the option already names.
class ReasonOf final : public FieldSink {
 public:
  void u32(std::uint32_t) override {}
  void u64(std::uint64_t) override {}
  void text(std::string_view s) override { reason.assign(s); }
  std::string reason;
};

std::string_view trimmed(std::string_view s) {
  constexpr std::string_view kSpace = " \t\r\n";
  const auto begin = s.find_first_not_of(kSpace);
  if (begin == std::string_view::npos) return {};
  return s.substr(begin, s.find_last_not_of(kSpace) - begin + 1);
}

// Nothing here is a verdict on a log's artefact: a bad origin or public key
// is the caller's mistake (exit status 2), named by its option.
Outcome vkey_rfc6962(const Options& o) {
  const std::string& origin = o.raw("origin");
  if (!note::is_valid_key_name(origin))
    throw UsageError("--origin: " + encoding::quoted(origin) + " is not a valid key name");
  const std::string given = o.text("spki");
  const std::string_view spki_base64 = trimmed(given);
  const auto vkey = rfc6962_verifier_key(origin, spki_base64);
  if (!vkey) {
    ReasonOf r;
    vkey.error().write_fields(r);
    throw UsageError("--spki: " + r.reason);
  }
  const auto spki = encoding::base64_decode(spki_base64);  // decoded above: cannot fail here
  const auto log_id = crypto::sha256({ByteView(*spki)});
  const std::uint32_t key_id = note::rfc6962_key_id(origin, *spki);
  return verified(Fields()
                      .text("vkey", *vkey)
                      .text("name", origin)
                      .text("key_id", encoding::hex_fixed(key_id, 8))
                      // base64, as log lists write it, so that the two compare as text
                      .text("log_id", encoding::base64_encode(log_id)));
}

}  // namespace

void register_vkey(Registry& r) {
  r.add("vkey-rfc6962",
        "Writes the verifier key (type 0x05) of an RFC 6962 log whose checkpoints carry --origin, from its "
        "ECDSA P-256 public key as a CT log list publishes it (base64 of the SubjectPublicKeyInfo DER); "
        "prints the key, its name, its key id SHA-256(origin || 0x0A || 0x05 || log ID)[:4] and the log ID "
        "SHA-256(DER) in base64, which must be the list's \"log_id\". A key that is not base64 or not an ECDSA P-256 "
        "SubjectPublicKeyInfo is bad usage.",
        "quenfold-verify vkey-rfc6962 --origin ct.example.org/2026h1 --spki @examples/rfc6962/log-key.b64",
        vkey_rfc6962)
      .required("origin", "ORIGIN",
                "The log's checkpoint origin (C2SP static-ct-api: its submission prefix as a URL without "
                "scheme or trailing slash)")
      .required("spki", "BASE64|@FILE",
                "The log's public key: base64 of its SubjectPublicKeyInfo DER (a log list's \"key\"); "
                "surrounding white space is ignored");
}

}  // namespace quenfold::cli
