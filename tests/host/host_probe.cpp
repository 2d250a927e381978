// A host process that uses the system's own OpenSSL and libsodium, as a
// messenger or a Python interpreter would, and loads libquenfold_log.so with
// dlopen. It runs a fixed set of verifications over the bundled examples
// (every primitive family: ML-DSA and Ed25519 signatures, SHA-256, SHA3-512,
// both VRFs) and prints one line per call: the operation, the status code
// and the returned bytes in hex. The test driver compares these lines
// across host configurations; any difference, abort or crash is a failure.
//
//   host_probe <libquenfold_log.so> <examples dir> <mode>
//   mode: plain        load and call, never touch the host's libraries
//         host-first   initialise the host's OpenSSL (reading its
//                      configuration) and libsodium, then load and call
//         library-first load and call, then initialise the host's libraries
//                      and call again
//
// It exits 0 when every call returned the status it should (verified for
// the honest artefacts, rejected for the tampered ones), 1 otherwise.
#include <dlfcn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sodium.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "quenfold_log.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

Bytes read_hex(const std::string& path) {
  Bytes out;
  int high = -1;
  for (char c : read_text(path)) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
    if (v < 0 || v > 15) throw std::runtime_error("not hex: " + path);
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

std::string trimmed(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

void put_u32(Bytes& out, std::size_t n) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(n >> shift));
}
// The serialized forms: a byte string is a 4-byte count and the bytes; a
// list of strings a 4-byte count and each string as a byte string.
Bytes ser_bytes(const Bytes& b) {
  Bytes out;
  put_u32(out, b.size());
  out.insert(out.end(), b.begin(), b.end());
  return out;
}
Bytes raw(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes ser_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!trimmed(line).empty()) lines.push_back(trimmed(line));
  Bytes out;
  put_u32(out, lines.size());
  for (const auto& l : lines) {
    const Bytes s = ser_bytes(raw(l));
    out.insert(out.end(), s.begin(), s.end());
  }
  return out;
}

struct Library {
  void* handle = nullptr;
  template <class F>
  F fn(const char* name) const {
    void* p = dlsym(handle, name);
    if (p == nullptr) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<F>(p);
  }
  RustBuffer from(const Bytes& b) const {
    auto from_bytes = fn<RustBuffer (*)(ForeignBytes, RustCallStatus*)>("ffi_quenfold_log_rustbuffer_from_bytes");
    RustCallStatus st{};
    static const std::uint8_t kEmpty = 0;
    RustBuffer out = from_bytes(ForeignBytes{static_cast<int32_t>(b.size()), b.empty() ? &kEmpty : b.data()}, &st);
    if (st.code != 0) throw std::runtime_error("rustbuffer_from_bytes failed");
    return out;
  }
  void free(RustBuffer b) const {
    auto f = fn<void (*)(RustBuffer, RustCallStatus*)>("ffi_quenfold_log_rustbuffer_free");
    RustCallStatus st{};
    f(b, &st);
  }
};

std::string hex(const RustBuffer& b) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (std::uint64_t i = 0; i < b.len; ++i) {
    s += digits[b.data[i] >> 4];
    s += digits[b.data[i] & 15];
  }
  return s;
}

bool all_expected = true;

// Prints "<name> <code> <hex of result or error buffer>"; returns the code.
void report(const Library& lib, const char* name, int want, RustCallStatus st, RustBuffer result) {
  RustBuffer shown = st.code == 0 ? result : st.error_buf;
  std::printf("%s %d %s\n", name, static_cast<int>(st.code), hex(shown).c_str());
  if (st.code != want) {
    all_expected = false;
    std::fprintf(stderr, "%s: status %d, wanted %d: %.*s\n", name, static_cast<int>(st.code), want,
                 static_cast<int>(st.error_buf.len), reinterpret_cast<const char*>(st.error_buf.data));
  }
  if (result.data != nullptr) lib.free(result);
  if (st.error_buf.data != nullptr) lib.free(st.error_buf);
}

void run_calls(const Library& lib, const std::string& ex) {
  using Buf2 = RustBuffer (*)(RustBuffer, RustBuffer, RustCallStatus*);
  using Void4 = void (*)(RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);
  using Buf5 = RustBuffer (*)(RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);
  using Suite5 = RustBuffer (*)(uint16_t, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);
  using Hash6 = RustBuffer (*)(uint64_t, uint64_t, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);

  const std::string keys = read_text(ex + "/log/keys.txt");
  for (const char* note : {"checkpoint-7.note", "checkpoint-7-tampered.note"}) {
    RustCallStatus st{};
    auto f = lib.fn<Buf2>("uniffi_quenfold_log_fn_func_checkpoint_verify");
    RustBuffer r = f(lib.from(raw(read_text(ex + "/log/" + note))), lib.from(ser_lines(keys)), &st);
    report(lib, note, std::strstr(note, "tampered") ? 1 : 0, st, r);
  }
  {
    const std::string kh = ex + "/key_history/";
    for (const char* value : {"value", "mallory"}) {
      RustCallStatus st{};
      auto f = lib.fn<Void4>("uniffi_quenfold_log_fn_func_verify_commitment");
      const Bytes v = std::strcmp(value, "value") == 0 ? raw(trimmed(read_text(kh + "value.txt"))) : raw(value);
      f(lib.from(raw("example.org/profile/v1")), lib.from(ser_bytes(read_hex(kh + "commitment.hex"))),
        lib.from(ser_bytes(v)), lib.from(ser_bytes(read_hex(kh + "opening.hex"))), &st);
      report(lib, "verify_commitment", std::strcmp(value, "value") == 0 ? 0 : 1, st, RustBuffer{0, 0, nullptr});
    }
    RustCallStatus st{};
    auto f = lib.fn<Hash6>("uniffi_quenfold_log_fn_func_key_history_v1_entry_hash");
    const Bytes none{0};  // an absent optional
    RustBuffer r = f(7, 1700000000000, lib.from(ser_bytes(Bytes(32, 0x11))), lib.from(ser_bytes(Bytes(1184, 0x22))),
                     lib.from(ser_bytes(Bytes(32, 0x33))), lib.from(none), &st);
    report(lib, "key_history_v1_entry_hash", 0, st, r);
  }
  {
    const std::string d = ex + "/coniks/";
    for (const char* proof : {"alice.lookup.proof", "alice.tampered.proof"}) {
      RustCallStatus st{};
      auto f = lib.fn<Buf5>("uniffi_quenfold_log_fn_func_coniks_verify_lookup");
      RustBuffer r = f(lib.from(raw("example.org")), lib.from(ser_bytes(read_hex(d + "vrf-public.hex"))),
                       lib.from(ser_bytes(read_hex(d + "root.hex"))), lib.from(ser_bytes(raw("alice@example.org"))),
                       lib.from(ser_bytes(read_hex(d + proof))), &st);
      report(lib, proof, std::strstr(proof, "tampered") ? 1 : 0, st, r);
    }
  }
  for (const auto& [name, suite] : {std::pair{"p256", 0x0001}, std::pair{"ed25519", 0x0002}}) {
    const std::string d = ex + "/keytrans/" + name + "/";
    RustCallStatus st{};
    auto f = lib.fn<Suite5>("uniffi_quenfold_log_fn_func_keytrans_verify_search_suite");
    RustBuffer r = f(static_cast<uint16_t>(suite), lib.from(raw(trimmed(read_text(d + "context.txt")))),
                     lib.from(ser_bytes(read_hex(d + "vrf-public.hex"))), lib.from(ser_bytes(read_hex(d + "root.hex"))),
                     lib.from(ser_bytes(raw("alice@example.org"))), lib.from(ser_bytes(read_hex(d + "search-alice.proof"))), &st);
    report(lib, name, 0, st, r);
  }
}

// What a host application does with its own libraries: load the default
// configuration (OPENSSL_CONF or the system-wide file), fetch and use an
// algorithm, initialise libsodium and sign with it.
void use_host_libraries() {
  OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_MD* sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  if (sha256 != nullptr) EVP_Digest("abc", 3, md, &len, sha256, nullptr);
  EVP_MD_free(sha256);
  if (sodium_init() < 0) throw std::runtime_error("host libsodium failed to initialise");
  unsigned char pk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES], sig[crypto_sign_BYTES];
  crypto_sign_keypair(pk, sk);
  crypto_sign_detached(sig, nullptr, md, len, sk);
  if (crypto_sign_verify_detached(sig, md, len, pk) != 0) throw std::runtime_error("host libsodium misbehaves");
  std::fprintf(stderr, "host: OpenSSL %s, libsodium %s\n", OpenSSL_version(OPENSSL_VERSION),
               sodium_version_string());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: host_probe <library> <examples dir> plain|host-first|library-first\n");
    return 2;
  }
  const std::string mode = argv[3];
  try {
    if (mode == "host-first") use_host_libraries();
    Library lib{dlopen(argv[1], RTLD_NOW | RTLD_LOCAL)};
    if (lib.handle == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    run_calls(lib, argv[2]);
    if (mode == "library-first") {
      use_host_libraries();
      run_calls(lib, argv[2]);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "host_probe: %s\n", e.what());
    return 2;
  }
  return all_expected ? 0 : 1;
}
