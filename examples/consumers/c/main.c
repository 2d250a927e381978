/*
 * A C program using libquenfold_log through its C ABI, as any foreign caller
 * does: arguments are serialized into RustBuffers obtained from the library,
 * every call gets a zeroed RustCallStatus, and every buffer the library
 * returns is released with ffi_quenfold_log_rustbuffer_free.
 *
 * Usage: c_consumer <examples directory>
 * Verifies the bundled example artefacts and a tampered copy of each, and
 * exits 0 only when every verdict is the expected one.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quenfold_log.h"

static int failures = 0;

/* ---- reading the example files ------------------------------------------ */

static char* read_file(const char* dir, const char* name, size_t* len_out) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", dir, name);
  FILE* f = fopen(path, "rb");
  if (f == NULL) {
    fprintf(stderr, "cannot open %s\n", path);
    exit(2);
  }
  size_t cap = 4096, len = 0;
  char* data = malloc(cap + 1);
  size_t n;
  while (data != NULL && (n = fread(data + len, 1, cap - len, f)) > 0) {
    len += n;
    if (len == cap) {
      cap *= 2;
      data = realloc(data, cap + 1);
    }
  }
  fclose(f);
  if (data == NULL) exit(2);
  data[len] = '\0';
  if (len_out != NULL) *len_out = len;
  return data;
}

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* Decodes the first `count` whitespace-separated hex items of `text`. */
typedef struct {
  uint8_t bytes[16][64];
  size_t lens[16];
  size_t count;
} HexItems;

static void parse_hex_items(const char* text, HexItems* out) {
  memset(out, 0, sizeof *out);
  const char* p = text;
  while (*p != '\0' && out->count < 16) {
    while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t' || *p == ',') ++p;
    if (*p == '\0') break;
    size_t n = 0;
    while (hex_value(p[0]) >= 0 && hex_value(p[1]) >= 0 && n < 64) {
      out->bytes[out->count][n++] = (uint8_t)(hex_value(p[0]) << 4 | hex_value(p[1]));
      p += 2;
    }
    out->lens[out->count++] = n;
    while (*p != '\0' && *p != ' ' && *p != '\n' && *p != ',') ++p;
  }
}

/* ---- serializing arguments (big-endian, signed 32-bit counts) ----------- */

typedef struct {
  uint8_t data[16384];
  size_t len;
} Writer;

static void put_u32(Writer* w, uint32_t v) {
  if (w->len + 4 > sizeof w->data) exit(2);
  for (int shift = 24; shift >= 0; shift -= 8) w->data[w->len++] = (uint8_t)(v >> shift);
}
static void put_bytes(Writer* w, const uint8_t* b, size_t n) {
  put_u32(w, (uint32_t)n);
  if (w->len + n > sizeof w->data) exit(2);
  memcpy(w->data + w->len, b, n);
  w->len += n;
}

/* A library-owned buffer holding a copy of the writer's bytes. */
static RustBuffer to_buffer(const uint8_t* data, size_t len) {
  RustCallStatus status = {0};
  ForeignBytes fb = {(int32_t)len, data};
  RustBuffer buf = ffi_quenfold_log_rustbuffer_from_bytes(fb, &status);
  if (status.code != 0) {
    fprintf(stderr, "rustbuffer_from_bytes failed\n");
    exit(2);
  }
  return buf;
}
static RustBuffer serialized(const Writer* w) { return to_buffer(w->data, w->len); }
static RustBuffer bytes_arg(const uint8_t* b, size_t n) {
  Writer w = {.len = 0};
  put_bytes(&w, b, n);
  return serialized(&w);
}
static RustBuffer bytes_list_arg(const HexItems* items) {
  Writer w = {.len = 0};
  put_u32(&w, (uint32_t)items->count);
  for (size_t i = 0; i < items->count; ++i) put_bytes(&w, items->bytes[i], items->lens[i]);
  return serialized(&w);
}
static RustBuffer optional_bytes_arg(const uint8_t* b, size_t n, int present) {
  Writer w = {.len = 0};
  w.data[w.len++] = present ? 1 : 0;
  if (present) put_bytes(&w, b, n);
  return serialized(&w);
}
static RustBuffer string_arg(const char* s) { return to_buffer((const uint8_t*)s, strlen(s)); }

/* ---- verdicts -------------------------------------------------------------- */

/* Prints the verdict of a call and checks it against the expected one
 * (1: verified, 0: rejected). Releases the error buffer. */
static void verdict(const char* what, RustCallStatus* status, int expect_verified) {
  int verified = status->code == 0;
  if (status->code == 1) {
    /* VerifyError: i32 variant (1 = Verification), i32 length, message. */
    const uint8_t* d = status->error_buf.data;
    uint32_t n = (uint32_t)d[4] << 24 | (uint32_t)d[5] << 16 | (uint32_t)d[6] << 8 | d[7];
    printf("%s: rejected: %.*s\n", what, (int)n, (const char*)d + 8);
  } else if (status->code == 2) {
    printf("%s: internal failure: %.*s\n", what, (int)status->error_buf.len,
           (const char*)status->error_buf.data);
  } else {
    printf("%s: verified\n", what);
  }
  if (status->code != 0) ffi_quenfold_log_rustbuffer_free(status->error_buf, &(RustCallStatus){0});
  if (verified != expect_verified || status->code == 2) {
    printf("  unexpected verdict\n");
    ++failures;
  }
}

static void merkle_examples(const char* dir) {
  HexItems leaf, root3, root7, inclusion, consistency;
  char* t;
  parse_hex_items(t = read_file(dir, "merkle/leaf4.hash", NULL), &leaf), free(t);
  parse_hex_items(t = read_file(dir, "merkle/root3.hash", NULL), &root3), free(t);
  parse_hex_items(t = read_file(dir, "merkle/root7.hash", NULL), &root7), free(t);
  parse_hex_items(t = read_file(dir, "merkle/inclusion-4-of-7.proof", NULL), &inclusion), free(t);
  parse_hex_items(t = read_file(dir, "merkle/consistency-3-to-7.proof", NULL), &consistency), free(t);

  for (uint64_t index = 4; index <= 5; ++index) {
    RustCallStatus status = {0};
    uniffi_quenfold_log_fn_func_verify_inclusion(
        index, 7, bytes_arg(leaf.bytes[0], leaf.lens[0]), bytes_list_arg(&inclusion),
        bytes_arg(root7.bytes[0], root7.lens[0]), &status);
    verdict(index == 4 ? "inclusion of leaf 4 in the size-7 tree"
                       : "the same proof claimed for leaf 5",
            &status, index == 4);
  }
  RustCallStatus status = {0};
  uniffi_quenfold_log_fn_func_verify_consistency(3, 7, bytes_list_arg(&consistency),
                                                 bytes_arg(root3.bytes[0], root3.lens[0]),
                                                 bytes_arg(root7.bytes[0], root7.lens[0]), &status);
  verdict("consistency from size 3 to size 7", &status, 1);
  RustCallStatus swapped = {0};
  uniffi_quenfold_log_fn_func_verify_consistency(3, 7, bytes_list_arg(&consistency),
                                                 bytes_arg(root7.bytes[0], root7.lens[0]),
                                                 bytes_arg(root3.bytes[0], root3.lens[0]), &swapped);
  verdict("the same consistency proof with the roots swapped", &swapped, 0);
}

/* One key-history entry file: "name value" lines. */
typedef struct {
  uint64_t seq, ts_ms;
  HexItems x25519, pq, signing, prev;
  int has_prev;
} Entry;

static void read_entry(const char* dir, int i, Entry* e) {
  char name[64];
  snprintf(name, sizeof name, "key_history/entry%d.txt", i);
  char* text = read_file(dir, name, NULL);
  memset(e, 0, sizeof *e);
  for (char* line = strtok(text, "\n"); line != NULL; line = strtok(NULL, "\n")) {
    char* value = strchr(line, ' ');
    if (value == NULL) continue;
    *value++ = '\0';
    if (strcmp(line, "seq") == 0) e->seq = strtoull(value, NULL, 10);
    if (strcmp(line, "ts-ms") == 0) e->ts_ms = strtoull(value, NULL, 10);
    if (strcmp(line, "enc-x25519") == 0) parse_hex_items(value, &e->x25519);
    if (strcmp(line, "enc-pq") == 0) parse_hex_items(value, &e->pq);
    if (strcmp(line, "signing-pub") == 0) parse_hex_items(value, &e->signing);
    if (strcmp(line, "prev-entry-hash") == 0) parse_hex_items(value, &e->prev), e->has_prev = 1;
  }
  free(text);
}

static void key_history_examples(const char* dir) {
  for (int i = 0; i < 3; ++i) {
    Entry e;
    read_entry(dir, i, &e);
    RustCallStatus status = {0};
    RustBuffer leaf = uniffi_quenfold_log_fn_func_key_history_v1_rfc6962_leaf_hash(
        e.seq, e.ts_ms, bytes_arg(e.x25519.bytes[0], e.x25519.lens[0]),
        bytes_arg(e.pq.bytes[0], e.pq.lens[0]), bytes_arg(e.signing.bytes[0], e.signing.lens[0]),
        optional_bytes_arg(e.prev.bytes[0], e.prev.lens[0], e.has_prev), &status);
    char what[64];
    snprintf(what, sizeof what, "key-history entry %d leaf hash", i);
    if (status.code != 0) {
      verdict(what, &status, 1);
      continue;
    }
    char name[64];
    snprintf(name, sizeof name, "key_history/entry%d.leaf-hash", i);
    HexItems want;
    char* t = read_file(dir, name, NULL);
    parse_hex_items(t, &want);
    free(t);
    /* A byte-string result: i32 count, then the bytes. */
    int same = leaf.len == 4 + 32 && want.lens[0] == 32 && memcmp(leaf.data + 4, want.bytes[0], 32) == 0;
    printf("%s: %s\n", what, same ? "matches" : "differs");
    if (!same) ++failures;
    ffi_quenfold_log_rustbuffer_free(leaf, &status);
  }

  HexItems commitment, opening;
  char* t;
  size_t value_len;
  parse_hex_items(t = read_file(dir, "key_history/commitment.hex", NULL), &commitment), free(t);
  parse_hex_items(t = read_file(dir, "key_history/opening.hex", NULL), &opening), free(t);
  char* value = read_file(dir, "key_history/value.txt", &value_len);
  for (int tampered = 0; tampered <= 1; ++tampered) {
    RustCallStatus status = {0};
    uniffi_quenfold_log_fn_func_verify_commitment(
        string_arg("example.org/profile/v1"), bytes_arg(commitment.bytes[0], commitment.lens[0]),
        tampered ? bytes_arg((const uint8_t*)"mallory", 7) : bytes_arg((const uint8_t*)value, value_len),
        bytes_arg(opening.bytes[0], opening.lens[0]), &status);
    verdict(tampered ? "the commitment opened to another value" : "commitment opening", &status,
            !tampered);
  }
  free(value);
}

/* A whole file of hex (white space ignored), decoded into `out`. */
static size_t hex_blob(const char* dir, const char* name, uint8_t* out, size_t cap) {
  char* text = read_file(dir, name, NULL);
  size_t n = 0;
  for (const char* p = text; p[0] != '\0' && p[1] != '\0' && n < cap;) {
    if (hex_value(p[0]) < 0) {
      ++p;
      continue;
    }
    out[n++] = (uint8_t)(hex_value(p[0]) << 4 | hex_value(p[1]));
    p += 2;
  }
  free(text);
  return n;
}

static void coniks_examples(const char* dir) {
  uint8_t vrf[64], root[128], alice[1024], tampered[1024], mallory[1024];
  size_t vrf_len = hex_blob(dir, "coniks/vrf-public.hex", vrf, sizeof vrf);
  size_t root_len = hex_blob(dir, "coniks/root.hex", root, sizeof root);
  size_t alice_len = hex_blob(dir, "coniks/alice.lookup.proof", alice, sizeof alice);
  size_t tampered_len = hex_blob(dir, "coniks/alice.tampered.proof", tampered, sizeof tampered);
  size_t mallory_len = hex_blob(dir, "coniks/mallory.absence.proof", mallory, sizeof mallory);
  const char* alice_id = "alice@example.org";

  for (int bad = 0; bad <= 1; ++bad) {
    RustCallStatus status = {0};
    RustBuffer value = uniffi_quenfold_log_fn_func_coniks_verify_lookup(
        string_arg("example.org"), bytes_arg(vrf, vrf_len), bytes_arg(root, root_len),
        bytes_arg((const uint8_t*)alice_id, strlen(alice_id)),
        bad ? bytes_arg(tampered, tampered_len) : bytes_arg(alice, alice_len), &status);
    if (status.code == 0) {
      /* A byte-string result: i32 count, then the bytes. */
      printf("coniks lookup of alice: verified, value \"%.*s\"\n", (int)(value.len - 4),
             (const char*)value.data + 4);
      ffi_quenfold_log_rustbuffer_free(value, &status);
      if (bad) ++failures;
    } else {
      verdict(bad ? "coniks lookup of alice with a tampered proof" : "coniks lookup of alice", &status, 0);
      if (!bad) ++failures;
    }
  }
  RustCallStatus status = {0};
  const char* mallory_id = "mallory@example.org";
  uniffi_quenfold_log_fn_func_coniks_verify_absence(
      string_arg("example.org"), bytes_arg(vrf, vrf_len), bytes_arg(root, root_len),
      bytes_arg((const uint8_t*)mallory_id, strlen(mallory_id)), bytes_arg(mallory, mallory_len), &status);
  verdict("coniks absence of mallory", &status, 1);
}

static uint32_t get_u32(const uint8_t* d) {
  return (uint32_t)d[0] << 24 | (uint32_t)d[1] << 16 | (uint32_t)d[2] << 8 | d[3];
}

/* The signed checkpoints of examples/log under the trusted keys of keys.txt. */
static void checkpoint_examples(const char* dir) {
  char* keys = read_file(dir, "log/keys.txt", NULL);
  Writer vkeys = {.len = 0};
  uint32_t count = 0;
  for (const char* p = keys; *p != '\0'; ++count) {
    size_t n = strcspn(p, "\n");
    p += n + (p[n] == '\n');
  }
  put_u32(&vkeys, count);
  for (char* line = strtok(keys, "\n"); line != NULL; line = strtok(NULL, "\n"))
    put_bytes(&vkeys, (const uint8_t*)line, strlen(line));
  free(keys);

  const char* notes[] = {"log/checkpoint-7.note", "log/checkpoint-7-tampered.note"};
  for (int i = 0; i < 2; ++i) {
    char* note = read_file(dir, notes[i], NULL);
    RustCallStatus status = {0};
    RustBuffer head = uniffi_quenfold_log_fn_func_checkpoint_verify(string_arg(note), serialized(&vkeys), &status);
    free(note);
    if (status.code != 0) {
      verdict(i == 0 ? "checkpoint of size 7" : "the size-7 checkpoint with its size rewritten", &status, i == 0);
      continue;
    }
    /* CheckpointHead: origin (string), size (u64), root (bytes), extensions (list of string). */
    const uint8_t* d = head.data;
    uint32_t origin_len = get_u32(d);
    uint64_t size = (uint64_t)get_u32(d + 4 + origin_len) << 32 | get_u32(d + 8 + origin_len);
    printf("checkpoint of size 7: verified, origin %.*s, size %llu\n", (int)origin_len, (const char*)d + 4,
           (unsigned long long)size);
    if (i != 0 || size != 7) ++failures;
    ffi_quenfold_log_rustbuffer_free(head, &status);
  }
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <examples directory>\n", argv[0]);
    return 2;
  }
  /* As generated bindings do: refuse a library built for another interface. */
  if (ffi_quenfold_log_uniffi_contract_version() != 30 ||
      uniffi_quenfold_log_checksum_func_verify_inclusion() != 23817 ||
      uniffi_quenfold_log_checksum_func_checkpoint_verify() != 56341 ||
      uniffi_quenfold_log_checksum_func_coniks_verify_lookup() != 63275) {
    fprintf(stderr, "libquenfold_log does not match the interface this program was built for\n");
    return 2;
  }
  merkle_examples(argv[1]);
  key_history_examples(argv[1]);
  coniks_examples(argv[1]);
  checkpoint_examples(argv[1]);
  printf("%s\n", failures == 0 ? "all verdicts as expected" : "some verdicts differ");
  return failures == 0 ? 0 : 1;
}
