// The whole C++ API of quenfold_log: one function per operation, each
// returning std::expected<Result, quenfold::Error>. Error::message() is, byte
// for byte, the message that the C ABI reports for the same input.
//
// Link the static core (CMake: quenfold_log::quenfold_log_cpp; pkg-config:
// quenfold_log_cpp). The library keeps no state: every function may be called
// from any thread at any time.
#pragma once

#include "quenfold/error.h"
#include "quenfold/types.h"
#include "quenfold/version.h"

#include "quenfold/merkle.h"       // RFC 6962 inclusion and consistency proofs
#include "quenfold/key_history.h"  // key-history v1 entries
#include "quenfold/commitment.h"   // SHA3-512 commitments
#include "quenfold/note.h"         // C2SP signed notes
#include "quenfold/checkpoint.h"   // C2SP checkpoints, alone or anchoring proofs
#include "quenfold/verifier.h"     // verifier keys parsed once; which keys signed a note
#include "quenfold/witness.h"      // witness cosignatures and C2SP tlog-policy quorums
#include "quenfold/checkpoint_verifier.h"  // origin-bound checkpoints, batch and chain verification
#include "quenfold/tlog_proof.h"           // C2SP tlog-proof: offline inclusion proofs
#include "quenfold/add_checkpoint.h"       // the witness checks of C2SP tlog-witness add-checkpoint
#include "quenfold/coniks.h"       // CONIKS directory presence and absence proofs
#include "quenfold/keytrans.h"     // KEYTRANS search, fixed-version and monitoring proofs
#include "quenfold/policy.h"       // signed namespace policies and posture checks
#include "quenfold/tiles.h"        // tiled logs: tile paths, authenticated tiles, proofs and entries from tiles
