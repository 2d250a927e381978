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
    }

    @classmethod
    def setUpClass(cls):
        # The expected contents are computed once: each run of the generator
        # searches every checksum tag again.
        cls.expected = {os.path.relpath(p, gen.ROOT): c for p, c in gen.outputs(gen.load()).items()}

    def setUp(self):
        self.root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.root)
        tool = os.path.join(self.root, "tools", "metadata-gen")
        os.makedirs(tool)
        for name in ("metadata_gen.py", "catalogue.json"):
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

    def test_every_output_is_compared(self):
        self.assertEqual(sorted(self.STALE), sorted(self.expected))
        self.assertEqual(self.stale(), [])
        for relative, (line, stale_line) in self.STALE.items():
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
