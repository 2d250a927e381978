"""The generator itself: it refuses an inconsistent catalogue by name, its
counts agree with the committed outputs, and --check notices any one
generated file that is stale or missing.

    python3 -m unittest discover -s tools/metadata-gen
"""

import copy
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import java_binding
import metadata_gen as gen

GENERATOR = os.path.join(gen.HERE, "metadata_gen.py")


def _read(relative: str) -> str:
    with open(os.path.join(gen.ROOT, relative), encoding="utf-8") as f:
        return f.read()


class ValidationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.catalogue = gen.load()

    def test_the_committed_catalogue_is_valid(self):
        gen.validate(copy.deepcopy(self.catalogue))

    def test_refuses_each_inconsistency_by_name(self):
        def function(name):
            return lambda c: next(f for f in c["functions"] if f["name"] == name)

        verify_inclusion = function("verify_inclusion")
        cases = [
            ("a repeated operation",
             lambda c: c["functions"].append(copy.deepcopy(c["functions"][0])),
             "function 'verify_inclusion' appears twice"),
            ("a repeated argument",
             lambda c: verify_inclusion(c)["arguments"].append({"name": "root", "type": "bytes"}),
             "argument of verify_inclusion: 'root' appears twice"),
            ("an unknown type",
             lambda c: verify_inclusion(c)["arguments"][0].update(type="u128"),
             "unknown type 'u128'"),
            ("an unknown type inside a list",
             lambda c: verify_inclusion(c)["arguments"][3].update(type="list<byte>"),
             "unknown type 'byte'"),
            ("an undeclared record",
             lambda c: verify_inclusion(c).update(result="record Missing"),
             "record Missing is not declared"),
            ("an undeclared enum in a field",
             lambda c: c["records"][0]["fields"][0].update(type="enum Missing"),
             "enum Missing is not declared"),
            ("a checksum that is no number",
             lambda c: verify_inclusion(c).update(checksum="5d0g"),
             "checksum of verify_inclusion is not a hex number"),
            ("a checksum wider than 16 bits",
             lambda c: verify_inclusion(c).update(checksum="0x15d09"),
             "checksum of verify_inclusion is not 16 bits"),
            ("a documentation of two paragraphs",
             lambda c: verify_inclusion(c).update(doc="One.\n\nTwo."),
             "documentation of verify_inclusion is not one paragraph"),
            ("a record named like an enum",
             lambda c: c["records"][0].update(name=c["enums"][0]["name"]),
             "type 'SecurityLevel' appears twice"),
            ("an error kind with two rules",
             lambda c: c["error"]["kinds"][0].update(message="leaf index"),
             "LeafIndexOutOfRange needs exactly one of message, prefix, pattern"),
            ("an error kind with no rule",
             lambda c: c["error"]["kinds"][0].pop("prefix"),
             "LeafIndexOutOfRange needs exactly one of message, prefix, pattern"),
            ("an error pattern that is no regular expression",
             lambda c: c["error"]["kinds"][22].update(pattern="(unclosed"),
             "pattern of error kind WrongFixedLength: missing ), unterminated subpattern"),
        ]
        for what, mutate, message in cases:
            with self.subTest(what):
                broken = copy.deepcopy(self.catalogue)
                mutate(broken)
                with self.assertRaises(gen.CatalogueError) as ctx:
                    gen.validate(broken)
                self.assertIn(message, str(ctx.exception))

    def test_refuses_what_a_binding_cannot_carry(self):
        # Valid metadata types that the boundary or the Python binding has no
        # conversion for are refused when the code is written, not later.
        cases = [
            ("a bool argument", "bool", gen.render_exports, "cannot lift an argument of type bool"),
            ("a list of lists argument", "list<list<bytes>>", gen.render_exports,
             "cannot lift an argument of type list<list<bytes>>"),
            ("an optional string argument", "optional<string>", gen.render_python_catalogue,
             "no kind for type optional<string>"),
        ]
        for what, t, render, message in cases:
            with self.subTest(what):
                broken = copy.deepcopy(self.catalogue)
                broken["functions"][0]["arguments"][2]["type"] = t
                gen.validate(broken)
                with self.assertRaises(gen.CatalogueError) as ctx:
                    render(broken)
                self.assertIn(message, str(ctx.exception))

    def test_refuses_a_kind_of_the_exports_after_the_cxx_api_only_kinds(self):
        broken = copy.deepcopy(self.catalogue)
        kinds = broken["error"]["kinds"]
        kinds.append({"name": "Late", "prefix": "late: "})
        with self.assertRaises(gen.CatalogueError) as ctx:
            gen.render_python_errors(broken)
        self.assertIn("Late follows", str(ctx.exception))


class ExtensionTest(unittest.TestCase):
    """The extension's catalogue: checked against the core's, and its
    checksums are those of its own metadata items."""

    @classmethod
    def setUpClass(cls):
        cls.core = gen.load()
        cls.ext = gen.load_extension(cls.core)

    def test_refuses_each_inconsistency_by_name(self):
        def object_named(c, name):
            return next(o for o in c["objects"] if o["name"] == name)

        cases = [
            ("error variants out of the kinds' order",
             lambda c: c["error"]["variants"].reverse(),
             "not catalogue.json's error kinds, in order"),
            ("an error field named like the message",
             lambda c: c["error"]["variants"][0]["fields"].append({"name": "message", "type": "string"}),
             "field of error variant LeafIndexOutOfRange: 'message' appears twice"),
            ("an object named like a record",
             lambda c: object_named(c, "VerifierList").update(name="Signer"),
             "type 'Signer' appears twice"),
            ("a repeated method",
             lambda c: object_named(c, "WitnessPolicy")["methods"].append(
                 copy.deepcopy(object_named(c, "WitnessPolicy")["methods"][0])),
             "method of WitnessPolicy: 'open' appears twice"),
            ("an argument of an undeclared object",
             lambda c: object_named(c, "CheckpointVerifier")["constructors"][0]["arguments"][1].update(
                 type="object VerifierKeys"),
             "object VerifierKeys is not declared"),
        ]
        for what, mutate, message in cases:
            with self.subTest(what):
                broken = copy.deepcopy(self.ext)
                mutate(broken)
                with self.assertRaises(gen.CatalogueError) as ctx:
                    gen.validate_extension(broken, self.core)
                self.assertIn(message, str(ctx.exception))

    def test_shares_no_name_with_the_core_library(self):
        generated = list(gen.ext_items(self.ext))
        core_names = gen.export_names(self.core, list(gen.items_without_tags(self.core)))
        names = gen.ext_export_names(self.ext, generated, core_names)
        self.assertFalse(set(names) & set(core_names))
        self.assertTrue(all("quenfold_log_ext" in n.lower() for n in names), names)
        # A namespace equal to the core's would export the core's names.
        clash = copy.deepcopy(self.ext)
        clash["namespace"] = self.core["namespace"]
        with self.assertRaises(gen.CatalogueError) as ctx:
            gen.ext_export_names(clash, list(gen.ext_items(clash)), core_names)
        self.assertIn("would export names of libquenfold_log", str(ctx.exception))

    def test_checksums_are_the_items_hashes(self):
        items = {symbol: data for symbol, data, _ in gen.ext_items(self.ext)}
        for c in gen.ext_callables(self.ext):
            with self.subTest(c["export"]):
                self.assertEqual(gen.ext_checksum(self.ext, c), gen.fold16(gen.fnv1a(items[c["symbol"]])))
        # A changed documentation changes the checksum: nothing is tuned.
        changed = copy.deepcopy(self.ext)
        changed["functions"][0]["doc"] += " Again."
        first = gen.ext_callables(self.ext)[0]
        self.assertNotEqual(gen.ext_checksum(changed, gen.ext_callables(changed)[0]), gen.ext_checksum(self.ext, first))

    def test_refuses_an_argument_the_boundary_cannot_lift(self):
        broken = copy.deepcopy(self.ext)
        broken["functions"][0]["arguments"][0]["type"] = "list<record CheckpointHead>"
        gen.validate_extension(broken, self.core)
        with self.assertRaises(gen.CatalogueError) as ctx:
            gen.render_ext_exports(broken)
        self.assertIn("cannot lift an argument of type list<record CheckpointHead>", str(ctx.exception))


class JavaBindingTest(unittest.TestCase):
    """The JVM binding's sources: types map to Java and back symmetrically,
    what has no mapping is refused, and the committed checksum table holds
    every call of both libraries with its value."""

    def test_types_map_to_java_writers_and_readers(self):
        cases = [
            # (catalogue type, Java type, writer of v, reader)
            ("u8", "int", "w.u8(v)", "r.u8()"),
            ("u32", "long", "w.u32(v)", "r.u32()"),
            ("bytes", "byte[]", "w.bytes(v)", "r.bytes()"),
            ("list<bytes>", "List<byte[]>", "w.list(v, (w1, e1) -> w1.bytes(e1))", "r.list(r1 -> r1.bytes())"),
            ("optional<u64>", "Optional<Long>", "w.optional(v, (w1, e1) -> w1.u64(e1))",
             "r.optional(r1 -> r1.u64())"),
            ("list<list<bytes>>", "List<List<byte[]>>",
             "w.list(v, (w1, e1) -> w1.list(e1, (w2, e2) -> w2.bytes(e2)))",
             "r.list(r1 -> r1.list(r2 -> r2.bytes()))"),
            ("record Signer", "Signer", "v.write(w)", "Signer.read(r)"),
            ("enum KeyType", "KeyType", "v.write(w)", "KeyType.read(r)"),
        ]
        for t, java, write, read in cases:
            with self.subTest(t):
                self.assertEqual(java_binding.java_type(t), java)
                self.assertEqual(java_binding.write_code(t, "v"), write)
                self.assertEqual(java_binding.read_code(t), read)
        self.assertEqual(java_binding.argument_type("optional<bytes>"), "byte[]")
        self.assertEqual(java_binding.argument_type("optional<u64>"), "Long")
        self.assertEqual(java_binding.read_code("list<optional<error>>"),
                         "r.list(r1 -> r1.optional(r2 -> ExtensionErrors.read(r2)))")

    def test_refuses_what_it_cannot_map(self):
        cases = [
            (java_binding.java_type, "u128", "has no type for u128"),
            (lambda t: java_binding.write_code(t, "v"), "object VerifierList", "cannot write a value of type object"),
            (java_binding.read_code, "list<f64>", "cannot read a value of type f64"),
        ]
        for fn, t, message in cases:
            with self.subTest(t):
                with self.assertRaises(java_binding.JavaError) as ctx:
                    fn(t)
                self.assertIn(message, str(ctx.exception))

    def test_catalogue_table_holds_every_checksum(self):
        core = gen.load()
        ext = gen.load_extension(core)
        text = _read(os.path.join(java_binding.SOURCE_DIR, "Catalogue.java"))
        table = {name: int(value, 16) for name, value in
                 re.findall(r'checksums\.put\("(\w+)", (0x[0-9a-f]+)\);', text)}
        want = {f"uniffi_quenfold_log_checksum_func_{f['name']}": gen.parse_checksum(f) for f in core["functions"]}
        want.update({c["checksum_export"]: gen.ext_checksum(ext, c) for c in gen.ext_callables(ext)})
        self.assertEqual(table, want)
        self.assertIn(f"EXT_CONTRACT_VERSION = {ext['contract_version']};", text)


class CountsTest(unittest.TestCase):
    """The counts are derived from the catalogue's parts; the committed
    outputs, which a test of the built library compares with its own list,
    hold exactly that many of each."""

    @classmethod
    def setUpClass(cls):
        cls.counts = gen.expected_counts(gen.load())

    def test_linker_map(self):
        names = re.findall(r"^    (\w+);$", _read("cmake/quenfold_log.map"), re.M)
        self.assertEqual(len(names), self.counts["exports"])
        self.assertEqual(len(set(names)), len(names))
        for prefix, part in (("uniffi_quenfold_log_fn_func_", "operations"),
                             ("uniffi_quenfold_log_checksum_func_", "checksums"),
                             ("ffi_quenfold_log_uniffi_contract_version", "contract_version"),
                             ("ffi_quenfold_log_rustbuffer_", "buffer_functions"),
                             ("ffi_quenfold_log_rust_future_", "future_functions"),
                             ("UNIFFI_META_", "metadata_symbols")):
            with self.subTest(part):
                self.assertEqual(sum(n.startswith(prefix) for n in names), self.counts[part])

    def test_exports_metadata_and_prototypes(self):
        cases = [
            ("src/ffi/exports.inc", r"^QUENFOLD_EXPORT\(", "operations"),
            ("src/ffi/exports.inc", r"^QUENFOLD_CHECKSUM\(", "checksums"),
            ("src/ffi/metadata.inc", r"^const uint8_t UNIFFI_META_\w+\[", "metadata_symbols"),
            ("include/quenfold_log.h", r"uniffi_quenfold_log_fn_func_\w+\(", "operations"),
            ("include/quenfold_log.h", r"uniffi_quenfold_log_checksum_func_\w+\(", "checksums"),
            ("python/quenfold_log/_catalogue.py", r"^    '\w+': \(\(", "operations"),
            ("python/quenfold_log/_operations.py", r"^def (?!_)\w+\(", "operations"),
        ]
        for path, pattern, part in cases:
            with self.subTest(path=path, pattern=pattern):
                self.assertEqual(len(re.findall(pattern, _read(path), re.M)), self.counts[part])

    def test_error_kinds(self):
        kinds = gen.load()["error"]["kinds"]
        members = re.findall(r"^    (\w+) = (\d+)$", _read("python/quenfold_log/_errors.py"), re.M)
        self.assertEqual(members, [(k["name"], str(i)) for i, k in enumerate(kinds)])


class CheckModeTest(unittest.TestCase):
    """--check on a copy of the tree, with one generated file at a time made
    stale or removed."""

    # A generated line of each output, and a stale version of it.
    STALE = {
        "src/ffi/metadata.inc": ("const uint8_t UNIFFI_META_QUENFOLD_LOG_FUNC_VERIFY_INCLUSION[",
                                 "const uint8_t UNIFFI_META_QUENFOLD_LOG_FUNC_VERIFY_INCLUSIONS["),
        "cmake/quenfold_log.map": ("    ffi_quenfold_log_rustbuffer_free;\n", ""),
        "src/ffi/exports.inc": ("QUENFOLD_CHECKSUM(verify_inclusion, 0x5d09)",
                                "QUENFOLD_CHECKSUM(verify_inclusion, 0x5d0a)"),
        "include/quenfold_log.h": ("uint16_t uniffi_quenfold_log_checksum_func_verify_consistency(void);\n",
                                   ""),
        "python/quenfold_log/_catalogue.py": ("'checkpoint_parse': ((('body_text', 'string'), ),",
                                              "'checkpoint_parse': ((('body_text', 'bytes'), ),"),
        "python/quenfold_log/_operations.py": ("def checkpoint_parse(body_text: str)",
                                               "def checkpoint_parse(body_text: bytes)"),
        "python/quenfold_log/_errors.py": ("    BrokenChain = 27\n", ""),
        "src/ffi/extension/metadata.inc": ("const uint8_t UNIFFI_META_QUENFOLD_LOG_EXT_INTERFACE_VERIFIERLIST[",
                                           "const uint8_t UNIFFI_META_QUENFOLD_LOG_EXT_INTERFACE_VERIFIERKEYS["),
        "cmake/quenfold_log_ext.map": ("    ffi_quenfold_log_ext_rustbuffer_free;\n", ""),
        "src/ffi/extension/exports.inc": ("QUENFOLD_EXT_CONTRACT_VERSION(ffi_quenfold_log_ext_uniffi_contract_version, 30)",
                                          "QUENFOLD_EXT_CONTRACT_VERSION(ffi_quenfold_log_ext_uniffi_contract_version, 29)"),
        "include/quenfold_log_ext.h": ("void uniffi_quenfold_log_ext_fn_free_verifierlist(", "void uniffi_quenfold_log_ext_fn_drop_verifierlist("),
        "python/quenfold_log/_extension.py": ("CONTRACT_VERSION = 30\n", "CONTRACT_VERSION = 29\n"),
    }

    @classmethod
    def setUpClass(cls):
        # The expected contents are computed once: each run of the generator
        # searches every checksum tag again.
        core = gen.load()
        outputs = gen.outputs(core)
        ext = gen.load_extension(core)
        outputs.update(gen.extension_outputs(core, ext))
        outputs.update(java_binding.outputs(gen, core, ext, gen.ROOT))
        cls.expected = {os.path.relpath(p, gen.ROOT): c for p, c in outputs.items()}

    def setUp(self):
        self.root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.root)
        tool = os.path.join(self.root, "tools", "metadata-gen")
        os.makedirs(tool)
        for name in ("metadata_gen.py", "java_binding.py", "catalogue.json", "extension.json"):
            shutil.copy(os.path.join(gen.HERE, name), tool)
        for relative in self.expected:
            os.makedirs(os.path.join(self.root, os.path.dirname(relative)), exist_ok=True)
            shutil.copy(os.path.join(gen.ROOT, relative), os.path.join(self.root, relative))

    def run_generator(self, *args):
        return subprocess.run([sys.executable, os.path.join(self.root, "tools", "metadata-gen",
                                                            "metadata_gen.py"), *args],
                              capture_output=True, text=True,
                              env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))

    def stale(self):
        files = {os.path.join(self.root, r): c for r, c in self.expected.items()}
        return gen.stale_files(files, self.root)

    # Every generated Java source, made stale by another package line.
    JAVA_STALE = ("package org.quenfold.log;\n", "package org.quenfold;\n")

    def test_every_output_is_compared(self):
        java = sorted(r for r in self.expected if r.startswith("java" + os.sep))
        self.assertIn(os.path.join(*java_binding.SOURCE_DIR.split(os.sep), "Catalogue.java"), java)
        self.assertEqual(sorted(self.STALE), sorted(set(self.expected) - set(java)))
        self.assertEqual(self.stale(), [])
        cases = list(self.STALE.items()) + [(relative, self.JAVA_STALE) for relative in java]
        for relative, (line, stale_line) in cases:
            path = os.path.join(self.root, relative)
            with open(path, encoding="utf-8") as f:
                original = f.read()
            self.assertEqual(original.count(line), 1, (relative, line))
            for change in ("stale", "missing"):
                with self.subTest(relative, change=change):
                    if change == "stale":
                        with open(path, "w", encoding="utf-8") as f:
                            f.write(original.replace(line, stale_line))
                    else:
                        os.remove(path)
                    self.assertEqual(self.stale(), [relative])
                    with open(path, "w", encoding="utf-8") as f:
                        f.write(original)
        self.assertEqual(self.stale(), [])

    def test_check_mode_reports_and_fails(self):
        result = self.run_generator("--check")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        os.remove(os.path.join(self.root, "include", "quenfold_log.h"))
        os.remove(os.path.join(self.root, "python", "quenfold_log", "_errors.py"))
        result = self.run_generator("--check")
        self.assertEqual(result.returncode, 1)
        self.assertIn("include/quenfold_log.h, python/quenfold_log/_errors.py", result.stdout)
        # Without the header's hand-written parts nothing is written.
        result = self.run_generator()
        self.assertEqual(result.returncode, 2)
        self.assertIn("include/quenfold_log.h missing", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.root, "python", "quenfold_log", "_errors.py")))

    def test_a_catalogue_change_makes_the_outputs_stale(self):
        # A new argument name changes the signature everywhere, but never a
        # checksum: the documentation's tag is recomputed.
        path = os.path.join(self.root, "tools", "metadata-gen", "catalogue.json")
        with open(path, encoding="utf-8") as f:
            text = f.read()
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace('{"name": "body_text", "type": "string"}',
                                 '{"name": "checkpoint_text", "type": "string"}', 1))
        result = self.run_generator("--check")
        self.assertEqual(result.returncode, 1)
        for relative in ("src/ffi/metadata.inc", "src/ffi/exports.inc", "include/quenfold_log.h",
                         "python/quenfold_log/_catalogue.py", "python/quenfold_log/_operations.py"):
            self.assertIn(relative, result.stdout)
        for relative in ("cmake/quenfold_log.map", "python/quenfold_log/_errors.py"):
            self.assertNotIn(relative, result.stdout)

    def test_an_invalid_catalogue_is_reported_not_written(self):
        path = os.path.join(self.root, "tools", "metadata-gen", "catalogue.json")
        with open(path, encoding="utf-8") as f:
            text = f.read()
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace('"type": "u64"', '"type": "u65"', 1))
        result = self.run_generator()
        self.assertEqual(result.returncode, 2)
        self.assertIn("unknown type 'u65'", result.stderr)
        for relative in self.expected:
            with self.subTest(relative), \
                    open(os.path.join(self.root, relative), encoding="utf-8") as written:
                self.assertEqual(written.read(), _read(relative))
        self.assertEqual(self.run_generator("--check").returncode, 2)


if __name__ == "__main__":
    unittest.main()
