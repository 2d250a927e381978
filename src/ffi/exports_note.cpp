// Exports of the signed-note and checkpoint verifiers.
#include "ffi/frame.h"
#include "quenfold/checkpoint.h"
#include "quenfold/note.h"

using namespace quenfold::ffi;

extern "C" {

uint32_t uniffi_quenfold_log_fn_func_verify_signed_note(RustBuffer note_text, RustBuffer vkeys,
                                                        RustCallStatus* status) {
  return call(status, quenfold::verify_signed_note, arg<StringArg>("note_text", note_text),
              arg<StringListArg>("vkeys", vkeys));
}

RustBuffer uniffi_quenfold_log_fn_func_checkpoint_verify(RustBuffer note_text, RustBuffer vkeys,
                                                         RustCallStatus* status) {
  return call(status, quenfold::checkpoint_verify, arg<StringArg>("note_text", note_text),
              arg<StringListArg>("vkeys", vkeys));
}

RustBuffer uniffi_quenfold_log_fn_func_checkpoint_parse(RustBuffer body_text, RustCallStatus* status) {
  return call(status, quenfold::checkpoint_parse, arg<StringArg>("body_text", body_text));
}

void uniffi_quenfold_log_fn_func_checkpoint_verify_inclusion(RustBuffer note_text, RustBuffer vkeys,
                                                             uint64_t leaf_index, RustBuffer leaf_hash,
                                                             RustBuffer proof, RustCallStatus* status) {
  return call(status, quenfold::checkpoint_verify_inclusion, arg<StringArg>("note_text", note_text),
              arg<StringListArg>("vkeys", vkeys), leaf_index, arg<BytesArg>("leaf_hash", leaf_hash),
              arg<BytesListArg>("proof", proof));
}

void uniffi_quenfold_log_fn_func_checkpoint_verify_consistency(RustBuffer older_note, RustBuffer newer_note,
                                                               RustBuffer vkeys, RustBuffer proof,
                                                               RustCallStatus* status) {
  return call(status, quenfold::checkpoint_verify_consistency, arg<StringArg>("older_note", older_note),
              arg<StringArg>("newer_note", newer_note), arg<StringListArg>("vkeys", vkeys),
              arg<BytesListArg>("proof", proof));
}

}  // extern "C"
