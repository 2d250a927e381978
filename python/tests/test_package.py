"""The package as users install it: where it finds the library, its version,
its typing marker, and the error kinds of VerificationError."""

import ctypes.util
import os
import pathlib
import re
import subprocess
import tempfile
import unittest
from unittest import mock

import quenfold_log as qf
from quenfold_log import _library

from .support import EXAMPLES, EXPECT_INSTALLED, LIBRARY_PATH, ROOT, OperationTest, hex_file, hex_items


class LibraryLookupTest(unittest.TestCase):
    def test_bundled_copy_then_environment_then_system(self):
        with tempfile.TemporaryDirectory() as tmp:
            bundled = pathlib.Path(tmp) / _library.SONAME
            bundled.write_bytes(b"")
            missing = pathlib.Path(tmp) / "none" / _library.SONAME
            cases = [
                # (bundled file, QUENFOLD_LOG_LIBRARY, system's answer, expected)
                (bundled, "/env/lib.so", "libquenfold_log.so.0", str(bundled)),
                (missing, "/env/lib.so", "libquenfold_log.so.0", "/env/lib.so"),
                (missing, None, "libquenfold_log.so.0", "libquenfold_log.so.0"),
            ]
            for where, env, system, want in cases:
                with self.subTest(bundled=where.exists(), env=env):
                    environ = {k: v for k, v in os.environ.items() if k != qf.ENV_VARIABLE}
                    if env:
                        environ[qf.ENV_VARIABLE] = env
                    with mock.patch.object(_library, "BUNDLED_LIBRARY", where), \
                            mock.patch.dict(os.environ, environ, clear=True), \
                            mock.patch.object(ctypes.util, "find_library", return_value=system):
                        self.assertEqual(qf.find_library(), want)

    def test_no_library_anywhere_says_where_it_looked(self):
        environ = {k: v for k, v in os.environ.items() if k != qf.ENV_VARIABLE}
        with mock.patch.object(_library, "BUNDLED_LIBRARY", pathlib.Path("/nonexistent") / _library.SONAME), \
                mock.patch.dict(os.environ, environ, clear=True), \
                mock.patch.object(ctypes.util, "find_library", return_value=None):
            with self.assertRaises(qf.LibraryNotFound) as ctx:
                qf.load()
        text = str(ctx.exception)
        for part in ("/nonexistent", qf.ENV_VARIABLE, "quenfold_log.load(path)"):
            self.assertIn(part, text)
        self.assertIsInstance(ctx.exception, ImportError)


class VersionAndTypingTest(unittest.TestCase):
    def test_version_is_the_cmake_project_version(self):
        cmake = (ROOT / "CMakeLists.txt").read_text()
        want = re.search(r"project\(\s*quenfold_log\s+VERSION\s+([0-9.]+)", cmake).group(1)
        self.assertEqual(qf.__version__, want)

    def test_typing_marker_ships_with_the_package(self):
        self.assertTrue((pathlib.Path(qf.__file__).parent / "py.typed").is_file())

    @unittest.skipUnless(EXPECT_INSTALLED, "runs against an installed wheel")
    def test_installed_package_uses_its_self_contained_library(self):
        package = pathlib.Path(qf.__file__).resolve().parent
        self.assertFalse(package.is_relative_to(ROOT / "python"), package)
        self.assertEqual(LIBRARY_PATH, str(_library.BUNDLED_LIBRARY))
        # The extension is bundled beside it and is the one loaded.
        self.assertEqual(qf.default_library().extension.path, str(_library.BUNDLED_EXT_LIBRARY))
        for path in (LIBRARY_PATH, str(_library.BUNDLED_EXT_LIBRARY)):
            needed = subprocess.run(["objdump", "-p", path], capture_output=True, text=True,
                                    check=True).stdout
            libraries = re.findall(r"^\s*NEEDED\s+(\S+)", needed, re.M)
            self.assertTrue(libraries, path)
            for name in libraries:
                self.assertNotRegex(name, r"libcrypto|libssl|libsodium|quenfold",
                                    f"{path} must carry its cryptography inside and stand alone")


class ErrorKindTest(OperationTest):
    OPERATIONS = ("verify_inclusion", "verify_consistency", "checkpoint_verify", "checkpoint_parse",
                  "verify_commitment", "coniks_verify_lookup", "policy_enforce_commitment_hash")

    def test_kinds_mirror_the_library_error_kinds(self):
        header = (ROOT / "include" / "quenfold" / "error.h").read_text()
        body = re.search(r"enum class ErrorKind[^{]*\{(.*?)\};", header, re.S).group(1)
        body = re.sub(r"//[^\n]*", "", body)
        names = [n.strip() for n in body.split(",") if n.strip()]
        self.assertEqual([(k.name, k.value) for k in qf.ErrorKind], [(n, i) for i, n in enumerate(names)])

    def test_each_rejection_carries_its_kind(self):
        leaf, root7 = hex_file("merkle/leaf4.hash"), hex_file("merkle/root7.hash")
        root3 = hex_file("merkle/root3.hash")
        path = hex_items("merkle/inclusion-4-of-7.proof")
        keys = (EXAMPLES / "log" / "keys.txt").read_text().splitlines()
        tampered = (EXAMPLES / "log" / "checkpoint-7-tampered.note").read_text()
        c = EXAMPLES / "coniks"
        coniks = ("example.org", hex_file("coniks/vrf-public.hex"), hex_file("coniks/root.hex"))
        envelope = hex_file("policy/example.org.policy")
        K = qf.ErrorKind
        cases = [
            (K.RootMismatch, qf.verify_inclusion, 5, 7, leaf, path, root7),
            (K.LeafIndexOutOfRange, qf.verify_inclusion, 7, 7, leaf, path, root7),
            (K.WrongProofSize, qf.verify_inclusion, 4, 7, leaf, path[:2], root7),
            (K.InvalidHashLength, qf.verify_inclusion, 4, 7, leaf, path, root7[:31]),
            (K.TreeSizeRegression, qf.verify_consistency, 7, 3, [], root7, root3),
            (K.EmptyTreeConsistency, qf.verify_consistency, 0, 3, [], root3, root3),
            (K.InvalidSignature, qf.checkpoint_verify, tampered, keys),
            (K.MalformedCheckpoint, qf.checkpoint_parse, "origin only\n"),
            (K.CommitmentMismatch, qf.verify_commitment, "example.org/profile/v1",
             hex_file("key_history/commitment.hex"), b"mallory", hex_file("key_history/opening.hex")),
            (K.ConiksRootMismatch, qf.coniks_verify_lookup, *coniks, b"alice@example.org",
             hex_file("coniks/alice.tampered.proof")),
            (K.VrfProofInvalid, qf.coniks_verify_lookup, *coniks, b"bob@example.org",
             hex_file("coniks/alice.lookup.proof")),
            (K.PostureMismatch, qf.policy_enforce_commitment_hash, envelope, qf.CommitmentHash.Sha3_512),
        ]
        self.assertTrue(c.is_dir())
        for kind, fn, *args in cases:
            with self.subTest(kind=kind.name):
                with self.assertRaises(qf.VerificationError) as ctx:
                    fn(*args)
                self.assertIs(ctx.exception.kind, kind, ctx.exception.message)

    def test_unknown_text_has_no_kind(self):
        self.assertIsNone(qf.VerificationError("something new").kind)


if __name__ == "__main__":
    unittest.main()
