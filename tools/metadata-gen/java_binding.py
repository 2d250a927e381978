"""The JVM binding's generated sources, from both catalogues (catalogue.json
and extension.json), written by metadata_gen.py beside the Python binding's
tables and checked with it.

Everything here restates the catalogues in Java; the binding's own machinery
(loading and checking the libraries, buffers, the codec, handles and
exceptions) is written by hand in java/src/main/java/org/quenfold/log/ and
called by what this writes:
  Catalogue.java        contract versions, every checksum export with its
                        published value and metadata symbol (standalone: a
                        test compiles a fresh copy of it alone)
  CoreNative.java,      the exports of each library as JNA direct-mapped
  ExtNative.java        native methods
  QuenfoldLog.java      one static method per operation of both libraries
  ErrorKind.java        the error kinds with the fixed parts of their messages
  ExtensionErrors.java  the extension's serialized VerifyError variants
  one file per record, enum and object (objects are AutoCloseable handles)

Types map as: u8, u16 to int; u32, u64 to long (u64 is unsigned: read it
with Long.toUnsignedString); bool to boolean; string to String; bytes to
byte[]; list<T> to List<T>; optional<T> to a nullable argument and an
Optional<T> result or field; records to Java records; enums to Java enums
whose ordinal + 1 is the variant index.
"""

import os
import re
import textwrap

PACKAGE = "org.quenfold.log"
SOURCE_DIR = os.path.join("java", "src", "main", "java", *PACKAGE.split("."))
# The core library's contract version (ffi_quenfold_log_uniffi_contract_version
# in src/ffi/catalogue.cpp); catalogue.json predates the field.
CORE_CONTRACT_VERSION = 30
# Conveniences of generated records, named by their `python_base` in
# extension.json: a verified checkpoint reads like its head.
HEAD_ACCESSORS = [("String", "origin"), ("long", "size"), ("byte[]", "root"), ("List<String>", "extensions")]

_GENERIC = re.compile(r"(list|optional)<(.+)>")
_NAMED = re.compile(r"(record|enum|object) ([A-Za-z_][A-Za-z0-9_]*)")
_BOXED = {"int": "Integer", "long": "Long", "boolean": "Boolean"}
_SCALAR = {"u8": "int", "u16": "int", "u32": "long", "u64": "long", "bool": "boolean", "string": "String",
           "bytes": "byte[]", "error": "VerificationException"}
_NATIVE = {"u8": "byte", "u16": "short", "u32": "int", "u64": "long"}
WIDTH = 110


class JavaError(Exception):
    """A catalogue type the JVM binding has no mapping for."""


def camel(name: str) -> str:
    head, *rest = name.split("_")
    return head + "".join(p[:1].upper() + p[1:] for p in rest)


def java_type(t: str) -> str:
    if t in _SCALAR:
        return _SCALAR[t]
    m = _GENERIC.fullmatch(t)
    if m:
        inner = java_type(m.group(2))
        return f"{'List' if m.group(1) == 'list' else 'Optional'}<{_BOXED.get(inner, inner)}>"
    m = _NAMED.fullmatch(t)
    if m:
        return m.group(2)
    raise JavaError(f"the JVM binding has no type for {t}")


def argument_type(t: str) -> str:
    """An optional argument is its inner type, null for absent."""
    m = _GENERIC.fullmatch(t)
    if m and m.group(1) == "optional":
        inner = java_type(m.group(2))
        return _BOXED.get(inner, inner)
    return java_type(t)


def is_reference(t: str) -> bool:
    return java_type(t) not in ("int", "long", "boolean")


def write_code(t: str, value: str, w: str = "w", depth: int = 1) -> str:
    """A Java expression appending `value` (of catalogue type t) to writer `w`."""
    if t in ("u8", "u16", "u32", "u64", "bool", "string", "bytes"):
        method = {"bool": "bool"}.get(t, t)
        return f"{w}.{method}({value})"
    m = _GENERIC.fullmatch(t)
    if m:
        w2, e2 = f"w{depth}", f"e{depth}"
        return f"{w}.{m.group(1)}({value}, ({w2}, {e2}) -> {write_code(m.group(2), e2, w2, depth + 1)})"
    m = _NAMED.fullmatch(t)
    if m and m.group(1) in ("record", "enum"):
        return f"{value}.write({w})"
    raise JavaError(f"the JVM binding cannot write a value of type {t}")


def read_code(t: str, r: str = "r", depth: int = 1) -> str:
    """A Java expression reading one value of catalogue type t from reader `r`."""
    if t in ("u8", "u16", "u32", "u64", "bool", "string", "bytes"):
        return f"{r}.{t}()"
    if t == "error":
        return f"ExtensionErrors.read({r})"
    m = _GENERIC.fullmatch(t)
    if m:
        r2 = f"r{depth}"
        return f"{r}.{m.group(1)}({r2} -> {read_code(m.group(2), r2, depth + 1)})"
    m = _NAMED.fullmatch(t)
    if m and m.group(1) in ("record", "enum"):
        return f"{m.group(2)}.read({r})"
    raise JavaError(f"the JVM binding cannot read a value of type {t}")


def native_type(t) -> str:
    if t is None:
        return "void"
    if t.startswith("object "):
        return "long"
    return _NATIVE.get(t, "RustBuffer.ByValue")


def javadoc(doc: str, indent: str) -> str:
    text = re.sub(r"`([^`]+)`", r"{@code \1}", doc).replace("*/", "*&#47;")
    lines = textwrap.wrap(text, width=WIDTH - len(indent) - 3)
    if len(lines) == 1 and len(lines[0]) + len(indent) + 7 <= WIDTH:
        return f"{indent}/** {lines[0]} */"
    return "\n".join([f"{indent}/**"] + [f"{indent} * {line}" for line in lines] + [f"{indent} */"])


def header(note: str, imports=()) -> list:
    lines = [f"// {note}", f"package {PACKAGE};", ""]
    if imports:
        lines += [f"import {i};" for i in sorted(imports)] + [""]
    return lines


# ---- the calls -------------------------------------------------------------------------

def core_calls(gen, core: dict) -> list:
    """The core library's operations in the shape of the extension's calls."""
    ns = core["namespace"]
    prefix = gen.meta_prefix(core)
    return [dict(kind="func", object=None, name=f["name"], arguments=f["arguments"], result=f["result"],
                 doc=f["doc"], export=f"uniffi_{ns}_fn_func_{f['name']}",
                 checksum_export=f"uniffi_{ns}_checksum_func_{f['name']}",
                 symbol=f"{prefix}_FUNC_{f['name'].upper()}", checksum=gen.parse_checksum(f), library="core")
            for f in core["functions"]]


def ext_calls(gen, ext: dict) -> list:
    out = []
    for c in gen.ext_callables(ext):
        out.append(dict(c, checksum=gen.ext_checksum(ext, c), library="ext"))
    return out


def lowered_argument(a: dict) -> str:
    """The Java expression passed to the native method for one argument,
    inside a `try (Call c = ...)` block; buffers come from `c`."""
    t, name = a["type"], camel(a["name"])
    if name == "self":
        return "c.borrow(this)"
    if t.startswith("object "):
        return f"c.borrow({name})"
    if t in _NATIVE:
        return f"Codec.{t}(\"{a['name']}\", {name})" if t != "u64" else name
    if t == "string":
        # A string argument is its raw UTF-8, no length prefix.
        return f"c.text({name})"
    m = _GENERIC.fullmatch(t)
    if m and m.group(1) == "optional":
        return f"c.buffer(w -> w.nullable({name}, (w1, e1) -> {write_code(m.group(2), 'e1', 'w1', 2)}))"
    return f"c.buffer(w -> {write_code(t, name)})"


def call_method(c: dict, static: bool) -> str:
    """One public method running call `c`."""
    args = c["arguments"][1:] if c["kind"] == "method" else c["arguments"]
    params = ", ".join(f"{argument_type(a['type'])} {camel(a['name'])}" for a in args)
    native = "CoreNative" if c["library"] == "core" else "ExtNative"
    lowered = [lowered_argument(a) for a in c["arguments"]] + ["c.status()"]
    invocation = f"{native}.{c['export']}({', '.join(lowered)})"
    result = c["result"]
    if c["kind"] == "constructor":
        result_type, body = c["object"], f"return new {c['object']}(c.handle({invocation}));"
    elif result is None:
        result_type, body = "void", f"{invocation};\n            c.check();"
    elif result.startswith("object "):
        name = result.split(" ", 1)[1]
        result_type, body = name, f"return new {name}(c.handle({invocation}));"
    elif result == "u32":
        result_type, body = "long", f"return Integer.toUnsignedLong(c.scalar({invocation}));"
    elif result == "u64":
        result_type, body = "long", f"return c.scalar({invocation});"
    elif result == "string" and c["library"] == "ext":
        result_type, body = "String", f"return c.liftString({invocation});"
    else:
        result_type, body = java_type(result), f"return c.lift({invocation}, r -> {read_code(result)});"
    name = camel(c["name"])
    checks = [f"        Objects.requireNonNull({camel(a['name'])}, \"{camel(a['name'])}\");"
              for a in args if is_reference(a["type"]) and not a["type"].startswith("optional<")]
    call = "Call.core()" if c["library"] == "core" else "Call.extension()"
    lines = [javadoc(c["doc"], "    "),
             f"    public {'static ' if static else ''}{result_type} {name}({params}) {{"]
    lines += checks
    lines += [f"        try (Call c = {call}) {{", f"            {body}", "        }", "    }"]
    return "\n".join(lines)


# ---- the files --------------------------------------------------------------------------

def render_catalogue(gen, core: dict, ext: dict, note: str) -> str:
    lines = header(note, ["java.util.Collections", "java.util.LinkedHashMap", "java.util.Map"])
    lines += [
        "/**",
        " * The interface this binding was generated for: each library's namespace and",
        " * contract version, and for every call its checksum export, the published",
        " * checksum and the metadata symbol whose bytes hash to it. The libraries are",
        " * refused at load when any of these differs. Standalone (only java.util), so",
        " * that a copy generated afresh can be compiled and compared on its own.",
        " */",
        "public final class Catalogue {",
        "    private Catalogue() {}",
        "",
        f"    public static final String CORE_NAMESPACE = \"{core['namespace']}\";",
        f"    public static final int CORE_CONTRACT_VERSION = {CORE_CONTRACT_VERSION};",
        f"    public static final String EXT_NAMESPACE = \"{ext['namespace']}\";",
        f"    public static final int EXT_CONTRACT_VERSION = {ext['contract_version']};",
        "",
    ]
    for which, calls in (("CORE", core_calls(gen, core)), ("EXT", ext_calls(gen, ext))):
        lines.append(f"    /** Checksum export to published checksum, in export order. */")
        lines.append(f"    public static final Map<String, Integer> {which}_CHECKSUMS;")
        lines.append(f"    /** Checksum export to the metadata symbol of the same call. */")
        lines.append(f"    public static final Map<String, String> {which}_METADATA;")
    lines.append("")
    lines.append("    static {")
    for which, calls in (("CORE", core_calls(gen, core)), ("EXT", ext_calls(gen, ext))):
        lines.append("        {")
        lines.append("            Map<String, Integer> checksums = new LinkedHashMap<>();")
        lines.append("            Map<String, String> metadata = new LinkedHashMap<>();")
        for c in calls:
            lines.append(f"            checksums.put(\"{c['checksum_export']}\", {c['checksum']:#06x});")
            lines.append(f"            metadata.put(\"{c['checksum_export']}\", \"{c['symbol']}\");")
        lines.append(f"            {which}_CHECKSUMS = Collections.unmodifiableMap(checksums);")
        lines.append(f"            {which}_METADATA = Collections.unmodifiableMap(metadata);")
        lines.append("        }")
    lines += ["    }", "}"]
    return "\n".join(lines) + "\n"


def render_natives(cls: str, doc: str, namespace: str, calls: list, objects: list, note: str) -> str:
    lines = header(note, ["com.sun.jna.Native", "com.sun.jna.NativeLibrary", "com.sun.jna.Pointer"])
    lines += [f"/** {doc} */", f"final class {cls} {{", f"    private {cls}() {{}}", "",
              "    static void bind(NativeLibrary library) {",
              f"        Native.register({cls}.class, library);", "    }", "",
              f"    static native RustBuffer.ByValue ffi_{namespace}_rustbuffer_alloc(long size, Pointer status);",
              f"    static native void ffi_{namespace}_rustbuffer_free(RustBuffer.ByValue buf, Pointer status);", ""]
    for c in calls:
        params = [f"{native_type(a['type'])} {a['name']}" for a in c["arguments"]] + ["Pointer status"]
        lines.append(f"    static native {native_type(c['result'])} {c['export']}({', '.join(params)});")
    for o in objects:
        lines.append(f"    static native void uniffi_{namespace}_fn_free_{o['name'].lower()}(long handle, Pointer status);")
    lines.append("}")
    return "\n".join(lines) + "\n"


def render_operations(core_c: list, ext_c: list, note: str) -> str:
    funcs = core_c + [c for c in ext_c if c["kind"] == "func"]
    lines = header(note, ["java.util.List", "java.util.Objects", "java.util.Optional"])
    lines += [
        "/**",
        " * The operations of libquenfold_log and the functions of libquenfold_log_ext,",
        " * one static method each: arguments are checked and serialized before any",
        " * buffer is handed to the library, and a rejection is thrown as a",
        " * {@link VerificationException} carrying the library's exact message and its",
        " * {@link ErrorKind}. Both libraries are loaded and checked on first use (see",
        " * {@link Libraries}).",
        " */",
        "public final class QuenfoldLog {",
        "    private QuenfoldLog() {}",
    ]
    for c in funcs:
        lines += ["", call_method(c, static=True)]
    lines.append("}")
    return "\n".join(lines) + "\n"


def render_record(r: dict, note: str) -> str:
    fields = r["fields"]
    comps = ", ".join(f"{java_type(f['type'])} {camel(f['name'])}" for f in fields)
    lines = header(note, ["java.util.List", "java.util.Objects", "java.util.Optional"])
    lines.append(javadoc(r["doc"] + " " + " ".join(f"{{@code {camel(f['name'])}}}: {f['doc']}" for f in fields), ""))
    lines.append(f"public record {r['name']}({comps}) {{")
    lines.append(f"    public {r['name']} {{")
    for f in fields:
        n = camel(f["name"])
        if is_reference(f["type"]):
            lines.append(f"        Objects.requireNonNull({n}, \"{n}\");")
        if f["type"].startswith("list<"):
            lines.append(f"        {n} = List.copyOf({n});")
    lines.append("    }")
    if r.get("python_base") == "HeadFields":
        for t, n in HEAD_ACCESSORS:
            lines += ["", f"    /** The head's {n}. */", f"    public {t} {n}() {{", f"        return head.{n}();", "    }"]
    lines += ["", f"    static {r['name']} read(Codec.Reader r) {{",
              f"        return new {r['name']}({', '.join(read_code(f['type']) for f in fields)});", "    }",
              "", "    void write(Codec.Writer w) {"]
    lines += [f"        {write_code(f['type'], camel(f['name']))};" for f in fields]
    lines += ["    }", "}"]
    return "\n".join(lines) + "\n"


def render_enum(e: dict, note: str) -> str:
    lines = header(note)
    lines += [javadoc(e["doc"] + " The variant index on the wire is the ordinal plus one.", ""),
              f"public enum {e['name']} {{"]
    variants = e["variants"]
    for i, v in enumerate(variants):
        lines.append(javadoc(v["doc"], "    "))
        lines.append(f"    {v['name']}{',' if i + 1 < len(variants) else ';'}")
    lines += ["", f"    private static final {e['name']}[] VALUES = values();", "",
              f"    static {e['name']} read(Codec.Reader r) {{", "        int index = r.i32();",
              "        if (index < 1 || index > VALUES.length) {",
              f"            throw new Codec.DecodeException(\"Invalid {e['name']} enum value: \" + index);",
              "        }", "        return VALUES[index - 1];", "    }", "",
              "    void write(Codec.Writer w) {", "        w.i32(ordinal() + 1);", "    }", "}"]
    return "\n".join(lines) + "\n"


def render_error_kinds(core: dict, note: str) -> str:
    kinds = core["error"]["kinds"]
    lines = header(note, ["java.util.List", "java.util.Map", "java.util.regex.Pattern"])
    lines += [
        "/**",
        " * Why the library rejected an input: the kinds of its one error type, in",
        " * declaration order. The extension library reports the kind itself; the core",
        " * library carries only the message, whose fixed part tells the kind",
        " * ({@link #of(String)}).",
        " */",
        "public enum ErrorKind {",
    ]
    lines += [f"    {k['name']}{',' if i + 1 < len(kinds) else ';'}" for i, k in enumerate(kinds)]
    lines += ["", "    private static final Map<String, ErrorKind> EXACT = Map.ofEntries("]
    exact = [k for k in kinds if "message" in k]
    lines += [f"        Map.entry({java_string(k['message'])}, {k['name']}){',' if i + 1 < len(exact) else ');'}"
              for i, k in enumerate(exact)]
    prefixes = [k for k in kinds if "prefix" in k]
    lines += ["", "    private static final List<Map.Entry<String, ErrorKind>> PREFIXES = List.of("]
    lines += [f"        Map.entry({java_string(k['prefix'])}, {k['name']}){',' if i + 1 < len(prefixes) else ');'}"
              for i, k in enumerate(prefixes)]
    patterns = [k for k in kinds if "pattern" in k]
    lines += ["", "    private static final List<Map.Entry<Pattern, ErrorKind>> PATTERNS = List.of("]
    lines += [f"        Map.entry(Pattern.compile({java_string(k['pattern'])}), {k['name']})"
              f"{',' if i + 1 < len(patterns) else ');'}" for i, k in enumerate(patterns)]
    lines += ["",
              "    /** The kind of a rejection message, or null for a text that is none of the library's. */",
              "    public static ErrorKind of(String message) {",
              "        ErrorKind kind = EXACT.get(message);",
              "        if (kind != null) {", "            return kind;", "        }",
              "        for (Map.Entry<String, ErrorKind> p : PREFIXES) {",
              "            if (message.startsWith(p.getKey())) {", "                return p.getValue();",
              "            }", "        }",
              "        for (Map.Entry<Pattern, ErrorKind> p : PATTERNS) {",
              "            if (p.getKey().matcher(message).matches()) {", "                return p.getValue();",
              "            }", "        }", "        return null;", "    }", "}"]
    return "\n".join(lines) + "\n"


def java_string(s: str) -> str:
    out = s.replace("\\", "\\\\").replace('"', '\\"')
    return '"' + "".join(c if 0x20 <= ord(c) < 0x7F else f"\\u{ord(c):04x}" for c in out) + '"'


def render_ext_errors(gen, ext: dict, note: str) -> str:
    lines = header(note, ["java.util.LinkedHashMap", "java.util.Map"])
    lines += ["/** The extension's serialized VerifyError: i32 variant (the kind, from 1), its fields, the message. */",
              "final class ExtensionErrors {", "    private ExtensionErrors() {}", "",
              "    static VerificationException read(Codec.Reader r) {", "        int index = r.i32();",
              "        Map<String, Object> fields = new LinkedHashMap<>();", "        ErrorKind kind;",
              "        switch (index) {"]
    for i, v in enumerate(ext["error"]["variants"], 1):
        lines.append(f"            case {i}:")
        for f in v["fields"]:
            lines.append(f"                fields.put(\"{f['name']}\", {read_code(f['type'])});")
        lines += [f"                kind = ErrorKind.{v['name']};", "                break;"]
    lines += ["            default:",
              "                throw new Codec.DecodeException(\"unknown VerifyError variant \" + index);",
              "        }", "        return new VerificationException(r.string(), kind, fields);", "    }", "}"]
    return "\n".join(lines) + "\n"


def render_object(o: dict, calls: list, namespace: str, note: str) -> str:
    lines = header(note, ["java.util.List", "java.util.Objects", "java.util.Optional"])
    lines += [javadoc(o["doc"] + " Closing it releases the handle once every call using it has returned; "
                      "a handle left open is released when the object is collected.", ""),
              f"public final class {o['name']} extends Handle {{",
              f"    {o['name']}(long handle) {{",
              f"        super(\"{o['name']}\", handle, {o['name']}::free);", "    }", "",
              "    private static void free(long handle) {",
              "        try (Call c = Call.extension()) {",
              f"            ExtNative.uniffi_{namespace}_fn_free_{o['name'].lower()}(handle, c.status());",
              "            c.check();", "        }", "    }"]
    for c in calls:
        if c["object"] == o["name"]:
            lines += ["", call_method(c, static=c["kind"] == "constructor")]
    lines.append("}")
    return "\n".join(lines) + "\n"


def outputs(gen, core: dict, ext: dict, root: str) -> dict:
    """Every generated Java source's path and content."""
    note = gen.GENERATED_NOTE
    base = os.path.join(root, SOURCE_DIR)
    core_c, ext_c = core_calls(gen, core), ext_calls(gen, ext)
    files = {
        "Catalogue.java": render_catalogue(gen, core, ext, note),
        "CoreNative.java": render_natives("CoreNative", "The exports of libquenfold_log, direct-mapped.",
                                          core["namespace"], core_c, [], note),
        "ExtNative.java": render_natives("ExtNative", "The exports of libquenfold_log_ext, direct-mapped.",
                                         ext["namespace"], ext_c, ext["objects"], note),
        "QuenfoldLog.java": render_operations(core_c, ext_c, note),
        "ErrorKind.java": render_error_kinds(core, note),
        "ExtensionErrors.java": render_ext_errors(gen, ext, note),
    }
    imported = set(ext.get("imports", {}).get("records", []))
    for r in core["records"] + [r for r in ext["records"] if r["name"] not in imported]:
        files[f"{r['name']}.java"] = render_record(r, note)
    for e in core["enums"] + ext["enums"]:
        files[f"{e['name']}.java"] = render_enum(e, note)
    for o in ext["objects"]:
        files[f"{o['name']}.java"] = render_object(o, ext_c, ext["namespace"], note)
    return {os.path.join(base, name): content for name, content in files.items()}
