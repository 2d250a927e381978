"""The serialized value forms, independent of any library."""

import struct
import unittest

from quenfold_log import _codec
from quenfold_log.types import (CheckpointHead, CheckpointSuite, CommitmentHash, DirectoryMode,
                                KeytransSuite, PolicyPosture, SearchResult, SecurityLevel,
                                VrfMode)


def _bytes(b: bytes) -> bytes:
    return struct.pack(">i", len(b)) + b


class WriterTest(unittest.TestCase):
    def written(self, method, *args) -> bytes:
        w = _codec.Writer()
        getattr(w, method)("arg", *args)
        return w.finish()

    def test_argument_forms(self):
        cases = [
            ("bytes", (b"\xaa\xbb",), b"\x00\x00\x00\x02\xaa\xbb"),
            ("bytes", (bytearray(),), b"\x00\x00\x00\x00"),
            ("bytes_list", ([],), b"\x00\x00\x00\x00"),
            ("bytes_list", ([b""],), b"\x00\x00\x00\x01\x00\x00\x00\x00"),
            ("bytes_list", ([b"\x01", b"\x02\x03"],),
             b"\x00\x00\x00\x02\x00\x00\x00\x01\x01\x00\x00\x00\x02\x02\x03"),
            ("string_list", (["é", ""],), b"\x00\x00\x00\x02\x00\x00\x00\x02\xc3\xa9\x00\x00\x00\x00"),
            ("optional_bytes", (None,), b"\x00"),
            ("optional_bytes", (b"",), b"\x01\x00\x00\x00\x00"),
            ("enumeration", (CommitmentHash, CommitmentHash.Sha3_512), b"\x00\x00\x00\x02"),
        ]
        for method, args, want in cases:
            with self.subTest(method=method, args=args):
                self.assertEqual(self.written(method, *args), want)

    def test_wrong_python_types_are_refused_before_the_call(self):
        cases = [
            ("bytes", ("text",)),
            ("bytes_list", (b"not a list",)),
            ("bytes_list", (["text"],)),
            ("string_list", ("not a list",)),
            ("string_list", ([b"bytes"],)),
            ("enumeration", (CommitmentHash, 1)),
            ("enumeration", (CommitmentHash, VrfMode.Classical)),
        ]
        for method, args in cases:
            with self.subTest(method=method, args=args):
                with self.assertRaises(TypeError):
                    self.written(method, *args)


class ReaderTest(unittest.TestCase):
    def test_search_result_forms(self):
        self.assertEqual(_codec.decode("SearchResult", b"\x00\x00"), SearchResult(False, None))
        self.assertEqual(_codec.decode("SearchResult", b"\x01\x01\x00\x00\x00\x03abc"),
                         SearchResult(True, b"abc"))

    def test_byte_string_of_64_bytes(self):
        digest = bytes(range(64))
        self.assertEqual(_codec.decode("bytes", b"\x00\x00\x00\x40" + digest), digest)

    def test_checkpoint_head(self):
        data = (_bytes(b"example.org/log") + struct.pack(">Q", 7) + _bytes(b"\x11" * 32)
                + struct.pack(">i", 2) + _bytes(b"ext one") + _bytes(b"ext two"))
        self.assertEqual(_codec.decode("CheckpointHead", data),
                         CheckpointHead("example.org/log", 7, b"\x11" * 32, ["ext one", "ext two"]))

    def test_policy_posture(self):
        data = (_bytes(b"example.org") + struct.pack(">I", 2) + struct.pack(">iiiiii", 2, 3, 1, 2, 1, 3)
                + struct.pack(">QQ", 100, 1765000000000) + _bytes(b"\x22" * 64) + _bytes(b"\x33" * 32))
        self.assertEqual(_codec.decode("PolicyPosture", data), PolicyPosture(
            namespace="example.org", policy_schema_version=2, security_level=SecurityLevel.Cat5,
            checkpoint_suite=CheckpointSuite.PureCnsa2, commitment_hash=CommitmentHash.Sha3_256,
            vrf_mode=VrfMode.HybridOutput, directory_mode=DirectoryMode.Coniks,
            keytrans_suite=KeytransSuite.Kt128Sha256P256, effective_from=100,
            created_at=1765000000000, policy_hash=b"\x22" * 64, rfc6962_leaf_hash=b"\x33" * 32))

    def test_malformed_results_are_refused(self):
        cases = [
            ("bytes", b"\x00\x00\x00\x02\xaa", "not enough bytes remaining in buffer (1 < 2)"),
            ("bytes", b"\x00\x00\x00\x01\xaa\xbb", "junk data left in buffer after lifting (count: 1)"),
            ("bytes", b"\xff\xff\xff\xff", "out of range integral type conversion attempted"),
            ("SearchResult", b"\x02\x00", "unexpected bool byte 2"),
            ("SearchResult", b"\x01\x02", "unexpected tag byte for Option"),
            ("CheckpointHead", _bytes(b"\xff") + b"\x00" * 16, "invalid utf-8"),
        ]
        for kind, data, message in cases:
            with self.subTest(kind=kind, data=data):
                with self.assertRaises(_codec.DecodeError) as ctx:
                    _codec.decode(kind, data)
                self.assertIn(message, str(ctx.exception))

    def test_verify_error(self):
        message = "invalid hash length: got 31 bytes, want 32"
        payload = b"\x00\x00\x00\x01\x00\x00\x00\x2a" + message.encode()
        self.assertEqual(len(payload), 50)
        self.assertEqual(_codec.decode_verify_error(payload), message)
        with self.assertRaises(_codec.DecodeError):
            _codec.decode_verify_error(b"\x00\x00\x00\x02" + payload[4:])


if __name__ == "__main__":
    unittest.main()
