#!/usr/bin/env python3
"""Writes everything that restates the interface of libquenfold_log, from the
catalogue in tools/metadata-gen/catalogue.json, and of the extension library
libquenfold_log_ext, from tools/metadata-gen/extension.json (see "the
extension library" below).

Outputs (all committed; the build never runs this tool, a test checks they
are current):
  src/ffi/metadata.inc   one read-only metadata byte array per item
  cmake/quenfold_log.map the linker version script: exactly the exported names
  src/ffi/exports.inc    the exported operations and their checksum functions
  include/quenfold_log.h the block of operation and checksum prototypes
  python/quenfold_log/_catalogue.py  the Python binding's operation table
  python/quenfold_log/_operations.py the Python binding's public operations
  python/quenfold_log/_errors.py     the Python binding's error kinds
and for the extension: src/ffi/extension/metadata.inc, exports.inc,
cmake/quenfold_log_ext.map, include/quenfold_log_ext.h and
python/quenfold_log/_extension.py; from both catalogues, the JVM binding's
generated sources in java/src/main/java/org/quenfold/log/ (java_binding.py).

Run it again whenever the catalogue changes:

    python3 tools/metadata-gen/metadata_gen.py           # rewrite them all
    python3 tools/metadata-gen/metadata_gen.py --check   # only compare
    python3 tools/metadata-gen/metadata_gen.py --java-dir DIR
        # only the JVM binding's sources, written afresh under DIR

The catalogue is JSON rather than Python so that it stays pure data: nothing
in it can compute, and any reader (this tool, the Python binding's tests, a
C++ test, CMake's string(JSON)) takes it as it is without running code.
Its shape:
  functions  name, arguments [{name, type}], result (a type, null for none),
             checksum (the published value, hex), doc (one paragraph)
  records    name, fields [{name, type, doc}], doc
  enums      name, variants [{name, doc}], doc (variants in index order)
  error      the one error type: name, doc, its one variant {name, doc}, and
             kinds: the C++ ErrorKind values in declaration order, each with
             the fixed part of its message (exactly one of "message" for a
             whole text, "prefix", or "pattern", a regular expression the
             whole message matches); "cxx_api_only" marks the kinds that no
             exported operation reports
  scaffolding the buffer functions and the future functions (one per
             operation and result kind) every generated binding expects
Types are written u8, u16, u32, u64, bool, string, bytes, list<T>,
optional<T>, record Name and enum Name.

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
import json
import os
import re
import sys
import textwrap

import java_binding

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
CATALOGUE_PATH = os.path.join(HERE, "catalogue.json")


class CatalogueError(Exception):
    """The catalogue is not a consistent description of an interface."""


# ---- reading the catalogue ------------------------------------------------------

def load(path: str = CATALOGUE_PATH) -> dict:
    with open(path, encoding="utf-8") as f:
        catalogue = json.load(f)
    validate(catalogue)
    return catalogue


def _distinct(what: str, names) -> None:
    seen = set()
    for name in names:
        if name in seen:
            raise CatalogueError(f"{what} {name!r} appears twice")
        seen.add(name)


def validate(cat: dict) -> None:
    """Checks what the encoders below rely on, so that a mistake in the data
    is reported by name instead of surfacing as a wrong byte."""
    _distinct("function", (f["name"] for f in cat["functions"]))
    _distinct("type", [r["name"] for r in cat["records"]] + [e["name"] for e in cat["enums"]])
    _distinct("error kind", (k["name"] for k in cat["error"]["kinds"]))
    for f in cat["functions"]:
        _distinct(f"argument of {f['name']}:", (a["name"] for a in f["arguments"]))
        for a in f["arguments"]:
            encode_type(cat, a["type"])
        if f["result"] is not None:
            encode_type(cat, f["result"])
        checksum = parse_checksum(f)
        if not 0 <= checksum <= 0xFFFF:
            raise CatalogueError(f"checksum of {f['name']} is not 16 bits")
        if "\n" in f["doc"]:
            raise CatalogueError(f"documentation of {f['name']} is not one paragraph")
    for r in cat["records"]:
        _distinct(f"field of {r['name']}:", (fl["name"] for fl in r["fields"]))
        for fl in r["fields"]:
            encode_type(cat, fl["type"])
    for e in cat["enums"]:
        _distinct(f"variant of {e['name']}:", (v["name"] for v in e["variants"]))
    for k in cat["error"]["kinds"]:
        rules = [r for r in ("message", "prefix", "pattern") if r in k]
        if len(rules) != 1:
            raise CatalogueError(f"error kind {k['name']} needs exactly one of message, prefix, pattern")
        if "pattern" in k:
            try:
                re.compile(k["pattern"])
            except re.error as e:
                raise CatalogueError(f"pattern of error kind {k['name']}: {e}") from None


def parse_checksum(function: dict) -> int:
    try:
        return int(function["checksum"], 16)
    except (TypeError, ValueError):
        raise CatalogueError(f"checksum of {function['name']} is not a hex number") from None


# ---- type encoding ---------------------------------------------------------------
SCALAR_CODES = {"u8": 0x00, "u16": 0x01, "u32": 0x02, "u64": 0x03, "bool": 0x0A, "string": 0x0B}
NOTHING = b"\xff"
_GENERIC = re.compile(r"(list|optional)<(.+)>")
_NAMED = re.compile(r"(record|enum|object) ([A-Za-z_][A-Za-z0-9_]*)")


def short_text(s: str) -> bytes:
    b = s.encode("utf-8")
    assert len(b) < 256, s
    return bytes([len(b)]) + b


def doc_text(s: str) -> bytes:
    b = s.encode("utf-8")
    assert len(b) < 65536
    return len(b).to_bytes(2, "little") + b


def named_type(cat: dict, kind: str, name: str) -> bytes:
    code = {"record": b"\x0d", "enum": b"\x0e", "object": b"\x10"}[kind]
    return code + short_text(cat["module"]) + short_text(name)


def encode_type(cat: dict, t: str) -> bytes:
    """The metadata bytes of a type written in the catalogue's notation."""
    if t in SCALAR_CODES:
        return bytes([SCALAR_CODES[t]])
    if t == "bytes":
        return b"\x11" + bytes([SCALAR_CODES["u8"]])
    m = _GENERIC.fullmatch(t)
    if m:
        return (b"\x11" if m.group(1) == "list" else b"\x0c") + encode_type(cat, m.group(2))
    if t == "error" and "variants" in cat["error"]:
        # The extension's error enum as a value (a rejection in a list of outcomes).
        return named_type(cat, "enum", cat["error"]["name"])
    m = _NAMED.fullmatch(t)
    if m:
        declared = {"record": cat["records"], "enum": cat["enums"], "object": cat.get("objects", [])}[m.group(1)]
        if m.group(2) not in {d["name"] for d in declared}:
            raise CatalogueError(f"{t} is not declared")
        return named_type(cat, m.group(1), m.group(2))
    raise CatalogueError(f"unknown type {t!r}")


def encode_result(cat: dict, t) -> bytes:
    return NOTHING if t is None else encode_type(cat, t)


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


# ---- metadata items ----------------------------------------------------------------

def function_head(cat: dict, f: dict) -> bytes:
    args = f["arguments"]
    out = b"\x00" + short_text(cat["module"]) + short_text(f["name"]) + b"\x00\x00" + bytes([len(args)])
    for a in args:
        out += short_text(a["name"]) + encode_type(cat, a["type"]) + b"\x00\x00"
    error = named_type(cat, "enum", cat["error"]["name"])
    return out + b"\x17" + encode_result(cat, f["result"]) + error


def function_item(cat: dict, f: dict) -> bytes:
    """The function's item, its documentation ending in the tag that makes
    the item hash to the published checksum."""
    checksum = parse_checksum(f)
    head = function_head(cat, f)
    base = f["doc"] + TAG_PREFIX
    total = len((base + "x" * TAG_LENGTH).encode("utf-8"))
    # Everything before the tag is fixed (the tag's length is), so hash it once.
    state = fnv1a(head + total.to_bytes(2, "little") + base.encode("utf-8"))
    for tag in itertools.product(TAG_ALPHABET, repeat=TAG_LENGTH):
        t = "".join(tag).encode("ascii")
        if fold16(fnv1a(t, state)) == checksum:
            item = head + doc_text(base + t.decode("ascii"))
            assert fold16(fnv1a(item)) == checksum
            return item
    raise SystemExit(f"no checksum tag reaches {checksum:#06x} for {f['name']}")


def record_item(cat: dict, r: dict) -> bytes:
    fields = r["fields"]
    out = b"\x02" + short_text(cat["module"]) + short_text(r["name"]) + b"\x00" + bytes([len(fields)])
    for fl in fields:
        out += short_text(fl["name"]) + b"\x00" + encode_type(cat, fl["type"]) + b"\x00" + doc_text(fl["doc"])
    return out + doc_text(r["doc"])


def enum_item(cat: dict, e: dict) -> bytes:
    variants = e["variants"]
    out = b"\x03" + short_text(cat["module"]) + short_text(e["name"]) + b"\x00\x00\x00" + bytes([len(variants)])
    for v in variants:
        out += short_text(v["name"]) + b"\x00\x00\x00" + doc_text(v["doc"])
    return out + b"\x00" + doc_text(e["doc"])


def error_item(cat: dict) -> bytes:
    error = cat["error"]
    variant = error["variant"]
    out = b"\x03" + short_text(cat["module"]) + short_text(error["name"]) + b"\x00\x02\x00" + b"\x01"
    out += short_text(variant["name"]) + b"\x00" + doc_text(variant["doc"])
    return out + b"\x00" + doc_text(error["doc"])


def namespace_item(cat: dict) -> bytes:
    return b"\x06" + short_text(cat["namespace"]) + short_text(cat["namespace"])


def meta_prefix(cat: dict) -> str:
    return f"UNIFFI_META_{cat['namespace'].upper()}"


def items(cat: dict):
    """(symbol, bytes, comment) of every metadata item, in export order."""
    prefix = meta_prefix(cat)
    for f in cat["functions"]:
        item = function_item(cat, f)
        tag = item[-TAG_LENGTH:].decode("ascii")
        yield f"{prefix}_FUNC_{f['name'].upper()}", item, f"{f['name']}: {f['doc']}{TAG_PREFIX}{tag}"
    for r in cat["records"]:
        yield f"{prefix}_RECORD_{r['name'].upper()}", record_item(cat, r), f"record {r['name']}"
    for e in cat["enums"]:
        yield f"{prefix}_ENUM_{e['name'].upper()}", enum_item(cat, e), f"enum {e['name']}"
    error = cat["error"]["name"]
    yield f"{prefix}_ERROR_{error.upper()}", error_item(cat), f"error {error}"
    yield f"UNIFFI_META_NAMESPACE_{cat['namespace'].upper()}", namespace_item(cat), f"namespace {cat['namespace']}"


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


# ---- the exported names ---------------------------------------------------------------

def function_exports(cat: dict):
    """Every exported function name, in the linker map's order."""
    ns = cat["namespace"]
    scaffolding = cat["scaffolding"]
    names = [f"uniffi_{ns}_fn_func_{f['name']}" for f in cat["functions"]]
    names += [f"uniffi_{ns}_checksum_func_{f['name']}" for f in cat["functions"]]
    names.append(f"ffi_{ns}_uniffi_contract_version")
    names += [f"ffi_{ns}_rustbuffer_{b}" for b in scaffolding["buffer_functions"]]
    for k in scaffolding["future_kinds"]:
        names += [f"ffi_{ns}_rust_future_{op}_{k}" for op in scaffolding["future_operations"]]
    return names


def expected_counts(cat: dict) -> dict:
    """How many of each export the catalogue describes, counted from its
    parts rather than from the generated lists they are checked against."""
    scaffolding = cat["scaffolding"]
    operations = len(cat["functions"])
    counts = {
        "operations": operations,
        "checksums": operations,
        "contract_version": 1,
        "buffer_functions": len(scaffolding["buffer_functions"]),
        "future_functions": len(scaffolding["future_kinds"]) * len(scaffolding["future_operations"]),
        # a function item each, a record and an enum item each, the error
        # and the namespace
        "metadata_symbols": operations + len(cat["records"]) + len(cat["enums"]) + 2,
    }
    counts["exports"] = sum(counts.values())
    return counts


def export_names(cat: dict, generated):
    names = function_exports(cat) + [s for s, _, _ in generated]
    counts = expected_counts(cat)
    if len(generated) != counts["metadata_symbols"]:
        raise CatalogueError(f"{len(generated)} metadata items, expected {counts['metadata_symbols']}")
    if len(names) != counts["exports"]:
        raise CatalogueError(f"{len(names)} exports, expected {counts['exports']}")
    _distinct("export", names)
    return names


def render_map(names) -> str:
    body = "".join(f"    {n};\n" for n in names)
    return (
        "/* Exactly the exported names of libquenfold_log; everything else, the\n"
        " * linker's own markers included, stays local. Generated by\n"
        " * tools/metadata-gen/metadata_gen.py from its catalogue. */\n"
        "{\n  global:\n" + body + "  local:\n    *;\n};\n"
    )


# ---- the C code the catalogue writes ------------------------------------------
# Adding an operation means adding it to catalogue.json and writing its
# verifier `quenfold::<operation>` (declared in include/quenfold/); the export,
# its prototype, its checksum function, its linker-map entry and the Python
# binding's function are written from here.

SCALAR_C = {"u8": "uint8_t", "u16": "uint16_t", "u32": "uint32_t", "u64": "uint64_t"}
# How the boundary lifts each buffer-borne argument type (src/ffi/lift.h).
LIFT_KIND = {"string": "StringArg", "bytes": "BytesArg", "list<bytes>": "BytesListArg",
             "list<string>": "StringListArg", "optional<bytes>": "OptionalBytesArg",
             "enum CommitmentHash": "CommitmentHashArg"}

C_KEYWORDS = {"namespace"}
GENERATED_NOTE = "Generated by tools/metadata-gen/metadata_gen.py from its catalogue; do not edit."


def c_name(arg: str) -> str:
    return arg + "_" if arg in C_KEYWORDS else arg


def c_type(t: str) -> str:
    return SCALAR_C.get(t, "RustBuffer")


def c_result(t) -> str:
    return "void" if t is None else c_type(t)


def c_parameters(args) -> str:
    return ", ".join([f"{c_type(a['type'])} {c_name(a['name'])}" for a in args] + ["RustCallStatus* status"])


def render_prototypes(cat: dict) -> str:
    ns = cat["namespace"]
    lines = [f"/* {GENERATED_NOTE} */"]
    for f in cat["functions"]:
        lines.append(f"QUENFOLD_LOG_API {c_result(f['result'])} uniffi_{ns}_fn_func_{f['name']}"
                     f"({c_parameters(f['arguments'])});")
    lines.append("")
    lines.append("/* ---- checksums and contract version --------------------------------------- */")
    for f in cat["functions"]:
        lines.append(f"QUENFOLD_LOG_API uint16_t uniffi_{ns}_checksum_func_{f['name']}(void);")
    return "\n".join(lines) + "\n"


def lifted_argument(a: dict) -> str:
    if a["type"] in SCALAR_C:
        return c_name(a["name"])
    if a["type"] not in LIFT_KIND:
        raise CatalogueError(f"the boundary cannot lift an argument of type {a['type']}")
    return f'arg<{LIFT_KIND[a["type"]]}>("{a["name"]}", {c_name(a["name"])})'


def render_exports(cat: dict) -> str:
    lines = [
        "// The exported verifier operations and their checksum functions, one line",
        "// each: QUENFOLD_EXPORT(result, operation, (parameters), lifted arguments...)",
        "// and QUENFOLD_CHECKSUM(operation, value). Included by src/ffi/exports.cpp",
        "// inside extern \"C\".",
        "// " + GENERATED_NOTE,
        "",
    ]
    for f in cat["functions"]:
        lifted = ", ".join(lifted_argument(a) for a in f["arguments"])
        lines.append(f"QUENFOLD_EXPORT({c_result(f['result'])}, {f['name']}, ({c_parameters(f['arguments'])}), {lifted})")
    lines.append("")
    for f in cat["functions"]:
        lines.append(f"QUENFOLD_CHECKSUM({f['name']}, {parse_checksum(f):#06x})")
    return "\n".join(lines) + "\n"


HEADER_BEGIN = "/* ---- verifier operations -------------------------------------------------- */\n"
HEADER_END = "QUENFOLD_LOG_API uint32_t ffi_quenfold_log_uniffi_contract_version(void);\n"


def render_header(cat: dict, current: str) -> str:
    """The public header with its operation block rewritten in place."""
    begin = current.index(HEADER_BEGIN) + len(HEADER_BEGIN)
    end = current.index(HEADER_END, begin)
    return current[:begin] + render_prototypes(cat) + current[end:]


# ---- the Python binding ------------------------------------------------------------
# The binding's names of the argument and result types (python/quenfold_log/
# _library.py lowers and lifts by these); records go by their own name.
PYTHON_KIND = {"u8": "u8", "u16": "u16", "u32": "u32", "u64": "u64", "string": "string",
               "bytes": "bytes", "list<bytes>": "bytes_list", "list<string>": "string_list",
               "optional<bytes>": "optional_bytes", "enum CommitmentHash": "commitment_hash"}
# The annotations of the binding's functions: what a caller passes for an
# argument, and what it gets back. Records and enums are the classes of
# python/quenfold_log/types.py.
PYTHON_ARGUMENT = {"u8": "int", "u16": "int", "u32": "int", "u64": "int", "bool": "bool",
                   "string": "str", "bytes": "bytes", "list<bytes>": "Sequence[bytes]",
                   "list<string>": "Sequence[str]", "optional<bytes>": "Optional[bytes]"}
PYTHON_RESULT = {"u8": "int", "u16": "int", "u32": "int", "u64": "int", "bool": "bool",
                 "string": "str", "bytes": "bytes", "list<bytes>": "List[bytes]",
                 "list<string>": "List[str]", "optional<bytes>": "Optional[bytes]"}
LINE_WIDTH = 99


def python_kind(t):
    if t is None:
        return None
    m = _NAMED.fullmatch(t)
    if m and m.group(1) == "record":
        return m.group(2)
    if t not in PYTHON_KIND:
        raise CatalogueError(f"the Python binding has no kind for type {t}")
    return PYTHON_KIND[t]


def render_python_catalogue(cat: dict) -> str:
    lines = [
        f'"""The operations of libquenfold_log, their arguments, results and checksums.\n\n{GENERATED_NOTE}\n"""',
        "",
        "from typing import Dict, Optional, Tuple",
        "",
        "# operation: (arguments, result kind or None, checksum)",
        "CATALOGUE: Dict[str, Tuple[tuple, Optional[str], int]] = {",
    ]
    for f in cat["functions"]:
        arguments = "".join(f"({a['name']!r}, {python_kind(a['type'])!r}), " for a in f["arguments"])
        lines.append(f"    {f['name']!r}: (({arguments}), {python_kind(f['result'])!r}, {parse_checksum(f)}),")
    lines.append("}")
    return "\n".join(lines) + "\n"


def python_annotation(t, table) -> str:
    if t is None:
        return "None"
    m = _NAMED.fullmatch(t)
    if m:
        return m.group(2)
    return table[t]


def python_docstring(doc: str, indent: str) -> str:
    """The catalogue's paragraph as a docstring: code spans in reST's double
    backquotes, wrapped to the line width."""
    text = re.sub(r"`([^`]+)`", r"``\1``", doc)
    lines = textwrap.wrap(text, width=LINE_WIDTH - len(indent) - 6)
    lines[0] = '"""' + lines[0]
    lines[-1] += '"""'
    return "\n".join(indent + line for line in lines)


def python_def_like(opening: str, pieces, closing: str) -> str:
    """`opening` + the comma-separated `pieces` + `closing`, continued under
    the opening parenthesis where a line would grow too long."""
    lines, current = [], opening
    for i, p in enumerate(pieces):
        piece = p + ("," if i + 1 < len(pieces) else closing)
        sep = "" if current.endswith("(") else " "
        if len(current) + len(sep) + len(piece) > LINE_WIDTH and not current.endswith("("):
            lines.append(current)
            current = " " * len(opening) + piece
        else:
            current += sep + piece
    lines.append(current)
    return "\n".join(lines)


def python_call(f: dict) -> str:
    head = "    " + ("return " if f["result"] is not None else "") + "_call("
    return python_def_like(head, [repr(f["name"])] + [a["name"] for a in f["arguments"]], ")")


def render_python_operations(cat: dict) -> str:
    typing_names, type_names = set(), set()
    functions = []
    for f in cat["functions"]:
        parameters = []
        for a in f["arguments"]:
            annotation = python_annotation(a["type"], PYTHON_ARGUMENT)
            parameters.append(f"{a['name']}: {annotation}")
        result = python_annotation(f["result"], PYTHON_RESULT)
        for annotation in [p.split(": ", 1)[1] for p in parameters] + [result]:
            typing_names.update(n for n in ("List", "Optional", "Sequence") if n + "[" in annotation)
        for t in [a["type"] for a in f["arguments"]] + [f["result"]]:
            m = _NAMED.fullmatch(t or "")
            if m:
                type_names.add(m.group(2))
        functions.append("\n".join([
            python_def_like(f"def {f['name']}(", parameters, f") -> {result}:"),
            python_docstring(f["doc"], "    "),
            python_call(f),
        ]))
    lines = [
        '"""The operations of libquenfold_log, one function each: its arguments are',
        "lowered, the library's export called, and its result lifted (or its",
        "rejection raised) by the loaded library (see ``_library.Library.call``).",
        "",
        GENERATED_NOTE,
        '"""',
        "",
    ]
    if typing_names:
        lines.append(f"from typing import {', '.join(sorted(typing_names))}")
        lines.append("")
    lines.append("from ._library import default_library")
    if type_names:
        lines.append(f"from .types import {', '.join(sorted(type_names))}")
    lines += ["", "__all__ = ["]
    lines += [f"    {f['name']!r}," for f in cat["functions"]]
    lines += ["]", "", "", "def _call(op: str, *args):", "    return default_library().call(op, *args)", ""]
    return "\n".join(lines) + "\n\n" + "\n\n\n".join(functions) + "\n"


def render_python_errors(cat: dict) -> str:
    kinds = cat["error"]["kinds"]
    lines = [
        '"""The kinds of the library\'s one error type and the fixed parts of their',
        "messages, by which ``errors.kind_of`` tells the kind of a message.",
        "",
        GENERATED_NOTE,
        '"""',
        "",
        "import enum",
        "import re",
        "",
        "",
        "class ErrorKind(enum.Enum):",
        '    """Why the library rejected an input: the kinds of the library\'s one error',
        "    type, in its declaration order and with its names. The C ABI carries only",
        '    the message, whose fixed part identifies the kind (see ``kind_of``)."""',
        "",
    ]
    in_api_only = False
    for value, k in enumerate(kinds):
        if k.get("cxx_api_only") and not in_api_only:
            lines += ["    # Kinds of the library's C++ API, also raised by this binding's",
                      "    # compositions (VerifierKeys, CheckpointVerifier)."]
            in_api_only = True
        elif not k.get("cxx_api_only") and in_api_only:
            raise CatalogueError(f"error kind {k['name']} follows the C++ API's own kinds")
        lines.append(f"    {k['name']} = {value}")
    lines += ["", "", "# Whole messages."]
    lines.append("EXACT = {")
    for k in kinds:
        if "message" in k:
            entry = f"    {k['message']!r}: ErrorKind.{k['name']},"
            if len(entry) > LINE_WIDTH:
                entry = f"    {k['message']!r}:\n        ErrorKind.{k['name']},"
            lines.append(entry)
    lines += ["}", "# Prefixes (ending in \": \" or a space) followed by the kind's fields."]
    lines.append("PREFIXES = (")
    lines += [f"    ({k['prefix']!r}, ErrorKind.{k['name']})," for k in kinds if "prefix" in k]
    lines += [")", "# Patterns the whole message matches (no fixed prefix)."]
    lines.append("PATTERNS = (")
    lines += [f"    (re.compile({k['pattern']!r}), ErrorKind.{k['name']})," for k in kinds if "pattern" in k]
    lines.append(")")
    return "\n".join(lines) + "\n"


# ---- the extension library -------------------------------------------------------------
# libquenfold_log_ext exports the C++ API's long-lived values (verifier lists,
# witness policies, checkpoint verifiers) as object handles, and the batch
# checks that need them, in the calling convention of libquenfold_log but
# under a namespace of its own, so that the two libraries share no symbol.
# Its catalogue is tools/metadata-gen/extension.json:
#   imports     records of catalogue.json it uses too (declared again under
#               its own module)
#   functions   name, arguments, result, doc (as in catalogue.json, without
#               a checksum: each checksum is derived from the item)
#   objects     name, doc, constructors [{name, arguments, doc}] and methods
#               [{name, arguments, result, doc}]; a method's first argument
#               is the object's handle, written by this tool
#   records, enums   as in catalogue.json
#   error       name, doc and one variant per error kind of catalogue.json,
#               in the same order, each with its fields [{name, type}]; every
#               variant also carries the message as its last field
# Types add `object Name` (a handle: u64 in C) and `error` (the error enum as
# a value, e.g. in list<optional<error>>).

EXTENSION_PATH = os.path.join(HERE, "extension.json")
EXT_HEADER = os.path.join("include", "quenfold_log_ext.h")
ITEM_FUNCTION, ITEM_METHOD, ITEM_OBJECT, ITEM_CONSTRUCTOR = b"\x00", b"\x01", b"\x04", b"\x07"
# How the extension's boundary lifts each buffer-borne argument type.
EXT_LIFT_KIND = dict(LIFT_KIND, **{"record CheckpointHead": "CheckpointHeadArg",
                                   "list<record InclusionProof>": "InclusionProofListArg",
                                   "list<list<bytes>>": "BytesListListArg",
                                   "optional<record WitnessState>": "OptionalWitnessStateArg",
                                   "enum TileKind": "TileKindArg",
                                   "list<record SubtreeHash>": "SubtreeHashListArg"})
MESSAGE_FIELD = {"name": "message", "type": "string"}


def load_extension(core: dict, path: str = EXTENSION_PATH) -> dict:
    with open(path, encoding="utf-8") as f:
        ext = json.load(f)
    imported = []
    for name in ext.get("imports", {}).get("records", []):
        found = [r for r in core["records"] if r["name"] == name]
        if not found:
            raise CatalogueError(f"imported record {name} is not in catalogue.json")
        imported.append(json.loads(json.dumps(found[0])))
    ext["records"] = imported + ext["records"]
    validate_extension(ext, core)
    return ext


def snake(name: str) -> str:
    return re.sub(r"(?<!^)(?=[A-Z])", "_", name).lower()


def ext_callables(ext: dict):
    """Every exported call of the extension, in export order: the functions,
    then each object's constructors and methods. A method's arguments start
    with the handle `self`."""
    ns = ext["namespace"]
    prefix = meta_prefix(ext)
    out = []
    for f in ext["functions"]:
        out.append(dict(kind="func", object=None, name=f["name"], arguments=f["arguments"],
                        result=f["result"], doc=f["doc"], export=f"uniffi_{ns}_fn_func_{f['name']}",
                        checksum_export=f"uniffi_{ns}_checksum_func_{f['name']}",
                        symbol=f"{prefix}_FUNC_{f['name'].upper()}", callee=f["name"]))
    for o in ext["objects"]:
        lower, upper, obj = o["name"].lower(), o["name"].upper(), snake(o["name"])
        for c in o["constructors"]:
            out.append(dict(kind="constructor", object=o["name"], name=c["name"], arguments=c["arguments"],
                            result=f"object {o['name']}", doc=c["doc"],
                            export=f"uniffi_{ns}_fn_constructor_{lower}_{c['name']}",
                            checksum_export=f"uniffi_{ns}_checksum_constructor_{lower}_{c['name']}",
                            symbol=f"{prefix}_CONSTRUCTOR_{upper}_{c['name'].upper()}",
                            callee=f"{obj}_{c['name']}"))
        for m in o["methods"]:
            out.append(dict(kind="method", object=o["name"], name=m["name"],
                            arguments=[{"name": "self", "type": f"object {o['name']}"}] + m["arguments"],
                            result=m["result"], doc=m["doc"],
                            export=f"uniffi_{ns}_fn_method_{lower}_{m['name']}",
                            checksum_export=f"uniffi_{ns}_checksum_method_{lower}_{m['name']}",
                            symbol=f"{prefix}_METHOD_{upper}_{m['name'].upper()}",
                            callee=f"{obj}_{m['name']}"))
    return out


def validate_extension(ext: dict, core: dict) -> None:
    _distinct("function", (f["name"] for f in ext["functions"]))
    _distinct("type", [r["name"] for r in ext["records"]] + [e["name"] for e in ext["enums"]] +
              [o["name"] for o in ext["objects"]] + [ext["error"]["name"]])
    kinds = [k["name"] for k in core["error"]["kinds"]]
    variants = [v["name"] for v in ext["error"]["variants"]]
    if variants != kinds:
        raise CatalogueError("the extension's error variants are not catalogue.json's error kinds, in order")
    for v in ext["error"]["variants"]:
        _distinct(f"field of error variant {v['name']}:", [fl["name"] for fl in v["fields"]] + ["message"])
        for fl in v["fields"]:
            encode_type(ext, fl["type"])
    for o in ext["objects"]:
        _distinct(f"constructor of {o['name']}:", (c["name"] for c in o["constructors"]))
        _distinct(f"method of {o['name']}:", (m["name"] for m in o["methods"]))
    for c in ext_callables(ext):
        what = f"{c['object']}.{c['name']}" if c["object"] else c["name"]
        _distinct(f"argument of {what}:", (a["name"] for a in c["arguments"]))
        for a in c["arguments"]:
            encode_type(ext, a["type"])
        if c["result"] is not None:
            encode_type(ext, c["result"])
        if "\n" in c["doc"]:
            raise CatalogueError(f"documentation of {what} is not one paragraph")
    for r in ext["records"]:
        _distinct(f"field of {r['name']}:", (fl["name"] for fl in r["fields"]))
        for fl in r["fields"]:
            encode_type(ext, fl["type"])
    for e in ext["enums"]:
        _distinct(f"variant of {e['name']}:", (v["name"] for v in e["variants"]))


def ext_call_item(ext: dict, c: dict) -> bytes:
    args = c["arguments"][1:] if c["kind"] == "method" else c["arguments"]
    if c["kind"] == "func":
        out = ITEM_FUNCTION + short_text(ext["module"]) + short_text(c["name"])
    else:
        code = ITEM_CONSTRUCTOR if c["kind"] == "constructor" else ITEM_METHOD
        out = code + short_text(ext["module"]) + short_text(c["object"]) + short_text(c["name"])
    out += b"\x00\x00" + bytes([len(args)])
    for a in args:
        out += short_text(a["name"]) + encode_type(ext, a["type"]) + b"\x00\x00"
    error = named_type(ext, "enum", ext["error"]["name"])
    return out + b"\x17" + encode_result(ext, c["result"]) + error + doc_text(c["doc"])


def ext_checksum(ext: dict, c: dict) -> int:
    return fold16(fnv1a(ext_call_item(ext, c)))


def ext_object_item(ext: dict, o: dict) -> bytes:
    return ITEM_OBJECT + short_text(ext["module"]) + short_text(o["name"]) + b"\x00" + doc_text(o["doc"])


def ext_error_fields(v: dict):
    return v["fields"] + [MESSAGE_FIELD]


def ext_error_item(ext: dict) -> bytes:
    error = ext["error"]
    variants = error["variants"]
    out = b"\x03" + short_text(ext["module"]) + short_text(error["name"]) + b"\x00\x02\x00" + bytes([len(variants)])
    for v in variants:
        fields = ext_error_fields(v)
        out += short_text(v["name"]) + b"\x00" + bytes([len(fields)])
        for fl in fields:
            out += short_text(fl["name"]) + b"\x00" + encode_type(ext, fl["type"]) + b"\x00" + doc_text("")
        out += doc_text("")
    return out + b"\x00" + doc_text(error["doc"])


def ext_items(ext: dict):
    prefix = meta_prefix(ext)
    for c in ext_callables(ext):
        yield c["symbol"], ext_call_item(ext, c), f"{c['export']}: {c['doc']}"
    for o in ext["objects"]:
        yield f"{prefix}_INTERFACE_{o['name'].upper()}", ext_object_item(ext, o), f"object {o['name']}"
    for r in ext["records"]:
        yield f"{prefix}_RECORD_{r['name'].upper()}", record_item(ext, r), f"record {r['name']}"
    for e in ext["enums"]:
        yield f"{prefix}_ENUM_{e['name'].upper()}", enum_item(ext, e), f"enum {e['name']}"
    error = ext["error"]["name"]
    yield f"{prefix}_ERROR_{error.upper()}", ext_error_item(ext), f"error {error}"
    yield f"UNIFFI_META_NAMESPACE_{ext['namespace'].upper()}", namespace_item(ext), f"namespace {ext['namespace']}"


def ext_function_exports(ext: dict):
    ns = ext["namespace"]
    calls = ext_callables(ext)
    names = [c["export"] for c in calls]
    for o in ext["objects"]:
        names += [f"uniffi_{ns}_fn_clone_{o['name'].lower()}", f"uniffi_{ns}_fn_free_{o['name'].lower()}"]
    names += [c["checksum_export"] for c in calls]
    names.append(f"ffi_{ns}_uniffi_contract_version")
    names += [f"ffi_{ns}_rustbuffer_{b}" for b in ext["scaffolding"]["buffer_functions"]]
    return names


def ext_export_names(ext: dict, generated, core_names):
    names = ext_function_exports(ext) + [s for s, _, _ in generated]
    calls = len(ext_callables(ext))
    want = (2 * calls + 2 * len(ext["objects"]) + 1 + len(ext["scaffolding"]["buffer_functions"]) +
            calls + len(ext["objects"]) + len(ext["records"]) + len(ext["enums"]) + 2)
    if len(names) != want:
        raise CatalogueError(f"{len(names)} extension exports, expected {want}")
    _distinct("export", names)
    shared = sorted(set(names) & set(core_names))
    if shared:
        raise CatalogueError(f"the extension would export names of libquenfold_log: {', '.join(shared)}")
    return names


def render_ext_map(names) -> str:
    body = "".join(f"    {n};\n" for n in names)
    return (
        "/* Exactly the exported names of libquenfold_log_ext; everything else, the\n"
        " * core library's own entry points included, stays local. Generated by\n"
        " * tools/metadata-gen/metadata_gen.py from extension.json. */\n"
        "{\n  global:\n" + body + "  local:\n    *;\n};\n"
    )


def ext_c_type(t) -> str:
    if t is None:
        return "void"
    if t.startswith("object ") or t == "u64":
        return "uint64_t"
    return SCALAR_C.get(t, "RustBuffer")


def ext_c_parameters(args) -> str:
    return ", ".join([f"{ext_c_type(a['type'])} {c_name(a['name'])}" for a in args] + ["RustCallStatus* status"])


def ext_lifted_argument(a: dict) -> str:
    if a["type"] in SCALAR_C:
        return c_name(a["name"])
    m = _NAMED.fullmatch(a["type"])
    if m and m.group(1) == "object":
        return f'handle<{m.group(2)}>("{a["name"]}", {c_name(a["name"])})'
    if a["type"] not in EXT_LIFT_KIND:
        raise CatalogueError(f"the extension cannot lift an argument of type {a['type']}")
    return f'arg<{EXT_LIFT_KIND[a["type"]]}>("{a["name"]}", {c_name(a["name"])})'


def render_ext_exports(ext: dict) -> str:
    lines = [
        "// The extension's exports, one line each:",
        "//   QUENFOLD_EXT_CALL(result, export, (parameters), callee, lifted arguments...)",
        "//   QUENFOLD_EXT_OBJECT(Type, clone export, free export)",
        "//   QUENFOLD_EXT_CHECKSUM(export, value)",
        "//   QUENFOLD_EXT_CONTRACT_VERSION(export, value)",
        "// Included by src/ffi/extension/exports.cpp inside extern \"C\".",
        "// " + GENERATED_NOTE,
        "",
    ]
    ns = ext["namespace"]
    calls = ext_callables(ext)
    for c in calls:
        lifted = "".join(", " + ext_lifted_argument(a) for a in c["arguments"])
        lines.append(f"QUENFOLD_EXT_CALL({ext_c_type(c['result'])}, {c['export']}, "
                     f"({ext_c_parameters(c['arguments'])}), {c['callee']}{lifted})")
    lines.append("")
    for o in ext["objects"]:
        lower = o["name"].lower()
        lines.append(f"QUENFOLD_EXT_OBJECT({o['name']}, uniffi_{ns}_fn_clone_{lower}, uniffi_{ns}_fn_free_{lower})")
    lines.append("")
    for c in calls:
        lines.append(f"QUENFOLD_EXT_CHECKSUM({c['checksum_export']}, {ext_checksum(ext, c):#06x})")
    lines.append(f"QUENFOLD_EXT_CONTRACT_VERSION(ffi_{ns}_uniffi_contract_version, {ext['contract_version']})")
    return "\n".join(lines) + "\n"


def render_ext_header(ext: dict, generated) -> str:
    ns = ext["namespace"]
    calls = ext_callables(ext)
    lines = [
        "/*",
        " * quenfold_log_ext: the C++ API's long-lived values and batch checks as a",
        " * flat C ABI, in the calling convention of quenfold_log.h (RustBuffer",
        " * arguments and results, a RustCallStatus out-parameter, a checksum per",
        " * call, a contract version, buffer functions and interface metadata).",
        " *",
        " * Objects are handles: a constructor returns a uint64_t handle to a",
        " * shared, immutable value; methods take it first (as `self`). Handles",
        " * passed as arguments are borrowed: each call takes its own reference",
        " * at entry, so the caller keeps its handle and may free it while the",
        " * call runs on another thread. `clone` returns a new handle to the same",
        " * value; `free` releases one handle, once. A handle must come from this",
        " * library and not have been freed (zero, misaligned and other objects'",
        " * handles are refused with status 2).",
        " *",
        " * A rejection (status 1) carries a serialized VerifyError: i32 variant",
        " * (the error kind, from 1), the kind's fields, then the message, all",
        " * big-endian as other values. Buffers returned by this library are",
        " * released with ffi_quenfold_log_ext_rustbuffer_free, never with the",
        " * core library's function.",
        " *",
        f" * {GENERATED_NOTE}",
        " */",
        "#ifndef QUENFOLD_LOG_EXT_H",
        "#define QUENFOLD_LOG_EXT_H",
        "",
        "/* RustBuffer, ForeignBytes, RustCallStatus and QUENFOLD_LOG_API. */",
        '#include "quenfold_log.h"',
        "",
        "#ifdef __cplusplus",
        'extern "C" {',
        "#endif",
        "",
        "/* ---- buffers ------------------------------------------------------------ */",
        f"QUENFOLD_LOG_API RustBuffer ffi_{ns}_rustbuffer_alloc(uint64_t size, RustCallStatus* status);",
        f"QUENFOLD_LOG_API RustBuffer ffi_{ns}_rustbuffer_from_bytes(ForeignBytes bytes, RustCallStatus* status);",
        f"QUENFOLD_LOG_API void ffi_{ns}_rustbuffer_free(RustBuffer buf, RustCallStatus* status);",
        f"QUENFOLD_LOG_API RustBuffer ffi_{ns}_rustbuffer_reserve(RustBuffer buf, uint64_t additional, RustCallStatus* status);",
        "",
        "/* ---- functions, constructors and methods ------------------------------------ */",
    ]
    for c in calls:
        lines.append(f"QUENFOLD_LOG_API {ext_c_type(c['result'])} {c['export']}({ext_c_parameters(c['arguments'])});")
    lines += ["", "/* ---- handles ---------------------------------------------------------------- */"]
    for o in ext["objects"]:
        lower = o["name"].lower()
        lines.append(f"QUENFOLD_LOG_API uint64_t uniffi_{ns}_fn_clone_{lower}(uint64_t handle, RustCallStatus* status);")
        lines.append(f"QUENFOLD_LOG_API void uniffi_{ns}_fn_free_{lower}(uint64_t handle, RustCallStatus* status);")
    lines += ["", "/* ---- checksums and contract version --------------------------------------- */"]
    for c in calls:
        lines.append(f"QUENFOLD_LOG_API uint16_t {c['checksum_export']}(void);")
    lines.append(f"QUENFOLD_LOG_API uint32_t ffi_{ns}_uniffi_contract_version(void);")
    lines += ["", "/* ---- interface description for bindings generators ----------------------- */",
              "#define QUENFOLD_EXT_META(name) QUENFOLD_LOG_API extern const uint8_t name[];"]
    lines += [f"QUENFOLD_EXT_META({s})" for s, _, _ in generated]
    lines += ["#undef QUENFOLD_EXT_META", "", "#ifdef __cplusplus", "}", "#endif", "",
              "#endif /* QUENFOLD_LOG_EXT_H */"]
    return "\n".join(lines) + "\n"


def render_ext_metadata(generated) -> str:
    head = (
        "// The extension's interface description: one read-only byte array per\n"
        "// item. Generated by tools/metadata-gen/metadata_gen.py from extension.json.\n"
        "// Included by src/ffi/extension/catalogue.cpp inside extern \"C\".\n"
    )
    return head + "\n" + "\n\n".join(render_array(s, d, c) for s, d, c in generated) + "\n"


def python_type_literal(t) -> str:
    return repr(t)


def render_python_extension(ext: dict) -> str:
    """The Python binding's side of the extension: the call table with the
    checksums, the records, enums and error variants, and a class per object."""
    calls = ext_callables(ext)
    imported = set(ext.get("imports", {}).get("records", []))
    bases = sorted({r["python_base"] for r in ext["records"] if "python_base" in r})
    lines = [
        '"""The extension library (libquenfold_log_ext): its calls, records, enums,',
        "error variants and objects.",
        "",
        GENERATED_NOTE,
        '"""',
        "",
        "import enum",
        "from dataclasses import dataclass",
        "from typing import Dict, List, Optional, Sequence, Tuple",
        "",
    ]
    if bases:
        lines.append(f"from ._mixins import {', '.join(bases)}")
    lines.append("from ._objects import Handle, extension_call")
    lines.append("from .errors import VerificationError")
    if imported:
        lines.append(f"from .types import {', '.join(sorted(imported))}")
    lines += ["", f"NAMESPACE = {ext['namespace']!r}", f"CONTRACT_VERSION = {ext['contract_version']}",
              "# export: (arguments [(name, type)], result type or None, checksum export, checksum)",
              "CALLS: Dict[str, Tuple[tuple, Optional[str], str, int]] = {"]
    for c in calls:
        args = "".join(f"({a['name']!r}, {a['type']!r}), " for a in c["arguments"])
        lines.append(f"    {c['export']!r}: (({args}), {c['result']!r}, {c['checksum_export']!r}, "
                     f"{ext_checksum(ext, c)}),")
    lines += ["}", "# The metadata symbol of every call, by export.", "METADATA: Dict[str, str] = {"]
    lines += [f"    {c['export']!r}: {c['symbol']!r}," for c in calls]
    lines += ["}", "# Handle functions of each object: (clone export, free export).",
              "HANDLES: Dict[str, Tuple[str, str]] = {"]
    ns = ext["namespace"]
    for o in ext["objects"]:
        lower = o["name"].lower()
        lines.append(f"    {o['name']!r}: ('uniffi_{ns}_fn_clone_{lower}', 'uniffi_{ns}_fn_free_{lower}'),")
    lines += ["}", "# Record fields in serialized order.", "RECORD_FIELDS: Dict[str, Tuple[Tuple[str, str], ...]] = {"]
    for r in ext["records"]:
        fields = "".join(f"({fl['name']!r}, {fl['type']!r}), " for fl in r["fields"])
        lines.append(f"    {r['name']!r}: ({fields}),")
    lines += ["}", "# Error variants (from 1) and their fields, the message last.",
              "ERROR_VARIANTS: Tuple[Tuple[str, Tuple[Tuple[str, str], ...]], ...] = ("]
    for v in ext["error"]["variants"]:
        fields = "".join(f"({fl['name']!r}, {fl['type']!r}), " for fl in ext_error_fields(v))
        lines.append(f"    ({v['name']!r}, ({fields})),")
    lines += [")", ""]
    for e in ext["enums"]:
        lines += ["", f"class {e['name']}(enum.Enum):", f'    """{e["doc"]}"""', ""]
        lines += [f"    {v['name']} = {i}" for i, v in enumerate(e["variants"], 1)]
        lines.append("")
    for r in ext["records"]:
        if r["name"] in imported:
            continue
        base = f"({r['python_base']})" if "python_base" in r else ""
        lines += ["", "@dataclass(frozen=True)", f"class {r['name']}{base}:", f'    """{r["doc"]}"""', ""]
        for fl in r["fields"]:
            lines.append(f"    {fl['name']}: {python_ext_annotation(fl['type'])}")
        lines.append("")
    for o in ext["objects"]:
        lines += ["", f"class {o['name']}(Handle):", python_docstring(o["doc"], "    "), "",
                  f"    TYPE = {o['name']!r}"]
        for c in calls:
            if c["object"] != o["name"]:
                continue
            own = c["arguments"][1:] if c["kind"] == "method" else c["arguments"]
            params = [f"{a['name']}: {python_ext_annotation(a['type'], True)}" for a in own]
            names = [a["name"] for a in own]
            if c["kind"] == "constructor":
                lines += ["", "    @classmethod",
                          python_def_like(f"    def {c['name']}(", ["cls"] + params, f") -> \"{o['name']}\":"),
                          python_docstring(c["doc"], "        "),
                          python_def_like("        return cls._construct(", [repr(c["export"])] + names, ")")]
            else:
                lines += ["", python_def_like(f"    def {c['name']}(", ["self"] + params,
                                              f") -> {python_ext_annotation(c['result'])}:"),
                          python_docstring(c["doc"], "        "),
                          python_def_like("        return self._call(", [repr(c["export"])] + names, ")")]
        lines.append("")
    for c in calls:
        if c["kind"] != "func":
            continue
        params = [f"{a['name']}: {python_ext_annotation(a['type'], True)}" for a in c["arguments"]]
        lines += ["", python_def_like(f"def {c['name']}(", params, f") -> {python_ext_annotation(c['result'])}:"),
                  python_docstring(c["doc"], "    "),
                  python_def_like("    return extension_call(", [repr(c["export"])] + [a["name"] for a in c["arguments"]], ")"),
                  ""]
    return "\n".join(lines).rstrip("\n") + "\n"


_PY_SCALARS = {"u8": "int", "u16": "int", "u32": "int", "u64": "int", "bool": "bool", "string": "str",
               "bytes": "bytes", "error": "VerificationError"}


def python_ext_annotation(t, argument: bool = False) -> str:
    if t is None:
        return "None"
    if t in _PY_SCALARS:
        return _PY_SCALARS[t]
    m = _GENERIC.fullmatch(t)
    if m:
        inner = python_ext_annotation(m.group(2), argument)
        if m.group(1) == "optional":
            return f"Optional[{inner}]"
        return f"Sequence[{inner}]" if argument else f"List[{inner}]"
    m = _NAMED.fullmatch(t)
    if m:
        return f'"{m.group(2)}"'
    raise CatalogueError(f"the Python binding has no annotation for type {t}")


def extension_outputs(core: dict, ext: dict, root: str = ROOT) -> dict:
    generated = list(ext_items(ext))
    core_names = export_names(core, list(items_without_tags(core)))
    names = ext_export_names(ext, generated, core_names)
    return {
        os.path.join(root, "src", "ffi", "extension", "metadata.inc"): render_ext_metadata(generated),
        os.path.join(root, "cmake", "quenfold_log_ext.map"): render_ext_map(names),
        os.path.join(root, "src", "ffi", "extension", "exports.inc"): render_ext_exports(ext),
        os.path.join(root, EXT_HEADER): render_ext_header(ext, generated),
        os.path.join(root, "python", "quenfold_log", "_extension.py"): render_python_extension(ext),
    }


def items_without_tags(cat: dict):
    """The core's metadata symbols, without searching the checksum tags
    (only the names are needed)."""
    prefix = meta_prefix(cat)
    for f in cat["functions"]:
        yield f"{prefix}_FUNC_{f['name'].upper()}", b"", ""
    for r in cat["records"]:
        yield f"{prefix}_RECORD_{r['name'].upper()}", b"", ""
    for e in cat["enums"]:
        yield f"{prefix}_ENUM_{e['name'].upper()}", b"", ""
    yield f"{prefix}_ERROR_{cat['error']['name'].upper()}", b"", ""
    yield f"UNIFFI_META_NAMESPACE_{cat['namespace'].upper()}", b"", ""


# ---- writing and checking ------------------------------------------------------------

def outputs(cat: dict, root: str = ROOT) -> dict:
    """Every generated file's path and its content. The header's content is
    None when the header is missing: only its operation block is generated,
    the rest is written by hand."""
    generated = list(items(cat))
    names = export_names(cat, generated)
    header = os.path.join(root, "include", "quenfold_log.h")
    try:
        with open(header, encoding="utf-8") as f:
            header_text = render_header(cat, f.read())
    except FileNotFoundError:
        header_text = None
    python = os.path.join(root, "python", "quenfold_log")
    return {
        os.path.join(root, "src", "ffi", "metadata.inc"): render_metadata(generated),
        os.path.join(root, "cmake", "quenfold_log.map"): render_map(names),
        os.path.join(root, "src", "ffi", "exports.inc"): render_exports(cat),
        header: header_text,
        os.path.join(python, "_catalogue.py"): render_python_catalogue(cat),
        os.path.join(python, "_operations.py"): render_python_operations(cat),
        os.path.join(python, "_errors.py"): render_python_errors(cat),
    }


def stale_files(files: dict, root: str = ROOT):
    """The generated files (relative to `root`) whose content differs from
    what the catalogue gives, missing ones included."""
    stale = []
    for path, content in files.items():
        try:
            with open(path, encoding="utf-8") as f:
                current = f.read()
        except FileNotFoundError:
            current = None
        if current is None or current != content:
            stale.append(os.path.relpath(path, root))
    return stale


def main(argv) -> int:
    try:
        cat = load()
        files = outputs(cat)
    except CatalogueError as e:
        print(f"tools/metadata-gen/catalogue.json: {e}", file=sys.stderr)
        return 2
    try:
        ext = load_extension(cat)
        files.update(extension_outputs(cat, ext))
    except CatalogueError as e:
        print(f"tools/metadata-gen/extension.json: {e}", file=sys.stderr)
        return 2
    try:
        java = java_binding.outputs(sys.modules[__name__], cat, ext, ROOT)
    except java_binding.JavaError as e:
        print(f"tools/metadata-gen: {e}", file=sys.stderr)
        return 2
    if "--java-dir" in argv:
        # A binding generated afresh, for a test that compares it with the
        # libraries: only the Java sources, under the given directory.
        target = os.path.abspath(argv[argv.index("--java-dir") + 1])
        for path, content in java.items():
            out = os.path.join(target, os.path.relpath(path, ROOT))
            os.makedirs(os.path.dirname(out), exist_ok=True)
            with open(out, "w", encoding="utf-8") as f:
                f.write(content)
        print(f"{len(java)} Java sources written under {target}")
        return 0
    files.update(java)
    if "--check" in argv:
        stale = stale_files(files)
        if stale:
            print("out of date (re-run tools/metadata-gen/metadata_gen.py): " + ", ".join(stale))
            return 1
        print("generated files are up to date")
        return 0
    missing = [os.path.relpath(p, ROOT) for p, content in files.items() if content is None]
    if missing:
        print(f"{', '.join(missing)} missing: only a block of it is generated", file=sys.stderr)
        return 2
    for path, content in files.items():
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(content)
    for f in cat["functions"]:
        print(f"{f['name']}: checksum {parse_checksum(f):#06x}")
    for c in ext_callables(ext):
        print(f"{c['export']}: checksum {ext_checksum(ext, c):#06x}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
