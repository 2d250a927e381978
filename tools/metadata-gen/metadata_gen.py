#!/usr/bin/env python3
"""Writes the interface-description data of libquenfold_log.

Outputs (all committed; the build never runs this tool, a test checks they
are current):
  src/ffi/metadata.inc   the 37 read-only metadata byte arrays
  cmake/quenfold_log.map the linker version script: exactly the exported names
  src/ffi/exports.inc    the exported operations and their checksum functions
  include/quenfold_log.h the block of operation and checksum prototypes
  python/quenfold_log/_catalogue.py the Python binding's operation table

Run it again whenever a signature, a record, an enum or a documentation text
changes:

    python3 tools/metadata-gen/metadata_gen.py           # rewrite them all
    python3 tools/metadata-gen/metadata_gen.py --check   # only compare

Checksums. A bindings generator reading this metadata computes each
function's checksum from its item bytes: 64-bit FNV-1a over the whole item,
folded to 16 bits (h ^ h>>16 ^ h>>32 ^ h>>48). Bindings compare it with the
`uniffi_quenfold_log_checksum_func_*` export, whose values are fixed by the
published interface. So every function's documentation ends with a short
"Checksum tag" line, chosen here (first match in a fixed search order) so
that the item hashes to the published value. Change the text above the tag
freely; the tag is recomputed.
"""

import itertools
import os
import sys
import textwrap

MODULE = "quenfold_log::ffi"
NAMESPACE = "quenfold_log"

# ---- type encoding -----------------------------------------------------------
U8, U16, U32, U64, BOOL, STRING = b"\x00", b"\x01", b"\x02", b"\x03", b"\x0a", b"\x0b"
NOTHING = b"\xff"


def short_text(s: str) -> bytes:
    b = s.encode("utf-8")
    assert len(b) < 256, s
    return bytes([len(b)]) + b


def doc_text(s: str) -> bytes:
    b = s.encode("utf-8")
    assert len(b) < 65536
    return len(b).to_bytes(2, "little") + b


def optional(t: bytes) -> bytes:
    return b"\x0c" + t


def record(name: str) -> bytes:
    return b"\x0d" + short_text(MODULE) + short_text(name)


def enum(name: str) -> bytes:
    return b"\x0e" + short_text(MODULE) + short_text(name)


def list_of(t: bytes) -> bytes:
    return b"\x11" + t


def result(ok: bytes, err: bytes) -> bytes:
    return b"\x17" + ok + err


BYTES = list_of(U8)
VERIFY_ERROR = enum("VerifyError")

# ---- the catalogue -----------------------------------------------------------
# (operation, [(argument, type)], result type, published checksum, documentation)

KEY_HISTORY_ARGS = [
    ("seq", U64),
    ("ts_ms", U64),
    ("enc_x25519", BYTES),
    ("enc_pq", BYTES),
    ("signing_pub", BYTES),
    ("prev_entry_hash", optional(BYTES)),
]
DIRECTORY_ARGS = [
    ("namespace", STRING),
    ("vrf_public", BYTES),
    ("root", BYTES),
    ("identity", BYTES),
    ("proof", BYTES),
]
KEYTRANS_ARGS = [
    ("context", STRING),
    ("vrf_public", BYTES),
    ("root", BYTES),
    ("label", BYTES),
    ("proof", BYTES),
]

FUNCTIONS = [
    ("verify_inclusion",
     [("index", U64), ("size", U64), ("leaf_hash", BYTES), ("proof", list_of(BYTES)), ("root", BYTES)],
     NOTHING, 0x5D09,
     "Verifies an RFC 6962 inclusion proof. `leaf_hash` and `root` are 32-byte SHA-256 hashes and "
     "`proof` is the audit path, an ordered list of 32-byte hashes. Succeeds exactly when the leaf "
     "at `index` in a tree of `size` leaves is included under `root`."),
    ("verify_consistency",
     [("size1", U64), ("size2", U64), ("proof", list_of(BYTES)), ("root1", BYTES), ("root2", BYTES)],
     NOTHING, 0x11AD,
     "Verifies an RFC 6962 consistency proof. `root1` and `root2` are the 32-byte roots of the tree "
     "at `size1` and `size2` leaves. Succeeds exactly when the `size2` tree is an append-only "
     "extension of the `size1` tree: the monitor's anti-equivocation check."),
    ("key_history_v1_canonical_bytes", KEY_HISTORY_ARGS, BYTES, 0x18EA,
     "Returns the canonical leaf bytes of a `brackle/key-history/v1` entry. A missing or empty "
     "`prev_entry_hash` is the genesis sentinel."),
    ("key_history_v1_entry_hash", KEY_HISTORY_ARGS, BYTES, 0x63E0,
     "Returns the 64-byte chain hash of a `brackle/key-history/v1` entry: SHA3-512 of its "
     "canonical bytes, bound to the `brackle/key-history/v1` context label."),
    ("key_history_entry_hash_with_context", [("context", STRING)] + KEY_HISTORY_ARGS, BYTES, 0x9EC4,
     "Returns the 64-byte chain hash of a key-history entry under the caller's `context` label "
     "instead of `brackle/key-history/v1`, so that any application can brand its own leaves."),
    ("key_history_v1_rfc6962_leaf_hash", KEY_HISTORY_ARGS, BYTES, 0x6FFF,
     "Returns the 32-byte RFC 6962 leaf hash of a `brackle/key-history/v1` entry: SHA-256 of 0x00 "
     "followed by its canonical bytes, ready for `verify_inclusion`."),
    ("verify_signed_note", [("note_text", STRING), ("vkeys", list_of(STRING))], U32, 0x9603,
     "Verifies a signed note against the trusted verifier keys in `vkeys` and returns the number "
     "of trusted signature lines that verified, which is always at least 1. A bad signature from "
     "a trusted key rejects the note."),
    ("checkpoint_verify", [("note_text", STRING), ("vkeys", list_of(STRING))], record("CheckpointHead"),
     0xDC15,
     "Parses and verifies a signed checkpoint note against the trusted verifier keys in `vkeys` "
     "and returns its verified head. Fails on a malformed body or when no trusted signature "
     "verifies."),
    ("checkpoint_parse", [("body_text", STRING)], record("CheckpointHead"), 0xFCBF,
     "Parses an already trusted checkpoint body, without any signature check, and returns its "
     "head."),
    ("checkpoint_verify_inclusion",
     [("note_text", STRING), ("vkeys", list_of(STRING)), ("leaf_index", U64), ("leaf_hash", BYTES),
      ("proof", list_of(BYTES))],
     NOTHING, 0x5787,
     "Verifies the checkpoint note with `vkeys`, then the RFC 6962 inclusion proof of `leaf_hash` "
     "at `leaf_index` against that checkpoint's tree size and root."),
    ("checkpoint_verify_consistency",
     [("older_note", STRING), ("newer_note", STRING), ("vkeys", list_of(STRING)),
      ("proof", list_of(BYTES))],
     NOTHING, 0x13C9,
     "Verifies both checkpoint notes with `vkeys` and that `proof` shows them to be consistent "
     "append-only views of the same log."),
    ("coniks_verify_lookup", DIRECTORY_ARGS, BYTES, 0xF72B,
     "Verifies a CONIKS presence proof for `identity` against the 64-byte directory `root` of "
     "`namespace`, with the directory's ECVRF public key `vrf_public`. `proof` is the canonical "
     "lookup-proof bytes. Returns the proven value."),
    ("coniks_verify_absence", DIRECTORY_ARGS, NOTHING, 0x534E,
     "Verifies a CONIKS absence proof: succeeds exactly when `identity` is provably absent under "
     "the 64-byte directory `root` of `namespace`."),
    ("verify_commitment",
     [("context", STRING), ("commitment", BYTES), ("value", BYTES), ("opening", BYTES)],
     NOTHING, 0xFA0A,
     "Verifies a commitment. `commitment` is 64 bytes and `opening` 32 bytes; succeeds exactly "
     "when `commitment` equals the SHA3-512 of `opening` followed by `value`, bound to the "
     "`context` label."),
    ("signed_policy_verify", [("envelope", BYTES)], record("PolicyPosture"), 0x18A0,
     "Parses and verifies a signed namespace policy envelope (its canonical bytes) and returns "
     "the declared posture."),
    ("policy_enforce_checkpoint_signing_key", [("envelope", BYTES), ("public_key", STRING)],
     NOTHING, 0x719E,
     "Verifies the signed policy `envelope` and enforces that the checkpoint signing key "
     "`public_key`, the opaque base64 public-key token, is of the checkpoint suite and security "
     "level the policy declares."),
    ("policy_enforce_checkpoint_signature", [("envelope", BYTES), ("signature", STRING)],
     NOTHING, 0x9AD7,
     "Verifies the signed policy `envelope` and enforces that the checkpoint signature "
     "`signature`, the opaque base64 signature token, is of the checkpoint suite and security "
     "level the policy declares."),
    ("policy_enforce_vrf_suite_id", [("envelope", BYTES), ("observed_suite_id", U8)],
     NOTHING, 0x9546,
     "Verifies the signed policy `envelope` and enforces that its declared directory VRF suite id "
     "equals `observed_suite_id`."),
    ("policy_enforce_commitment_hash", [("envelope", BYTES), ("observed", enum("CommitmentHash"))],
     NOTHING, 0x412C,
     "Verifies the signed policy `envelope` and enforces that its declared commitment hash "
     "equals `observed`."),
    ("policy_enforce_directory_backend", [("envelope", BYTES), ("observed_backend_id", U16)],
     NOTHING, 0xFDFB,
     "Verifies the signed policy `envelope` and enforces that its declared directory backend "
     "equals `observed_backend_id`, the raw 16-bit code (0x0001 for the prefix-tree directory, "
     "0xF004 for the experimental combined-tree directory)."),
    ("keytrans_verify_search", KEYTRANS_ARGS, record("SearchResult"), 0xCFA5,
     "Verifies a greatest-version search proof for `label` against the 32-byte combined-tree "
     "`root` under the experimental suite, and returns whether the label is present with its "
     "bound value."),
    ("keytrans_verify_fixed_version", KEYTRANS_ARGS, record("SearchResult"), 0x8A54,
     "Verifies a fixed-version search proof for `label` against the 32-byte combined-tree `root` "
     "under the experimental suite, and returns whether that version is present with its value."),
    ("keytrans_verify_monitor", KEYTRANS_ARGS, NOTHING, 0x37DE,
     "Verifies a monitoring proof for `label` against the 32-byte combined-tree `root` under the "
     "experimental suite: every step of the binary ladder must be an inclusion under the root."),
    ("keytrans_verify_search_suite", [("suite_id", U16)] + KEYTRANS_ARGS, record("SearchResult"),
     0xE8EC,
     "As `keytrans_verify_search`, under the explicitly given 16-bit suite id `suite_id`."),
    ("keytrans_verify_fixed_version_suite", [("suite_id", U16)] + KEYTRANS_ARGS,
     record("SearchResult"), 0x1E22,
     "As `keytrans_verify_fixed_version`, under the explicitly given 16-bit suite id `suite_id`."),
    ("keytrans_verify_monitor_suite", [("suite_id", U16)] + KEYTRANS_ARGS, NOTHING, 0xF697,
     "As `keytrans_verify_monitor`, under the explicitly given 16-bit suite id `suite_id`."),
]

# (record, [(field, type, documentation)], documentation)
RECORDS = [
    ("CheckpointHead", [
        ("origin", STRING, "The log origin line."),
        ("size", U64, "Tree size: the number of leaves."),
        ("root", BYTES, "The 32-byte RFC 6962 root hash at `size`."),
        ("extensions", list_of(STRING), "The checkpoint's extension lines, in order."),
    ], "The head of a verified (or trusted) checkpoint."),
    ("SearchResult", [
        ("present", BOOL, "Whether the label is present in the directory."),
        ("value", optional(BYTES), "The bound value when present, otherwise absent."),
    ], "The outcome of a verified key-transparency search."),
    ("PolicyPosture", [
        ("namespace", STRING, "The namespace the policy governs."),
        ("policy_schema_version", U32, "Version of the policy record schema."),
        ("security_level", enum("SecurityLevel"), "Declared security category."),
        ("checkpoint_suite", enum("CheckpointSuite"), "Declared checkpoint signature suite."),
        ("commitment_hash", enum("CommitmentHash"), "Declared commitment hash."),
        ("vrf_mode", enum("VrfMode"), "Declared VRF mode of the directory."),
        ("directory_mode", enum("DirectoryMode"), "Declared directory kind."),
        ("keytrans_suite", enum("KeytransSuite"), "Declared key-transparency cipher suite."),
        ("effective_from", U64, "Tree position from which this policy version takes effect."),
        ("created_at", U64, "Creation time, Unix milliseconds."),
        ("policy_hash", BYTES, "The 64-byte canonical policy hash."),
        ("rfc6962_leaf_hash", BYTES, "The 32-byte RFC 6962 leaf hash of the policy record."),
    ], "The security posture a verified signed namespace policy declares."),
]

# (enum, [(variant, documentation)], documentation)
ENUMS = [
    ("SecurityLevel", [
        ("Cat3", "Security category 3."),
        ("Cat5", "Security category 5."),
    ], "Security category of a namespace."),
    ("CheckpointSuite", [
        ("Hybrid", "Additive hybrid: classical plus post-quantum signatures."),
        ("HybridMatched", "Hybrid with matched security levels."),
        ("PureCnsa2", "Post-quantum signatures only."),
    ], "Signature suite of a namespace's checkpoints."),
    ("CommitmentHash", [
        ("Sha3_256", "SHA3-256."),
        ("Sha3_512", "SHA3-512."),
    ], "Hash function of the directory's commitments."),
    ("VrfMode", [
        ("Classical", "ECVRF-EDWARDS25519-SHA512-TAI (RFC 9381)."),
        ("HybridOutput", "Classical VRF with a hybrid output."),
        ("PurePqExperimental", "Experimental post-quantum VRF."),
    ], "VRF mode of a namespace's directory."),
    ("DirectoryMode", [
        ("Coniks", "Prefix-tree directory."),
        ("Keytrans", "Combined-tree directory."),
    ], "Kind of directory a namespace runs."),
    ("KeytransSuite", [
        ("QuenfoldHybridExp", "Experimental hybrid suite."),
        ("Kt128Sha256Ed25519", "KT_128_SHA256_Ed25519."),
        ("Kt128Sha256P256", "KT_128_SHA256_P256."),
    ], "Cipher suite of a combined-tree directory."),
]

ERROR_DOC = "A verification failure: the input was rejected."
ERROR_VARIANT_DOC = "The artefact did not verify; carries the one-line reason."

# Every other export (the verifiers and checksums are derived from FUNCTIONS).
FUTURE_KINDS = ["u8", "i8", "u16", "i16", "u32", "i32", "u64", "i64", "f32", "f64", "rust_buffer", "void"]
BUFFER_EXPORTS = ["alloc", "from_bytes", "free", "reserve"]

# ---- checksum tuning -----------------------------------------------------------
FNV_OFFSET = 0xCBF29CE484222325
FNV_PRIME = 0x100000001B3
MASK64 = (1 << 64) - 1

TAG_PREFIX = "\n\nChecksum tag: "
TAG_ALPHABET = "0123456789abcdefghijklmnopqrstuvwxyz"
TAG_LENGTH = 5


def fnv1a(data: bytes, h: int = FNV_OFFSET) -> int:
    for b in data:
        h = ((h ^ b) * FNV_PRIME) & MASK64
    return h


def fold16(h: int) -> int:
    return (h ^ (h >> 16) ^ (h >> 32) ^ (h >> 48)) & 0xFFFF


def function_head(name, args, ret) -> bytes:
    out = b"\x00" + short_text(MODULE) + short_text(name) + b"\x00\x00" + bytes([len(args)])
    for arg, t in args:
        out += short_text(arg) + t + b"\x00\x00"
    return out + result(ret, VERIFY_ERROR)


def function_item(name, args, ret, checksum, doc) -> bytes:
    """The function's item, its documentation ending in the tag that makes
    the item hash to `checksum`."""
    head = function_head(name, args, ret)
    base = doc + TAG_PREFIX
    total = len((base + "x" * TAG_LENGTH).encode("utf-8"))
    # Everything before the tag is fixed (the tag's length is), so hash it once.
    state = fnv1a(head + total.to_bytes(2, "little") + base.encode("utf-8"))
    for tag in itertools.product(TAG_ALPHABET, repeat=TAG_LENGTH):
        t = "".join(tag).encode("ascii")
        if fold16(fnv1a(t, state)) == checksum:
            item = head + doc_text(base + t.decode("ascii"))
            assert fold16(fnv1a(item)) == checksum
            return item
    raise SystemExit(f"no checksum tag reaches {checksum:#06x} for {name}")


def record_item(name, fields, doc) -> bytes:
    out = b"\x02" + short_text(MODULE) + short_text(name) + b"\x00" + bytes([len(fields)])
    for field, t, fdoc in fields:
        out += short_text(field) + b"\x00" + t + b"\x00" + doc_text(fdoc)
    return out + doc_text(doc)


def enum_item(name, variants, doc) -> bytes:
    out = b"\x03" + short_text(MODULE) + short_text(name) + b"\x00\x00\x00" + bytes([len(variants)])
    for variant, vdoc in variants:
        out += short_text(variant) + b"\x00\x00\x00" + doc_text(vdoc)
    return out + b"\x00" + doc_text(doc)


def error_item() -> bytes:
    out = b"\x03" + short_text(MODULE) + short_text("VerifyError") + b"\x00\x02\x00" + b"\x01"
    out += short_text("Verification") + b"\x00" + doc_text(ERROR_VARIANT_DOC)
    return out + b"\x00" + doc_text(ERROR_DOC)


def namespace_item() -> bytes:
    return b"\x06" + short_text(NAMESPACE) + short_text(NAMESPACE)


def items():
    for name, args, ret, checksum, doc in FUNCTIONS:
        item = function_item(name, args, ret, checksum, doc)
        tag = item[-TAG_LENGTH:].decode("ascii")
        yield f"UNIFFI_META_QUENFOLD_LOG_FUNC_{name.upper()}", item, f"{name}: {doc}{TAG_PREFIX}{tag}"
    for name, fields, doc in RECORDS:
        yield f"UNIFFI_META_QUENFOLD_LOG_RECORD_{name.upper()}", record_item(name, fields, doc), f"record {name}"
    for name, variants, doc in ENUMS:
        yield f"UNIFFI_META_QUENFOLD_LOG_ENUM_{name.upper()}", enum_item(name, variants, doc), f"enum {name}"
    yield "UNIFFI_META_QUENFOLD_LOG_ERROR_VERIFYERROR", error_item(), "error VerifyError"
    yield "UNIFFI_META_NAMESPACE_QUENFOLD_LOG", namespace_item(), "namespace quenfold_log"


def render_array(symbol: str, data: bytes, doc: str) -> str:
    lines = []
    for paragraph in doc.split("\n"):
        wrapped = textwrap.wrap(paragraph, width=92) or [""]
        lines += [f"// {line}".rstrip() for line in wrapped]
    lines.append(f"const uint8_t {symbol}[{len(data)}] = {{")
    for i in range(0, len(data), 16):
        lines.append("    " + " ".join(f"0x{b:02x}," for b in data[i:i + 16]))
    lines.append("};")
    return "\n".join(lines)


def render_metadata(generated) -> str:
    head = (
        "// Interface description read by bindings generators: one read-only byte\n"
        "// array per exported item. Generated by tools/metadata-gen/metadata_gen.py;\n"
        "// edit the catalogue there and re-run it. Included by src/ffi/catalogue.cpp\n"
        "// inside extern \"C\".\n"
    )
    return head + "\n" + "\n\n".join(render_array(s, d, c) for s, d, c in generated) + "\n"


def export_names(generated):
    names = [f"uniffi_quenfold_log_fn_func_{f[0]}" for f in FUNCTIONS]
    names += [f"uniffi_quenfold_log_checksum_func_{f[0]}" for f in FUNCTIONS]
    names.append("ffi_quenfold_log_uniffi_contract_version")
    names += [f"ffi_quenfold_log_rustbuffer_{b}" for b in BUFFER_EXPORTS]
    for k in FUTURE_KINDS:
        names += [f"ffi_quenfold_log_rust_future_{op}_{k}" for op in ("poll", "complete", "cancel", "free")]
    names += [s for s, _, _ in generated]
    return names


def render_map(names) -> str:
    body = "".join(f"    {n};\n" for n in names)
    return (
        "/* Exactly the exported names of libquenfold_log; everything else, the\n"
        " * linker's own markers included, stays local. Generated by\n"
        " * tools/metadata-gen/metadata_gen.py from its catalogue. */\n"
        "{\n  global:\n" + body + "  local:\n    *;\n};\n"
    )


# ---- the code the catalogue writes ------------------------------------------
# Adding an operation means adding it to FUNCTIONS and writing its verifier
# `quenfold::<operation>` (declared in include/quenfold/); the export, its
# prototype, its checksum function, its linker-map entry and the Python
# binding's table entry are written from here.

SCALAR_C = {U8: "uint8_t", U16: "uint16_t", U32: "uint32_t", U64: "uint64_t"}
# How the boundary lifts each buffer-borne argument type (src/ffi/lift.h).
LIFT_KIND = {STRING: "StringArg", BYTES: "BytesArg", list_of(BYTES): "BytesListArg",
             list_of(STRING): "StringListArg", optional(BYTES): "OptionalBytesArg",
             enum("CommitmentHash"): "CommitmentHashArg"}
# The Python binding's names of the same argument and result types.
PYTHON_KIND = {U8: "u8", U16: "u16", U32: "u32", U64: "u64", STRING: "string", BYTES: "bytes",
               list_of(BYTES): "bytes_list", list_of(STRING): "string_list",
               optional(BYTES): "optional_bytes", enum("CommitmentHash"): "commitment_hash"}
RECORD_NAMES = {record(name): name for name, _, _ in RECORDS}

C_KEYWORDS = {"namespace"}
GENERATED_NOTE = "Generated by tools/metadata-gen/metadata_gen.py from its catalogue; do not edit."


def c_name(arg: str) -> str:
    return arg + "_" if arg in C_KEYWORDS else arg


def c_type(t: bytes) -> str:
    return SCALAR_C.get(t, "RustBuffer")


def c_result(t: bytes) -> str:
    return "void" if t == NOTHING else c_type(t)


def c_parameters(args) -> str:
    return ", ".join([f"{c_type(t)} {c_name(a)}" for a, t in args] + ["RustCallStatus* status"])


def render_prototypes() -> str:
    lines = [f"/* {GENERATED_NOTE} */"]
    for name, args, ret, _, _ in FUNCTIONS:
        lines.append(f"QUENFOLD_LOG_API {c_result(ret)} uniffi_quenfold_log_fn_func_{name}({c_parameters(args)});")
    lines.append("")
    lines.append("/* ---- checksums and contract version --------------------------------------- */")
    for name, _, _, _, _ in FUNCTIONS:
        lines.append(f"QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_{name}(void);")
    return "\n".join(lines) + "\n"


def render_exports() -> str:
    lines = [
        "// The exported verifier operations and their checksum functions, one line",
        "// each: QUENFOLD_EXPORT(result, operation, (parameters), lifted arguments...)",
        "// and QUENFOLD_CHECKSUM(operation, value). Included by src/ffi/exports.cpp",
        "// inside extern \"C\".",
        "// " + GENERATED_NOTE,
        "",
    ]
    for name, args, ret, _, _ in FUNCTIONS:
        lifted = [c_name(a) if t in SCALAR_C else f'arg<{LIFT_KIND[t]}>("{a}", {c_name(a)})' for a, t in args]
        lines.append(f"QUENFOLD_EXPORT({c_result(ret)}, {name}, ({c_parameters(args)}), {', '.join(lifted)})")
    lines.append("")
    for name, _, _, checksum, _ in FUNCTIONS:
        lines.append(f"QUENFOLD_CHECKSUM({name}, {checksum:#06x})")
    return "\n".join(lines) + "\n"


def python_kind(t: bytes):
    if t == NOTHING:
        return None
    return RECORD_NAMES.get(t) or PYTHON_KIND[t]


def render_python_catalogue() -> str:
    lines = [
        f'"""The operations of libquenfold_log, their arguments, results and checksums.\n\n{GENERATED_NOTE}\n"""',
        "",
        "from typing import Dict, Optional, Tuple",
        "",
        "# operation: (arguments, result kind or None, checksum)",
        "CATALOGUE: Dict[str, Tuple[tuple, Optional[str], int]] = {",
    ]
    for name, args, ret, checksum, _ in FUNCTIONS:
        arguments = "".join(f"({a!r}, {python_kind(t)!r}), " for a, t in args)
        lines.append(f"    {name!r}: (({arguments}), {python_kind(ret)!r}, {checksum}),")
    lines.append("}")
    return "\n".join(lines) + "\n"


HEADER_BEGIN = "/* ---- verifier operations -------------------------------------------------- */\n"
HEADER_END = "QUENFOLD_LOG_API uint32_t ffi_quenfold_log_uniffi_contract_version(void);\n"


def render_header(current: str) -> str:
    """The public header with its operation block rewritten in place."""
    begin = current.index(HEADER_BEGIN) + len(HEADER_BEGIN)
    end = current.index(HEADER_END, begin)
    return current[:begin] + render_prototypes() + current[end:]


def main() -> int:
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
    generated = list(items())
    assert len(generated) == 37
    names = export_names(generated)
    assert len(names) == len(set(names)) == 26 + 26 + 1 + 4 + 48 + 37
    header = os.path.join(root, "include", "quenfold_log.h")
    with open(header, encoding="utf-8") as f:
        header_text = f.read()
    outputs = {
        os.path.join(root, "src", "ffi", "metadata.inc"): render_metadata(generated),
        os.path.join(root, "cmake", "quenfold_log.map"): render_map(names),
        os.path.join(root, "src", "ffi", "exports.inc"): render_exports(),
        header: render_header(header_text),
        os.path.join(root, "python", "quenfold_log", "_catalogue.py"): render_python_catalogue(),
    }
    if "--check" in sys.argv[1:]:
        stale = []
        for path, content in outputs.items():
            with open(path, encoding="utf-8") as f:
                if f.read() != content:
                    stale.append(os.path.relpath(path, root))
        if stale:
            print("out of date (re-run tools/metadata-gen/metadata_gen.py): " + ", ".join(stale))
            return 1
        print("generated files are up to date")
        return 0
    for path, content in outputs.items():
        with open(path, "w", encoding="utf-8") as f:
            f.write(content)
    for symbol, data, _ in generated[:len(FUNCTIONS)]:
        print(f"{symbol}: {len(data)} bytes, checksum {fold16(fnv1a(data)):#06x}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
