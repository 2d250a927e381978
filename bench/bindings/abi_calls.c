/* The two calls that bench/bindings/ times through each binding, made here
 * through the C ABI as a C caller makes them: arguments serialized into
 * buffers from ffi_quenfold_log_rustbuffer_from_bytes, a zeroed status, the
 * result buffer released. Built as a small shared library that the binding's
 * benchmark loads into its own process, so that the C ABI and the binding are
 * timed in the same process, batch after batch:
 *
 *   quenfold_abi_calls_setup(examples_dir)     reads the inputs (0; aborts when
 *                                              one is missing)
 *   quenfold_abi_calls_run(op, calls)          the calling thread's CPU time of
 *                                              `calls` calls of `op`, in µs
 *                                              ("checkpoint_verify" or
 *                                              "verify_inclusion"), or -1
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "quenfold_log.h"

typedef struct {
  uint8_t* data;
  size_t len, cap;
} Bytes;

static void put(Bytes* b, const void* p, size_t n) {
  if (b->len + n > b->cap) {
    b->cap = (b->len + n) * 2;
    b->data = realloc(b->data, b->cap);
    if (!b->data) abort();
  }
  memcpy(b->data + b->len, p, n);
  b->len += n;
}

static void put_count(Bytes* b, uint32_t n) {
  uint8_t be[4] = {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8), (uint8_t)n};
  put(b, be, 4);
}

static Bytes read_file(const char* dir, const char* name) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", dir, name);
  FILE* f = fopen(path, "rb");
  if (!f) {
    perror(path);
    abort();
  }
  Bytes b = {0};
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) put(&b, chunk, n);
  fclose(f);
  return b;
}

/* The hex items of a file (separated by white space or commas), each 32 bytes. */
static size_t hex_items(const char* dir, const char* name, uint8_t out[][32], size_t max) {
  Bytes text = read_file(dir, name);
  size_t items = 0, digits = 0;
  for (size_t i = 0; i < text.len && items < max; ++i) {
    char c = (char)text.data[i];
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (digits % 2 == 0) out[items][digits / 2] = (uint8_t)(v << 4);
    else out[items][digits / 2] |= (uint8_t)v;
    if (++digits == 64) digits = 0, ++items;
  }
  free(text.data);
  return items;
}

static RustBuffer buffer(const Bytes* b) {
  RustCallStatus status = {0};
  ForeignBytes fb = {(int32_t)b->len, b->data};
  RustBuffer out = ffi_quenfold_log_rustbuffer_from_bytes(fb, &status);
  if (status.code) abort();
  return out;
}

static void check(RustCallStatus* status, const char* what) {
  if (status->code) {
    fprintf(stderr, "%s failed with status %d\n", what, status->code);
    abort();
  }
}

/* Inputs, as the bindings read them. */
static Bytes note, keys_list, leaf, path, root;

static void checkpoint_verify(void) {
  RustCallStatus status = {0};
  RustBuffer out = uniffi_quenfold_log_fn_func_checkpoint_verify(buffer(&note), buffer(&keys_list), &status);
  check(&status, "checkpoint_verify");
  ffi_quenfold_log_rustbuffer_free(out, &status);
}

static void verify_inclusion(void) {
  RustCallStatus status = {0};
  uniffi_quenfold_log_fn_func_verify_inclusion(4, 7, buffer(&leaf), buffer(&path), buffer(&root), &status);
  check(&status, "verify_inclusion");
}

static double cpu_us(void) {
  struct timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return (double)ts.tv_sec * 1e6 + (double)ts.tv_nsec / 1e3;
}

__attribute__((visibility("default"))) double quenfold_abi_calls_run(const char* op, int calls) {
  void (*call)(void) = strcmp(op, "checkpoint_verify") == 0  ? checkpoint_verify
                       : strcmp(op, "verify_inclusion") == 0 ? verify_inclusion
                                                             : NULL;
  if (call == NULL || note.len == 0) return -1;
  double start = cpu_us();
  for (int i = 0; i < calls; ++i) call();
  return cpu_us() - start;
}

__attribute__((visibility("default"))) int quenfold_abi_calls_setup(const char* dir) {
  note = read_file(dir, "log/checkpoint-7.note");
  /* keys: a list<string> of the lines of keys.txt */
  Bytes text = read_file(dir, "log/keys.txt");
  Bytes lines[16];
  uint32_t n = 0;
  for (size_t start = 0, i = 0; i <= text.len && n < 16; ++i) {
    if (i == text.len || text.data[i] == '\n') {
      if (i > start) {
        lines[n] = (Bytes){0};
        put(&lines[n++], text.data + start, i - start);
      }
      start = i + 1;
    }
  }
  put_count(&keys_list, n);
  for (uint32_t i = 0; i < n; ++i) {
    put_count(&keys_list, (uint32_t)lines[i].len);
    put(&keys_list, lines[i].data, lines[i].len);
  }
  uint8_t hashes[16][32];
  hex_items(dir, "merkle/leaf4.hash", hashes, 1);
  put_count(&leaf, 32);
  put(&leaf, hashes[0], 32);
  hex_items(dir, "merkle/root7.hash", hashes, 1);
  put_count(&root, 32);
  put(&root, hashes[0], 32);
  size_t items = hex_items(dir, "merkle/inclusion-4-of-7.proof", hashes, 16);
  put_count(&path, (uint32_t)items);
  for (size_t i = 0; i < items; ++i) {
    put_count(&path, 32);
    put(&path, hashes[i], 32);
  }
  return 0;
}
