"""Runs every quenfold-verify subcommand on the bundled examples: the example
of its --help, a tampered artefact, typed --json output, standard input, bad
usage, option spellings, suite names, --version and the bash completion,
checking exit status and output.

    python3 tests/cli/cli_test.py <path to quenfold-verify>

QUENFOLD_EXPECTED_VERSION, when set, is the version --version must report;
QUENFOLD_MAN_PAGE, when set, the generated manual page to check.
"""

import base64
import json
import os
import pathlib
import resource
import shlex
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
TOOL = ""
ROOT_MISMATCH = "root mismatch: recomputed root does not match the expected root"
M = "examples/merkle/"
K = "examples/key_history/"
C = "examples/coniks/"
P = "examples/policy/"
L = "examples/log/"
TP = "examples/tlog_proof/"
T = "examples/keytrans/p256/"
TK = ["--suite", "p256", "--context", "@" + T + "context.txt", "--vrf-public", "@" + T + "vrf-public.hex",
      "--root", "@" + T + "root.hex", "--label", "alice@example.org"]

# Subcommands with a test class of their own (many results per run).
OWN_TESTS = {"monitor", "vkey-rfc6962"}

# Per subcommand: arguments that verify, with the text lines the output must
# contain, and tampered arguments with the exact rejection message.
CASES = {
    "inclusion": {
        "ok": ["--index", "4", "--size", "7", "--leaf-hash", "@" + M + "leaf4.hash",
               "--proof", "@" + M + "inclusion-4-of-7.proof", "--root", "@" + M + "root7.hash"],
        "ok_lines": ["verified"],
        "tampered": ["--index", "5", "--size", "7", "--leaf-hash", "@" + M + "leaf4.hash",
                     "--proof", "@" + M + "inclusion-4-of-7.proof", "--root", "@" + M + "root7.hash"],
        "message": ROOT_MISMATCH,
    },
    "consistency": {
        "ok": ["--size1", "3", "--size2", "7", "--proof", "@" + M + "consistency-3-to-7.proof",
               "--root1", "@" + M + "root3.hash", "--root2", "@" + M + "root7.hash"],
        "ok_lines": ["verified"],
        "tampered": ["--size1", "3", "--size2", "7", "--proof", "@" + M + "consistency-3-to-7.proof",
                     "--root1", "@" + M + "root7.hash", "--root2", "@" + M + "root3.hash"],
        "message": ROOT_MISMATCH,
    },
    "key-history": {
        "ok": ["--entry", "@" + K + "entry1.txt"],
        "ok_lines": ["verified", "leaf hash: " + (ROOT / K / "entry1.leaf-hash").read_text().strip()],
        "json": {"leaf_hash": (ROOT / K / "entry1.leaf-hash").read_text().strip()},
        "tampered": ["--entry", "@" + K + "entry1.txt", "--context", "no label"],
        "message_prefix": "malformed canonical leaf: ",
    },
    "commitment": {
        "ok": ["--context", "example.org/profile/v1", "--commitment", "@" + K + "commitment.hex",
               "--value-text", "@" + K + "value.txt", "--opening", "@" + K + "opening.hex"],
        "ok_lines": ["verified"],
        "tampered": ["--context", "example.org/profile/v1", "--commitment", "@" + K + "commitment.hex",
                     "--value-text", "mallory", "--opening", "@" + K + "opening.hex"],
        "message": "commitment did not open to the claimed value",
    },
    "coniks-lookup": {
        "ok": ["--namespace", "example.org", "--vrf-public", "@" + C + "vrf-public.hex", "--root",
               "@" + C + "root.hex", "--identity", "alice@example.org", "--proof", "@" + C + "alice.lookup.proof"],
        "ok_lines": ["verified", "value text: public key of alice"],
        "json": {"value": b"public key of alice".hex(), "value_text": "public key of alice"},
        "tampered": ["--namespace", "example.org", "--vrf-public", "@" + C + "vrf-public.hex", "--root",
                     "@" + C + "root.hex", "--identity", "alice@example.org", "--proof",
                     "@" + C + "alice.tampered.proof"],
        "message": "coniks proof root mismatch: recomputed directory root does not match the expected root",
    },
    "coniks-absence": {
        "ok": ["--namespace", "example.org", "--vrf-public", "@" + C + "vrf-public.hex", "--root",
               "@" + C + "root.hex", "--identity", "mallory@example.org", "--proof",
               "@" + C + "mallory.absence.proof"],
        "ok_lines": ["verified"],
        "tampered": ["--namespace", "example.org", "--vrf-public", "@" + C + "vrf-public.hex", "--root",
                     "@" + C + "root.hex", "--identity", "alice@example.org", "--proof",
                     "@" + C + "mallory.absence.proof"],
        "message": "vrf proof did not verify against the namespace public key",
    },
    "note": {
        "ok": ["--note", "@" + L + "checkpoint-4.note", "--keys", "@" + L + "keys.txt"],
        "ok_lines": ["verified", "verified signatures: 2"],
        "json": {"verified_signatures": 2},
        "tampered": ["--note", "@" + L + "checkpoint-7-tampered.note", "--keys", "@" + L + "keys.txt"],
        "message_prefix": "invalid signature for known key ",
    },
    "checkpoint": {
        "ok": ["--note", "@" + L + "checkpoint-7.note", "--keys", "@" + L + "ed25519.vkey"],
        "ok_lines": ["verified", "origin: log.example.org/quenfold/v1", "size: 7"],
        "json": {"origin": "log.example.org/quenfold/v1", "size": 7,
                 "extensions": ["key-history entries: 3"]},
        "tampered": ["--note", "@" + L + "checkpoint-7-tampered.note", "--keys", "@" + L + "keys.txt"],
        "message_prefix": "invalid signature for known key ",
    },
    "checkpoint-inclusion": {
        "ok": ["--note", "@" + L + "checkpoint-7.note", "--keys", "@" + L + "keys.txt", "--index", "5",
               "--leaf-hash", "@" + K + "entry2.leaf-hash", "--proof", "@" + L + "inclusion-entry2-in-7.proof"],
        "ok_lines": ["verified"],
        "tampered": ["--note", "@" + L + "checkpoint-7.note", "--keys", "@" + L + "keys.txt", "--index", "4",
                     "--leaf-hash", "@" + K + "entry2.leaf-hash", "--proof",
                     "@" + L + "inclusion-entry2-in-7.proof"],
        "message": ROOT_MISMATCH,
    },
    "checkpoint-consistency": {
        "ok": ["--older", "@" + L + "checkpoint-4.note", "--newer", "@" + L + "checkpoint-7.note",
               "--keys", "@" + L + "keys.txt", "--proof", "@" + L + "consistency-4-to-7.proof"],
        "ok_lines": ["verified", "older:", "  size: 4", "newer:", "  size: 7"],
        "json": {"older": {"size": 4, "extensions": ["key-history entries: 2"]},
                 "newer": {"size": 7, "extensions": ["key-history entries: 3"]}},
        "tampered": ["--older", "@" + L + "checkpoint-7.note", "--newer", "@" + L + "checkpoint-4.note",
                     "--keys", "@" + L + "keys.txt", "--proof", "@" + L + "consistency-4-to-7.proof"],
        "message": "tree size regression: size2 (4) < size1 (7)",
    },
    "tlog-proof": {
        "ok": ["--proof", "@" + TP + "entry.tlog-proof", "--origin", "log.example.org/proofs/v1",
               "--policy", "@" + TP + "policy.txt", "--entry", "@" + TP + "entry.txt"],
        "ok_lines": ["verified", "index: 13", "size: 23", "origin: log.example.org/proofs/v1"],
        "json": {"index": 13, "size": 23, "origin": "log.example.org/proofs/v1"},
        "tampered": ["--proof", "@" + TP + "entry-tampered.tlog-proof", "--origin", "log.example.org/proofs/v1",
                     "--policy", "@" + TP + "policy.txt", "--entry", "@" + TP + "entry.txt"],
        "message": ROOT_MISMATCH,
    },
    "policy": {
        "ok": ["--envelope", "@" + P + "example.org.policy"],
        "ok_lines": ["verified", "namespace: example.org", "security level: Cat3", "checkpoint suite: Hybrid"],
        "json": {"namespace": "example.org", "policy_schema_version": 1, "security_level": "Cat3",
                 "effective_from": 0, "created_at": 1765152000000},
        "tampered": ["--envelope", "@" + P + "example.org-tampered.policy"],
        "message_prefix": "invalid signature for known key ",
    },
    "posture": {
        "ok": ["--envelope", "@" + P + "example.org.policy", "--commitment-hash", "Sha3_256"],
        "ok_lines": ["verified", "commitment hash: Sha3_256"],
        "json": {"namespace": "example.org", "commitment_hash": "Sha3_256"},
        "tampered": ["--envelope", "@" + P + "example.org.policy", "--commitment-hash", "Sha3_512"],
        "message": "posture mismatch: declared commitment_hash Sha3_256, observed commitment_hash Sha3_512",
    },
    "keytrans-search": {
        "ok": TK + ["--proof", "@" + T + "search-alice.proof"],
        "ok_lines": ["verified", "present: true", "value text: alice key 5"],
        "json": {"present": True, "value": b"alice key 5".hex(), "value_text": "alice key 5"},
        "tampered": TK + ["--proof", "@" + T + "search-alice-tampered.proof"],
        "message": "commitment did not open to the claimed value",
    },
    "keytrans-fixed-version": {
        "ok": TK + ["--proof", "@" + T + "fixed-version-alice-2.proof"],
        "ok_lines": ["verified", "present: true", "value text: alice key 2"],
        "json": {"present": True, "value_text": "alice key 2"},
        "tampered": TK[:-1] + ["bob@example.org", "--proof", "@" + T + "fixed-version-alice-2.proof"],
        "message_prefix": "",
    },
    "keytrans-monitor": {
        "ok": TK + ["--proof", "@" + T + "monitor-alice-4.proof"],
        "ok_lines": ["verified"],
        "tampered": TK[:-1] + ["bob@example.org", "--proof", "@" + T + "monitor-alice-4.proof"],
        "message_prefix": "",
    },
}


def tool_is_sanitized():
    """A sanitizer reserves terabytes of address space for its shadow
    memory, so a tool built with one cannot run under an address-space
    limit at all."""
    binary = pathlib.Path(TOOL).read_bytes()
    return any(marker in binary for marker in (b"__asan_init", b"__tsan_init", b"__msan_init"))


def run(args, stdin=None):
    return subprocess.run([TOOL] + list(args), cwd=ROOT, input=stdin, capture_output=True,
                          text=True, timeout=60)


def subcommands():
    out = run(["--help"])
    names, listing = [], False
    for line in out.stdout.splitlines():
        if line == "Subcommands:":
            listing = True
        elif listing and line.startswith("  "):
            names.append(line.split()[0])
        elif listing and not line.strip():
            listing = False
    return names


def assert_typed(test, got, want, path="$"):
    """`want` is contained in `got`, each value with the same JSON type
    (so that 7 is not "7" and True is not 1)."""
    if isinstance(want, dict):
        test.assertIsInstance(got, dict, path)
        for key, value in want.items():
            test.assertIn(key, got, path)
            assert_typed(test, got[key], value, f"{path}.{key}")
        return
    test.assertIs(type(got), type(want), f"{path}: {got!r} is not typed like {want!r}")
    test.assertEqual(got, want, path)


class CliTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.names = subcommands()

    def test_the_tool_lists_its_subcommands(self):
        self.assertGreaterEqual(len(self.names), 4)
        self.assertEqual(run([]).returncode, 2)
        bad = run(["no-such-command"])
        self.assertEqual(bad.returncode, 2)
        self.assertIn("unknown command no-such-command", bad.stderr)

    def test_version_is_the_project_version(self):
        out = run(["--version"])
        self.assertEqual(out.returncode, 0)
        name, _, version = out.stdout.strip().partition(" ")
        self.assertEqual(name, "quenfold-verify")
        self.assertRegex(version, r"^\d+\.\d+\.\d+$")
        expected = os.environ.get("QUENFOLD_EXPECTED_VERSION")
        if expected:
            self.assertEqual(version, expected)

    def test_the_manual_page_covers_every_subcommand(self):
        page = os.environ.get("QUENFOLD_MAN_PAGE")
        if not page:
            self.skipTest("no manual page was generated (help2man missing)")
        text = pathlib.Path(page).read_text()
        self.assertTrue(text.startswith(".\\\" DO NOT MODIFY THIS FILE!"), text[:80])
        self.assertIn("quenfold-verify " + run(["--version"]).stdout.split()[1], text)
        for name in self.names:
            self.assertIn(name.replace("-", "\\-"), text)

    def test_every_help_has_a_working_example(self):
        marker = "Example (from the repository root):"
        for name in self.names:
            with self.subTest(command=name):
                help_ = run([name, "--help"])
                self.assertEqual(help_.returncode, 0)
                self.assertIn(f"Usage: quenfold-verify {name} ", help_.stdout)
                lines = help_.stdout.splitlines()
                self.assertIn(marker, lines, f"{name} --help shows no example: give it one where "
                              "its group registers it (tools/quenfold-verify/cmd_*.cpp)")
                example = shlex.split(lines[lines.index(marker) + 1])
                self.assertEqual(example[:2], ["quenfold-verify", name])
                done = run(example[1:])
                self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
                self.assertEqual(done.stdout.splitlines()[0], "verified")
                # The verdict is the last line (monitor prints one result per item before it).
                verdict = json.loads(run(example[1:] + ["--json"]).stdout.splitlines()[-1])
                self.assertEqual((verdict["command"], verdict["verdict"]), (name, "verified"))

    def test_every_subcommand_verifies_and_rejects_a_tampered_artefact(self):
        untested = [n for n in self.names if n not in CASES and n not in OWN_TESTS]
        for name in self.names:
            case = CASES.get(name)
            if case is None:
                continue
            with self.subTest(command=name):
                ok = run([name] + case["ok"])
                self.assertEqual(ok.returncode, 0, ok.stdout + ok.stderr)
                lines = ok.stdout.splitlines()
                self.assertEqual(lines[0], "verified")
                for want in case["ok_lines"]:
                    self.assertIn(want, lines)

                bad = run([name] + case["tampered"])
                self.assertEqual(bad.returncode, 1, bad.stdout + bad.stderr)
                self.assertEqual(len(bad.stdout.splitlines()), 1)
                message = bad.stdout.strip()[len("rejected: "):]
                self.assertTrue(bad.stdout.startswith("rejected: "))
                if "message" in case:
                    self.assertEqual(message, case["message"])
                else:
                    self.assertTrue(message.startswith(case["message_prefix"]), message)

                verdict = json.loads(run([name] + case["tampered"] + ["--json"]).stdout)
                self.assertEqual(verdict, {"command": name, "verdict": "rejected", "message": message})
                # --json before the subcommand's name, as the synopsis writes it, says the same.
                self.assertEqual(json.loads(run(["--json", name] + case["tampered"]).stdout), verdict)
                good = json.loads(run([name] + case["ok"] + ["--json"]).stdout)
                assert_typed(self, good, {"command": name, "verdict": "verified", **case.get("json", {})})
                self.assertNotIn("message", good)
                self.assertEqual(json.loads(run(["--json", name] + case["ok"]).stdout), good)
        if untested:
            self.skipTest("no tampered-artefact case for: " + ", ".join(untested))

    def test_json_gives_an_absent_value_as_null(self):
        absent = TK[:-1] + ["bob@example.org", "--proof", "@" + T + "search-bob.proof"]
        out = run(["keytrans-search"] + absent + ["--json"])
        self.assertEqual(out.returncode, 0, out.stdout)
        assert_typed(self, json.loads(out.stdout), {"present": False, "value": None})
        self.assertEqual(run(["keytrans-search"] + absent).stdout, "verified\npresent: false\n")

    def test_option_spellings_and_suite_names(self):
        inclusion = ["inclusion", "--index=4", "--size=7", "--leaf-hash=@" + M + "leaf4.hash",
                     "--proof", "@" + M + "inclusion-4-of-7.proof", "--root=@" + M + "root7.hash"]
        self.assertEqual(run(inclusion).stdout, "verified\n")
        self.assertEqual(run(["--json"] + inclusion).returncode, 0)
        search = TK[2:] + ["--proof", "@" + T + "search-alice.proof"]
        for suite, status in [("p256", 0), ("KT_128_SHA256_P256", 0), ("0x0001", 0), ("1", 0),
                              ("ed25519", 1), ("experimental", 1), ("0x0002", 1)]:
            with self.subTest(suite=suite):
                self.assertEqual(run(["keytrans-search", "--suite", suite] + search).returncode, status)
        bad = run(["keytrans-search", "--suite", "p384"] + search)
        self.assertEqual(bad.returncode, 2)
        self.assertIn("p256, ed25519, experimental", bad.stderr)

    def test_values_from_standard_input(self):
        proof = (ROOT / M / "inclusion-4-of-7.proof").read_text()
        args = ["inclusion", "--index", "4", "--size", "7", "--leaf-hash", "@" + M + "leaf4.hash",
                "--proof", "-", "--root", "@" + M + "root7.hash"]
        self.assertEqual(run(args, stdin=proof).stdout, "verified\n")
        self.assertEqual(run(args, stdin=proof.replace("0a3c", "0a3d")).returncode, 1)
        # Scalars too, and only one value may come from standard input.
        by_index = ["inclusion", "--index", "-", "--size", "7", "--leaf-hash", "@" + M + "leaf4.hash",
                    "--proof", "@" + M + "inclusion-4-of-7.proof", "--root", "@" + M + "root7.hash"]
        self.assertEqual(run(by_index, stdin="4\n").returncode, 0)
        twice = run(["inclusion", "--index", "4", "--size", "7", "--leaf-hash", "-", "--proof", "-",
                     "--root", "@" + M + "root7.hash"], stdin="")
        self.assertEqual(twice.returncode, 2)
        self.assertIn("standard input", twice.stderr)

    def test_bad_usage_exits_2_with_a_reason(self):
        cases = [
            (["inclusion", "--index", "4"], "--size is required"),
            (["inclusion", "--index", "four", "--size", "7", "--leaf-hash", "00", "--root", "00"],
             "--index must be an unsigned decimal number"),
            (["inclusion", "--index", "4", "--size", "7", "--leaf-hash", "0g", "--root", "00"],
             "invalid hex digit"),
            (["consistency", "--bogus", "1"], "unknown option --bogus"),
            (["inclusion", "--jsn"], "unknown option --jsn"),
            (["inclusion", "--index", "4", "7"], "unexpected argument 7"),
            (["commitment", "--context"], "--context"),
            (["inclusion", "--leaf-hash", "@/nonexistent/file", "--index", "0", "--size", "1",
              "--root", "00"], "cannot read /nonexistent/file: No such file or directory"),
            (["inclusion", "--leaf-hash", "@examples", "--index", "0", "--size", "1",
              "--root", "00"], "cannot read examples: Is a directory"),
        ]
        for args, reason in cases:
            with self.subTest(args=args):
                r = run(args)
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                self.assertIn(reason, r.stderr)
                self.assertEqual(r.stdout, "")
                for j in (run(args[:1] + ["--json"] + args[1:]), run(["--json"] + args)):
                    self.assertEqual(j.returncode, 2)
                    verdict = json.loads(j.stdout)
                    self.assertEqual((verdict["command"], verdict["verdict"]), (args[0], "usage"))
                    self.assertIn(reason, verdict["message"])

    def test_bash_completion_follows_the_help(self):
        script = ROOT / "tools" / "quenfold-verify" / "completion.bash"
        probe = f"""
source {shlex.quote(str(script))}
comp() {{ COMP_WORDS=("$@"); COMP_CWORD=$((${{#COMP_WORDS[@]}}-1)); COMPREPLY=(); _quenfold_verify;
         printf '%s\\n' "${{COMPREPLY[@]}}" | sort | tr '\\n' ' '; echo; }}
comp {shlex.quote(TOOL)} checkpoint-
comp {shlex.quote(TOOL)} inclusion --ro
comp {shlex.quote(TOOL)} inclusion --root @{M}root
"""
        out = subprocess.run(["bash", "-c", probe], cwd=ROOT, capture_output=True, text=True,
                             timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        commands, options, files = out.stdout.splitlines()
        self.assertEqual(commands.split(), sorted(n for n in self.names if n.startswith("checkpoint-")))
        self.assertEqual(options.split(), ["--root"])
        self.assertEqual(files.split(), sorted("@" + M + f for f in ("root3.hash", "root7.hash")))


W = "examples/monitor/"
CAP = 16 << 20
BY_STDIN = "only one value can come from standard input (-)"


def run_into(args, stdout, stdin=None):
    """Runs the tool with standard output going to `stdout` (an open file)."""
    return subprocess.run([TOOL] + list(args), cwd=ROOT, input=stdin, stdout=stdout,
                          stderr=subprocess.PIPE, text=True, timeout=60)


class InputBoundsTest(unittest.TestCase):
    """No value read from a file or standard input, however long, makes the
    tool abort: past the cap it is bad usage naming the option."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        d = pathlib.Path(cls.dir.name)
        # A proof of exactly the cap is read (and rejected for its length); one byte more is not read.
        cls.at_cap, cls.over_cap = d / "at-cap.proof", d / "over-cap.proof"
        cls.at_cap.write_text("0" * CAP)
        cls.over_cap.write_text("0" * (CAP + 1))

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def inclusion(self, proof):
        return ["inclusion", "--index", "0", "--size", "1", "--leaf-hash", "@" + M + "leaf4.hash",
                "--root", "@" + M + "root7.hash", "--proof", proof]

    def test_values_past_the_cap_are_bad_usage(self):
        origin = (ROOT / W / "origin.txt").read_text().strip()
        cases = [  # arguments, standard input, the value named
            (["checkpoint", "--origin", origin, "--policy", "@/dev/zero", "--note", "@" + L + "checkpoint-7.note"],
             None, "--policy"),
            (["note", "--keys", "@/dev/zero", "--note", "@" + L + "checkpoint-7.note"], None, "--keys"),
            (["note", "--keys", "@" + L + "keys.txt", "--note", "@/dev/zero"], None, "--note"),
            (["checkpoint", "--keys", "@/dev/urandom", "--note", "@" + L + "checkpoint-7.note"], None, "--keys"),
            (["monitor", "--origin", origin, "--policy", "@/dev/zero", "--input", "@" + W + "session.jsonl"],
             None, "--policy"),
            (self.inclusion("@/dev/zero"), None, "--proof"),
            (self.inclusion("@" + str(self.over_cap)), None, "--proof"),
            (self.inclusion("-"), "0" * (CAP + 1), "--proof"),
        ]
        for args, stdin, name in cases:
            with self.subTest(args=args[:1] + [name]):
                r = run(args, stdin=stdin)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn(f"{name}: larger than 16 MiB", r.stderr)
                self.assertEqual(r.stdout, "")
        for proof, stdin in (("@" + str(self.at_cap), None), ("-", "0" * CAP)):
            with self.subTest(proof=proof, size="at the cap"):
                r = run(self.inclusion(proof), stdin=stdin)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertTrue(r.stdout.startswith("rejected: wrong proof size: "), r.stdout)

    def test_running_out_of_memory_is_reported_not_aborted(self):
        if tool_is_sanitized():
            self.skipTest("a sanitized tool cannot run under an address-space limit")
        # The least address space in which the tool starts at all (in MiB),
        # then a run with 8 MiB more: reading a 15 MiB proof cannot fit.
        def limited(args, mib):
            def limit():
                resource.setrlimit(resource.RLIMIT_AS, (mib << 20, mib << 20))
            return subprocess.run([TOOL] + args, cwd=ROOT, capture_output=True, text=True, timeout=60,
                                  preexec_fn=limit)
        low, high = 1, 4096
        self.assertEqual(limited(["--version"], high).returncode, 0)
        while low < high:
            mid = (low + high) // 2
            if limited(["--version"], mid).returncode == 0:
                high = mid
            else:
                low = mid + 1
        big = pathlib.Path(self.dir.name) / "15-mib.proof"
        big.write_text("0" * (15 << 20))
        for json_first in (False, True):
            with self.subTest(json=json_first):
                args = self.inclusion("@" + str(big))
                r = limited((["--json"] if json_first else []) + args, high + 8)
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                if json_first:
                    self.assertEqual(json.loads(r.stdout), {"command": "inclusion", "verdict": "usage",
                                                            "message": "out of memory"})
                else:
                    self.assertIn("quenfold-verify inclusion: out of memory", r.stderr)

    def test_one_value_from_standard_input(self):
        origin = (ROOT / W / "origin.txt").read_text().strip()
        policy = (ROOT / W / "policy.txt").read_text()
        cases = [  # arguments, standard input (the value read first, which is fine)
            (["inclusion", "--index", "4", "--size", "7", "--leaf-hash", "-", "--proof", "-",
              "--root", "@" + M + "root7.hash"], ""),
            (["checkpoint", "--origin", origin, "--policy", "-", "--note", "-"], policy),
            (["note", "--keys", "-", "--note", "-"], (ROOT / L / "keys.txt").read_text()),
            # The session's default is standard input: it cannot also carry the policy.
            (["monitor", "--origin", origin, "--policy", "-"], policy),
            (["monitor", "--origin", origin, "--policy", "-", "--input", "-"], policy),
        ]
        for args, stdin in cases:
            with self.subTest(args=args):
                r = run(args, stdin=stdin)
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                self.assertIn(BY_STDIN, r.stderr)
                self.assertEqual(r.stdout, "")
        # One value from standard input is fine, the session by default as well.
        self.assertEqual(run(["checkpoint", "--origin", origin, "--policy", "@" + W + "policy.txt",
                              "--note", "-"], stdin=witnessed_notes()[0]).returncode, 0)
        session = (ROOT / W / "session.jsonl").read_text()
        self.assertEqual(run(["monitor", "--origin", origin, "--policy", "@" + W + "policy.txt"],
                             stdin=session).returncode, 0)

    def test_a_verdict_that_cannot_be_written_is_not_a_success(self):
        ok = ["checkpoint", "--note", "@" + L + "checkpoint-7.note", "--keys", "@" + L + "ed25519.vkey"]
        bad = ["checkpoint", "--note", "@" + L + "checkpoint-7-tampered.note", "--keys", "@" + L + "keys.txt"]
        for args in (ok, ok + ["--json"], bad, ["--json"] + bad, ["--help"], ["checkpoint", "--help"],
                     ["--version"]):
            with self.subTest(args=args):
                with open("/dev/full", "w") as full:
                    r = run_into(args, full)
                self.assertEqual(r.returncode, 2, r.stderr)
                # The system's reason, when the write that failed is the last one.
                self.assertRegex(r.stderr, r"^quenfold-verify: cannot write to standard output"
                                           r"(: No space left on device)?\n$")
        with tempfile.TemporaryFile("w+") as out:  # the same commands with room to write
            self.assertEqual(run_into(ok, out).returncode, 0)
            self.assertEqual(run_into(bad, out).returncode, 1)

    def test_key_files_with_crlf_line_ends(self):
        with tempfile.TemporaryDirectory() as d:
            crlf = pathlib.Path(d) / "keys.txt"
            crlf.write_bytes((ROOT / L / "keys.txt").read_bytes().replace(b"\n", b"\r\n"))
            self.assertIn(b"\r\n", crlf.read_bytes())
            for name in ("note", "checkpoint-consistency"):
                with self.subTest(command=name):
                    args = [name] + CASES[name]["ok"]
                    lf = run(args)
                    self.assertEqual(lf.returncode, 0, lf.stdout + lf.stderr)
                    with_crlf = run([a.replace("@" + L + "keys.txt", "@" + str(crlf)) for a in args])
                    self.assertEqual((with_crlf.returncode, with_crlf.stdout, with_crlf.stderr),
                                     (0, lf.stdout, ""))
            origin = (ROOT / W / "origin.txt").read_text().strip()
            log_key = pathlib.Path(d) / "log.vkey"
            log_key.write_bytes((ROOT / W / "log.vkey").read_text().strip().encode() + b"\r\n")
            r = run(["checkpoint", "--origin", origin, "--keys", "@" + str(log_key), "--note", "-"],
                    stdin=witnessed_notes()[0])
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)


def witnessed_notes():
    """The cosigned checkpoints of the example monitoring session (made by
    tools/make-examples), in order."""
    items = [json.loads(line) for line in (ROOT / W / "session.jsonl").read_text().splitlines() if line]
    return [i["note"] for i in items if i["type"] == "checkpoint"]


class WitnessedCheckpointTest(unittest.TestCase):
    """checkpoint, checkpoint-inclusion and checkpoint-consistency with
    --origin and a witness --policy, on the example monitoring session: the
    log's signature, the origin and the quorum are checked, and the signers
    and cosigners are printed after the head."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        d = pathlib.Path(cls.dir.name)
        cls.origin = (ROOT / W / "origin.txt").read_text().strip()
        items = [json.loads(line) for line in (ROOT / W / "session.jsonl").read_text().splitlines() if line]
        checkpoints = [n for n, i in enumerate(items) if i["type"] == "checkpoint"]
        cls.notes = witnessed_notes()
        for n, note in enumerate(cls.notes):
            (d / f"c{n}.note").write_text(note)
        cls.consistency = ",".join(items[checkpoints[1]]["consistency"])
        cls.inclusion = items[checkpoints[0] + 1]
        assert cls.inclusion["type"] == "inclusion"
        policy = (ROOT / W / "policy.txt").read_text()
        cls.log_key = (ROOT / W / "log.vkey").read_text().strip()
        cls.witness_keys = [line.split()[2] for line in policy.splitlines() if line.startswith("witness ")]
        assert len(cls.witness_keys) == 2
        # The policy without its log line: the log's key comes from --keys.
        (d / "witnesses.policy").write_text("".join(line + "\n" for line in policy.splitlines()
                                                    if not line.startswith("log ")))
        (d / "bad.policy").write_text(policy + "bogus line\n")
        # Cosigned by nobody, and with the first witness's cosignature broken.
        lines = cls.notes[0].splitlines(keepends=True)
        (d / "bare.note").write_text("".join(line for line in lines if "— witness." not in line))
        w1 = next(n for n, line in enumerate(lines) if line.startswith("— witness.example.net/w1 "))
        sig = lines[w1].rstrip("\n").split(" ")[2]
        flipped = sig[:20] + ("A" if sig[20] != "A" else "B") + sig[21:]
        lines[w1] = lines[w1].replace(sig, flipped)
        (d / "bad-cosignature.note").write_text("".join(lines))

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def path(self, name):
        return "@" + str(pathlib.Path(self.dir.name) / name)

    def policy(self):
        return ["--origin", self.origin, "--policy", "@" + W + "policy.txt"]

    def signer_ids(self, signers):
        return [(s["name"], s["key_id"]) for s in signers]

    def test_a_checkpoint_under_the_policy(self):
        log = (self.origin, self.log_key.split("+")[1])
        witnesses = [tuple(k.split("+")[:2]) for k in self.witness_keys]
        head = base64.b64decode(self.notes[0].splitlines()[2]).hex()
        cases = [  # options, log signers, cosigners
            (self.policy(), [log], witnesses),
            (["--origin", self.origin, "--keys", self.log_key], [log], []),
            (["--origin", self.origin, "--keys", ",".join([self.log_key] + self.witness_keys)], [log], witnesses),
            (["--origin", self.origin, "--keys", self.log_key, "--policy", self.path("witnesses.policy")],
             [log], witnesses),
        ]
        for options, log_signers, cosigners in cases:
            with self.subTest(options=options):
                r = run(["checkpoint", "--note", self.path("c0.note")] + options + ["--json"])
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                out = json.loads(r.stdout)
                assert_typed(self, out, {"command": "checkpoint", "verdict": "verified", "origin": self.origin,
                                         "size": 16, "root": head, "extensions": []})
                self.assertEqual(list(out)[-2:], ["log_signers", "cosigners"])
                self.assertEqual(self.signer_ids(out["log_signers"]), log_signers)
                self.assertEqual(self.signer_ids(out["cosigners"]), cosigners)
                self.assertTrue(all("timestamp_seconds" not in s for s in out["log_signers"]))
                stamps = [s["timestamp_seconds"] for s in out["cosigners"]]
                self.assertTrue(all(type(t) is int for t in stamps))
                # The same content as text: the head, then each signer below its label.
                text = run(["checkpoint", "--note", self.path("c0.note")] + options).stdout
                want = ["verified", "origin: " + self.origin, "size: 16", "root: " + head]
                for label, signers in (("log signers", out["log_signers"]), ("cosigners", out["cosigners"])):
                    for s in signers:
                        want += [label + ":", "  name: " + s["name"], "  key id: " + s["key_id"], "  type: " + s["type"]]
                        want += ["  timestamp seconds: %d" % s["timestamp_seconds"]] if "timestamp_seconds" in s else []
                self.assertEqual(text.splitlines(), want)

    def test_proofs_under_the_policy(self):
        inc = self.inclusion
        inclusion = ["checkpoint-inclusion", "--note", self.path("c0.note"), "--index", str(inc["index"]),
                     "--leaf-hash", inc["leaf_hash"], "--proof", ",".join(inc["proof"])] + self.policy()
        r = run(inclusion + ["--json"])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        out = json.loads(r.stdout)
        self.assertEqual((out["size"], len(out["log_signers"]), len(out["cosigners"])), (16, 1, 2))
        moved = [a if a != str(inc["index"]) else str(inc["index"] + 1) for a in inclusion]
        self.assertEqual(run(moved).stdout, "rejected: " + ROOT_MISMATCH + "\n")

        consistency = ["checkpoint-consistency", "--older", self.path("c0.note"), "--newer", self.path("c1.note"),
                       "--proof", self.consistency] + self.policy()
        r = run(consistency + ["--json"])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        out = json.loads(r.stdout)
        self.assertEqual([(out[k]["size"], len(out[k]["cosigners"])) for k in ("older", "newer")], [(16, 2), (29, 2)])
        swapped = run(["checkpoint-consistency", "--older", self.path("c1.note"), "--newer", self.path("c0.note"),
                       "--proof", self.consistency] + self.policy())
        self.assertEqual((swapped.returncode, swapped.stdout),
                         (1, "rejected: tree size regression: size2 (16) < size1 (29)\n"))

    def test_rejections_under_the_policy(self):
        cases = [  # command, options, message prefix
            (["checkpoint", "--note", self.path("bare.note")] + self.policy(), "witness quorum not met: "),
            (["checkpoint", "--note", self.path("bad-cosignature.note")] + self.policy(),
             'invalid signature for known key "witness.example.net/w1" '),
            (["checkpoint", "--note", self.path("c0.note"), "--origin", "other", "--keys", self.log_key],
             'checkpoint origin mismatch: got "' + self.origin + '", want "other"'),
            (["checkpoint-inclusion", "--note", self.path("bare.note"), "--index", "0", "--leaf-hash",
              self.inclusion["leaf_hash"], "--proof", ",".join(self.inclusion["proof"])] + self.policy(),
             "witness quorum not met: "),
            (["checkpoint-consistency", "--older", self.path("c0.note"), "--newer", self.path("bare.note"),
              "--proof", self.consistency] + self.policy(), "witness quorum not met: "),
        ]
        for args, prefix in cases:
            with self.subTest(args=args):
                r = run(args)
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                self.assertTrue(r.stdout.startswith("rejected: " + prefix), r.stdout)
                self.assertEqual(len(r.stdout.splitlines()), 1)
        # Without the witnesses' keys the same bare note is the log's own statement.
        self.assertEqual(run(["checkpoint", "--note", self.path("bare.note"), "--origin", self.origin,
                              "--keys", self.log_key]).returncode, 0)

    def test_bad_configuration_is_bad_usage(self):
        bad_key = "bogus+1+2"
        note_key_error = 'malformed signed note: malformed verifier key: "bogus+1+2"'
        list_key_error = 'verifier key 1 "bogus": malformed verifier key: "bogus+1+2"'
        policy_error = 'malformed witness policy: line 7: unknown keyword "bogus"'
        no_log = ('no key signs for the log "other": give --keys naming the log\'s key, or a --policy whose '
                  'log line is named "other"')
        c0, c1 = self.path("c0.note"), self.path("c1.note")
        cases = [  # arguments, exact message
            (["note", "--note", c0, "--keys", bad_key], note_key_error),
            (["checkpoint", "--note", c0, "--keys", self.log_key + "," + bad_key], note_key_error),
            (["checkpoint-inclusion", "--note", c0, "--keys", bad_key, "--index", "0", "--leaf-hash", "00"],
             note_key_error),
            (["checkpoint-consistency", "--older", c0, "--newer", c1, "--keys", bad_key], note_key_error),
            (["checkpoint", "--note", c0, "--origin", self.origin, "--keys", bad_key], list_key_error),
            (["checkpoint", "--note", c0, "--origin", self.origin, "--policy", self.path("bad.policy")],
             policy_error),
            (["checkpoint-consistency", "--older", c0, "--newer", c1, "--origin", self.origin,
              "--policy", self.path("bad.policy")], policy_error),
            (["checkpoint", "--note", c0, "--origin", "other", "--policy", "@" + W + "policy.txt"], no_log),
            (["checkpoint", "--note", c0, "--origin", self.origin, "--keys", ",".join(self.witness_keys)],
             no_log.replace('"other"', '"' + self.origin + '"')),
            (["checkpoint", "--note", c0, "--policy", "@" + W + "policy.txt"], "--policy requires --origin"),
            (["checkpoint", "--note", c0], "--keys is required (or --origin with --policy)"),
            (["checkpoint-inclusion", "--note", c0, "--origin", self.origin, "--index", "0", "--leaf-hash", "00"],
             "--origin needs --keys, --policy or both"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r = run(args)
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                self.assertEqual(r.stdout, "")
                self.assertEqual(r.stderr.splitlines()[0], f"quenfold-verify {args[0]}: {message}")
                j = run(["--json"] + args)
                self.assertEqual((j.returncode, json.loads(j.stdout)),
                                 (2, {"command": args[0], "verdict": "usage", "message": message}))
        # A note that does not parse, under good keys, is still a verdict on the note.
        r = run(["note", "--note", "not a note", "--keys", "@" + L + "keys.txt"])
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertTrue(r.stdout.startswith("rejected: malformed signed note: "), r.stdout)

    def test_without_origin_the_output_is_the_head_alone(self):
        note = (ROOT / L / "checkpoint-7.note").read_text()
        body = note.split("\n\n")[0].split("\n")
        r = run(CASES["checkpoint"]["ok"][:0] + ["checkpoint"] + CASES["checkpoint"]["ok"])
        self.assertEqual(r.stdout, "verified\norigin: %s\nsize: %s\nroot: %s\n%s" % (
            body[0], body[1], base64.b64decode(body[2]).hex(), "".join("extensions: " + e + "\n" for e in body[3:])))


MON = "examples/monitor/"
# Pieces of sessions made by tools/make-examples (gen_monitor.cpp): honest
# checkpoints of sizes 16, 20, 29 and 40, checkpoints of a fork that shares
# the first 16 records, the consistency proofs between them and an
# inclusion proof line under each.
PIECES = json.loads((ROOT / MON / "pieces.json").read_text())
NO_CHECKPOINT = "the session has no checkpoint"


def cp(name, proof=None, **extra):
    """A checkpoint line: the note named `name`, with the consistency proof
    named `proof` (or a literal list, or None for no member)."""
    line = {"type": "checkpoint", "note": PIECES["notes"][name]}
    if proof is not None:
        line["consistency"] = PIECES["consistency"][proof] if isinstance(proof, str) else proof
    line.update(extra)
    return json.dumps(line)


def inc(name):
    return json.dumps(PIECES["inclusion"][name])


def fork_error(reference_line, reason):
    return f"fork: not consistent with the checkpoint on line {reference_line}: {reason}"


PROOF_FAILS = "the consistency proof fails: " + ROOT_MISMATCH


def note_root(note):
    """A checkpoint note's root (its third line, base64) as lower-case hex."""
    return base64.b64decode(note.split("\n")[2]).hex()


class RealSignatureTypesTest(unittest.TestCase):
    """Checkpoints real logs signed with the key types beyond the C ABI's:
    an RFC 6962 tree head signature (static-ct-api, type 0x05) and an
    ML-DSA-44 subtree/v1 signature (type 0x06), through --origin and
    --keys. The RFC 6962 key is written here from the log's public key, so
    its key id rule is checked independently of the library."""

    TILES = ROOT.parent / "shared" / "testdata" / "real-logs" / "tiles"

    def setUp(self):
        if not self.TILES.is_dir():
            self.skipTest("the shared test data is not beside this checkout")

    def verify(self, note_path, origin, vkey):
        with tempfile.NamedTemporaryFile("w", suffix=".vkey") as keys:
            keys.write(vkey + "\n")
            keys.flush()
            r = run(["checkpoint", "--note", "@" + str(note_path), "--origin", origin, "--keys", "@" + keys.name,
                     "--json"])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return json.loads(r.stdout)

    def test_rfc6962_checkpoint(self):
        import hashlib
        tree = json.loads((self.TILES / "sunlight-skylight" / "SOURCE.json").read_text())["artefacts"]["tree/"]
        note = self.TILES / "sunlight-skylight" / "tree" / "checkpoint"
        origin = note.read_text().split("\n", 1)[0]
        spki = base64.b64decode(tree["log_public_key_spki_b64"])
        log_id = hashlib.sha256(spki).digest()
        key_id = hashlib.sha256(origin.encode() + b"\n\x05" + log_id).digest()[:4].hex()
        vkey = f"{origin}+{key_id}+" + base64.b64encode(b"\x05" + spki).decode()
        out = self.verify(note, origin, vkey)
        assert_typed(self, out["log_signers"][0], {"name": origin, "key_id": key_id, "type": "rfc6962",
                                                   "timestamp_millis": tree["sth_timestamp_ms"],
                                                   "covers_origin": False})

    def test_ml_dsa_checkpoint(self):
        folder = self.TILES / "torchwood-mldsa"
        note = folder / "checkpoint"
        origin = note.read_text().split("\n", 1)[0]
        out = self.verify(note, origin, (folder / "log.vkey").read_text().strip())
        signer = out["log_signers"][0]
        assert_typed(self, signer, {"name": origin, "type": "subtree/v1"})
        self.assertNotIn("timestamp_seconds", signer)  # signed with time 0: claims none


RK = "examples/rfc6962/"


class Rfc6962KeyTest(unittest.TestCase):
    """vkey-rfc6962: the verifier key of an RFC 6962 log from its public
    key as a CT log list gives it. The key id is recomputed here from the
    log ID (SHA-256(origin || LF || 0x05 || log ID)[:4]), the log ID must be
    the list's, and the key must verify the log's own checkpoint."""

    TILES = ROOT.parent / "shared" / "testdata" / "real-logs" / "tiles"

    def vkey(self, origin, spki, *extra):
        r = run(["vkey-rfc6962", "--origin", origin, "--spki", spki, "--json"] + list(extra))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return json.loads(r.stdout)

    def checkpoint_signer(self, note_path, origin, vkey):
        with tempfile.NamedTemporaryFile("w", suffix=".vkey") as keys:
            keys.write(vkey + "\n")
            keys.flush()
            r = run(["checkpoint", "--note", "@" + str(note_path), "--origin", origin, "--keys", "@" + keys.name,
                     "--json"])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        signers = json.loads(r.stdout)["log_signers"]
        self.assertEqual(len(signers), 1)
        return signers[0]

    def assert_key_of(self, out, origin, spki_b64, log_id_b64):
        import hashlib
        spki = base64.b64decode(spki_b64)
        log_id = base64.b64decode(log_id_b64)
        self.assertEqual(out["log_id"], log_id_b64)
        key_id = hashlib.sha256(origin.encode() + b"\n\x05" + log_id).digest()[:4].hex()
        self.assertEqual(out["key_id"], key_id)
        self.assertEqual(out["name"], origin)
        self.assertEqual(out["vkey"], f"{origin}+{key_id}+" + base64.b64encode(b"\x05" + spki).decode())

    def test_a_real_static_ct_log(self):
        if not self.TILES.is_dir():
            self.skipTest("the shared test data is not beside this checkout")
        folder = self.TILES / "sunlight-skylight"
        source = json.loads((folder / "SOURCE.json").read_text())
        tree = source["artefacts"]["tree/"]
        facts = source["checks"]["facts"]["log_signature"]
        note = folder / "tree" / "checkpoint"
        origin = note.read_text().split("\n", 1)[0]
        out = self.vkey(origin, tree["log_public_key_spki_b64"])
        self.assert_key_of(out, origin, tree["log_public_key_spki_b64"], tree["log_id_b64"])
        self.assertEqual(out["key_id"], facts["key_id"])
        signer = self.checkpoint_signer(note, origin, out["vkey"])
        assert_typed(self, signer, {"name": origin, "key_id": facts["key_id"], "type": "rfc6962",
                                    "timestamp_millis": tree["sth_timestamp_ms"], "covers_origin": False})
        # Under another origin the same public key is another key, which the log did not sign with.
        other = self.vkey("elsewhere.example.org/2026h1", tree["log_public_key_spki_b64"])
        self.assertNotEqual(other["key_id"], out["key_id"])
        self.assertEqual(other["log_id"], out["log_id"])

    def test_the_bundled_log_from_a_file_and_standard_input(self):
        origin = (ROOT / RK / "origin.txt").read_text().strip()
        spki = (ROOT / RK / "log-key.b64").read_text().strip()
        log_id = (ROOT / RK / "log-id.b64").read_text().strip()
        builders_key = (ROOT / RK / "log.vkey").read_text().strip()
        with tempfile.NamedTemporaryFile("w", suffix=".b64") as padded:
            padded.write("\r\n  " + spki + " \r\n\n")
            padded.flush()
            for given, stdin in [(spki, None), ("@" + RK + "log-key.b64", None), ("@" + padded.name, None),
                                 ("-", spki + "\n")]:
                with self.subTest(spki=given):
                    r = run(["vkey-rfc6962", "--origin", origin, "--spki", given, "--json"], stdin=stdin)
                    self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                    out = json.loads(r.stdout)
                    self.assert_key_of(out, origin, spki, log_id)
                    self.assertEqual(out["vkey"], builders_key)
        text = run(["vkey-rfc6962", "--origin", origin, "--spki", spki]).stdout.splitlines()
        self.assertEqual(text, ["verified", "vkey: " + builders_key, "name: " + origin,
                                "key id: " + out["key_id"], "log id: " + log_id])
        signer = self.checkpoint_signer(ROOT / RK / "checkpoint.note", origin, out["vkey"])
        self.assertEqual((signer["key_id"], signer["type"]), (out["key_id"], "rfc6962"))

    def test_a_key_that_is_not_an_ecdsa_p256_spki_is_bad_usage(self):
        origin = (ROOT / RK / "origin.txt").read_text().strip()
        spki = base64.b64decode((ROOT / RK / "log-key.b64").read_text())
        # An Ed25519 SubjectPublicKeyInfo (RFC 8410): the same structure, another algorithm.
        ed25519 = bytes.fromhex("302a300506032b6570032100") + bytes(range(32))
        # The P-256 key with its point's first coordinate byte changed: not on the curve.
        off_curve = spki[:27] + bytes([spki[27] ^ 1]) + spki[28:]
        not_p256 = "--spki: public key is not an ECDSA P-256 SubjectPublicKeyInfo"
        cases = [
            ("!!!!", "--spki: public key is not valid base64"),
            (base64.b64encode(spki).decode()[:-2], "--spki: public key is not valid base64"),
            ("", not_p256),
            (base64.b64encode(ed25519).decode(), not_p256),
            (base64.b64encode(spki[:-1]).decode(), not_p256),
            (base64.b64encode(spki + b"\x00").decode(), not_p256),
            (base64.b64encode(off_curve).decode(), not_p256),
            # the verifier key's data (0x05 || DER) rather than the DER
            (base64.b64encode(b"\x05" + spki).decode(), not_p256),
        ]
        for given, message in cases:
            with self.subTest(spki=given):
                r = run(["vkey-rfc6962", "--origin", origin, "--spki", given])
                self.assertEqual((r.returncode, r.stdout), (2, ""), r.stderr)
                self.assertEqual(r.stderr.splitlines()[0], "quenfold-verify vkey-rfc6962: " + message)
                j = run(["vkey-rfc6962", "--origin", origin, "--spki", given, "--json"])
                self.assertEqual(j.returncode, 2)
                self.assertEqual(json.loads(j.stdout),
                                 {"command": "vkey-rfc6962", "verdict": "usage", "message": message})
        for args, message in [
            (["--origin", "a+b", "--spki", "@" + RK + "log-key.b64"], '--origin: "a+b" is not a valid key name'),
            (["--origin", origin], "--spki is required"),
        ]:
            with self.subTest(args=args):
                r = run(["vkey-rfc6962"] + args)
                self.assertEqual(r.returncode, 2, r.stdout)
                self.assertEqual(r.stderr.splitlines()[0], "quenfold-verify vkey-rfc6962: " + message)


class MonitorTest(unittest.TestCase):
    """The monitor: one result per JSON line, the same on any number of
    threads, a summary and an exit status; no progress bar off a terminal."""

    def setUp(self):
        self.origin = (ROOT / MON / "origin.txt").read_text().strip()
        self.session = (ROOT / MON / "session.jsonl").read_text()
        self.items = [json.loads(line) for line in self.session.splitlines()]

    def monitor(self, *args, stdin=None):
        return run(["monitor", "--origin", self.origin, "--policy", "@" + MON + "policy.txt"] + list(args),
                   stdin=stdin)

    def monitor_json(self, lines, *args):
        """Runs a session of `lines` from standard input with --json: the exit
        status, the item results, the fork records and the verdict."""
        r = self.monitor("--json", *args, stdin="".join(line + "\n" for line in lines))
        self.assertEqual(r.stderr, "")
        out = [json.loads(line) for line in r.stdout.splitlines()]
        items = [x for x in out[:-1] if x.get("type") != "fork"]
        forks = [x for x in out[:-1] if x.get("type") == "fork"]
        return r.returncode, items, forks, out[-1]

    def test_every_item_is_reported_in_order(self):
        for threads in ("1", "2", "5"):
            with self.subTest(threads=threads):
                r = self.monitor("--input", "@" + MON + "session.jsonl", "--threads", threads, "--json")
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                self.assertEqual(r.stderr, "")  # no progress bar: standard error is not a terminal
                lines = [json.loads(line) for line in r.stdout.splitlines()]
                results, summary = lines[:-1], lines[-1]
                self.assertEqual([x["line"] for x in results], list(range(1, len(self.items) + 1)))
                self.assertEqual([x["type"] for x in results], [i["type"] for i in self.items])
                self.assertTrue(all(x["verified"] for x in results))
                checkpoints = [x for x in results if x["type"] == "checkpoint"]
                self.assertEqual([c["size"] for c in checkpoints], [16, 29, 40])
                for c in checkpoints:
                    # Roots are lower-case hex, as every byte string --json prints.
                    self.assertRegex(c["root"], r"^[0-9a-f]{64}$")
                    self.assertNotIn("stale", c)
                    self.assertEqual([w["name"] for w in c["cosigners"]],
                                     ["witness.example.net/w1", "witness.example.org/w2"])
                    self.assertEqual(c["cosigners"][1]["timestamp_seconds"] - c["cosigners"][0]["timestamp_seconds"], 2)
                self.assertEqual(summary, {"command": "monitor", "verdict": "verified", "summary": {
                    "items": len(self.items), "verified": len(self.items), "rejected": 0,
                    "checkpoints": 3, "inclusions": len(self.items) - 3, "stale": 0, "forks": 0}})
                self.assertEqual([c["root"] for c in checkpoints],
                                 [note_root(i["note"]) for i in self.items if i["type"] == "checkpoint"])

    def test_rejections_are_named_and_set_the_exit_status(self):
        r = self.monitor("--input", "@" + MON + "session-tampered.jsonl")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        lines = r.stdout.splitlines()
        bad = [n for n, line in enumerate((ROOT / MON / "session-tampered.jsonl").read_text().splitlines(), 1)
               if '"index":20,' in line and line not in self.session]
        self.assertEqual(len(bad), 1)
        self.assertEqual(lines, [f"line {bad[0]}: inclusion: rejected: " + ROOT_MISMATCH,
                                 f"rejected: 1 of {len(self.items)} items did not verify"])

        # From standard input, under the log key alone, with the last
        # checkpoint without its consistency proof, one of another origin
        # (whose signature then fails) and an unknown type.
        items = [dict(i) for i in self.items]
        cps = [n for n, i in enumerate(items) if i["type"] == "checkpoint"]
        del items[cps[-1]]["consistency"]
        items.append({"type": "checkpoint", "note": items[0]["note"].replace(self.origin, "other", 1)})
        items.append({"type": "bogus"})
        text = "\n".join(json.dumps(i) for i in items) + "\n\n"
        keys = (ROOT / MON / "log.vkey").read_text().strip()
        r = run(["monitor", "--origin", self.origin, "--keys", keys, "--json"], stdin=text)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        out = [json.loads(line) for line in r.stdout.splitlines()]
        errors = {x["line"]: x["error"] for x in out[:-1] if not x["verified"]}
        self.assertEqual(errors, {
            cps[-1] + 1: f"missing consistency proof from the checkpoint on line {cps[-2] + 1}",
            # The proofs under the last checkpoint rest on nothing now.
            **{n + 1: f"its checkpoint (line {cps[-1] + 1}) was rejected" for n in range(cps[-1] + 1, len(self.items))},
            len(items) - 1: "invalid signature for known key \"" + self.origin + "\" (key id " +
                            keys.split("+")[1] + ")",
            len(items): 'unknown type "bogus"',
        })
        self.assertEqual(out[-1]["summary"]["rejected"], len(errors))

    def test_verdicts_of_sessions(self):
        """Each session is a list of lines; `want` maps line numbers to "ok",
        "stale <reference line>" or the exact error; `forks` lists (line,
        reference line)."""
        quorum = "witness quorum not met: 0 valid cosignatures"
        stranger = "note has no verifiable signature from a trusted key"
        cases = [
            ("an inclusion proof under a fork vouches for nothing",
             [cp("20"), cp("fork-45", "20-fork-45"), inc("fork-45")], 3,
             {1: "ok", 2: fork_error(1, PROOF_FAILS), 3: "its checkpoint (line 2) was rejected"}, [(2, 1)]),
            ("the same size with another root",
             [cp("29"), cp("fork-29"), cp("fork-29", [])], 3,
             {1: "ok", 2: fork_error(1, "the same size with another root"),
              3: fork_error(1, "the same size with another root")}, [(2, 1), (3, 1)]),
            ("a fork without its witnesses is a fork all the same",
             [cp("20"), cp("fork-45-unwitnessed", "20-fork-45"), inc("fork-45"), cp("29", "20-29"), inc("29")], 3,
             {1: "ok", 2: fork_error(1, PROOF_FAILS), 3: "its checkpoint (line 2) was rejected", 4: "ok", 5: "ok"},
             [(2, 1)]),
            ("a stranger's checkpoint is rejected, not a fork",
             [cp("20"), cp("stranger-45", "20-fork-45"), inc("fork-45")], 1,
             {1: "ok", 2: stranger, 3: "its checkpoint (line 2) was rejected"}, []),
            ("a log-signed checkpoint short of its witnesses, consistent, is rejected",
             [cp("16"), cp("fork-45-unwitnessed", "16-fork-45"), inc("fork-45")], 1,
             {1: "ok", 2: quorum, 3: "its checkpoint (line 2) was rejected"}, []),
            ("a first checkpoint short of its witnesses is no reference",
             [cp("fork-45-unwitnessed"), cp("16"), inc("16")], 1, {1: quorum, 2: "ok", 3: "ok"}, []),
            ("stale checkpoints verify, anchor their proofs and leave the reference",
             [cp("29"), inc("29"), cp("16", "16-29"), inc("16"), cp("40", "29-40"), inc("40"), cp("20", "20-40"),
              inc("20"), cp("29", "29-40")], 0,
             {1: "ok", 2: "ok", 3: "stale 1", 4: "ok", 5: "ok", 6: "ok", 7: "stale 5", 8: "ok", 9: "stale 5"}, []),
            ("proofs relate to the reference, not to the line before",
             [cp("16"), cp("40", "16-40"), cp("29", "29-40"), cp("40"), cp("40", []), cp("40", None, consistency=None),
              inc("40")], 0,
             {1: "ok", 2: "ok", 3: "stale 2", 4: "ok", 5: "ok", 6: "ok", 7: "ok"}, []),
            ("a proof from the line before, when that is not the reference, is a failed proof",
             [cp("16"), cp("29", "16-29"), cp("20", "16-20"), cp("40", "29-40")], 3,
             {1: "ok", 2: "ok", 3: fork_error(2, "the consistency proof fails: wrong proof size: got 1, want 4"),
              4: "ok"}, [(3, 2)]),
            ("a fork that extends the honest prefix becomes the reference; the honest log then forks from it",
             [cp("16"), cp("fork-45", "16-fork-45"), cp("29", "29-40")], 3,
             {1: "ok", 2: "ok", 3: fork_error(2, PROOF_FAILS)}, [(3, 2)]),
            ("a first checkpoint with an empty or null proof",
             [cp("16", []), inc("16"), cp("29", "16-29")], 0, {1: "ok", 2: "ok", 3: "ok"}, []),
            ("a first checkpoint with a null proof",
             [cp("16", None, consistency=None), inc("16")], 0, {1: "ok", 2: "ok"}, []),
            ("a missing proof is rejected, and proves no fork",
             [cp("16"), cp("29"), inc("29"), cp("20", []), cp("29", "16-29")], 1,
             {1: "ok", 2: "missing consistency proof from the checkpoint on line 1",
              3: "its checkpoint (line 2) was rejected", 4: "missing consistency proof from the checkpoint on line 1",
              5: "ok"}, []),
            ("a missing proof to the reference",
             [cp("29"), cp("16")], 1, {1: "ok", 2: "missing consistency proof to the checkpoint on line 1"}, []),
            ("a proof between checkpoints of one size",
             [cp("29"), cp("29", "16-29")], 1,
             {1: "ok", 2: "a consistency proof, but the checkpoint on line 1 has the same size"}, []),
            ("an index of 2^64 is out of range",
             [cp("16"), inc("16").replace('"index": 7', '"index": 18446744073709551616')], 1,
             {1: "ok", 2: "\"index\" is out of range (at most 2^64 - 1)"}, []),
            ("duplicate keys are refused",
             [cp("16"), inc("16").replace('"index": 7', '"index": 7, "index": 7')], 1,
             {1: "ok", 2: "duplicate key \"index\""}, []),
            ("an inclusion proof before any checkpoint",
             [inc("16"), cp("16")], 1, {1: "no checkpoint before this inclusion proof", 2: "ok"}, []),
        ]
        for name, lines, status, want, forks in cases:
            with self.subTest(name):
                code, items, fork_records, verdict = self.monitor_json(lines)
                self.assertEqual(code, status, json.dumps(items, indent=1))
                got = {}
                for x in items:
                    if not x["verified"]:
                        got[x["line"]] = x["error"]
                    else:
                        got[x["line"]] = f"stale {x['reference_line']}" if x.get("stale") else "ok"
                self.assertEqual(got, want)
                self.assertEqual([(f["line"], f["reference_line"]) for f in fork_records], forks)
                summary = verdict["summary"]
                self.assertEqual(summary["forks"], len(forks))
                self.assertEqual(summary["stale"], sum(1 for v in want.values() if v.startswith("stale")))
                self.assertEqual(summary["rejected"], sum(1 for v in want.values() if v != "ok" and
                                                          not v.startswith("stale")))
                self.assertEqual(verdict["verdict"], "verified" if status == 0 else "rejected")
                if forks:
                    self.assertTrue(verdict["message"].startswith(
                        f"the log forked: {len(forks)} checkpoint{'s' if len(forks) > 1 else ''} not consistent "
                        f"with an earlier one, first on line {forks[0][0]}; "), verdict["message"])
                # Every fork record carries both notes and the proof given.
                for f in fork_records:
                    mine, theirs = json.loads(lines[f["line"] - 1]), json.loads(lines[f["reference_line"] - 1])
                    self.assertEqual(f["note"], mine["note"])
                    self.assertEqual(f["reference_note"], theirs["note"])
                    self.assertEqual(f["consistency"], mine.get("consistency") or [])
                    self.assertEqual("fork: not consistent with the checkpoint on line "
                                     f"{f['reference_line']}: {f['error']}", got[f["line"]])
                    self.assertEqual(f["root"], note_root(mine["note"]))
                    self.assertEqual(f["reference_root"], note_root(theirs["note"]))

    def test_text_output_names_forks_and_stale_checkpoints(self):
        lines = [cp("29"), cp("16", "16-29"), cp("fork-45", "29-fork-45"), inc("fork-45")]
        r = self.monitor(stdin="".join(line + "\n" for line in lines))
        self.assertEqual(r.returncode, 3, r.stdout + r.stderr)
        _, items, forks, _ = self.monitor_json(lines)
        out = r.stdout.splitlines()
        self.assertEqual(out[0], "line 2: checkpoint: verified: stale, size 16 (root " + items[1]["root"] +
                         "), behind the checkpoint on line 1")
        self.assertEqual(out[1], "line 3: checkpoint: rejected: " + fork_error(1, PROOF_FAILS))
        self.assertEqual(out[2], f"line 3: fork: the log signed size 45 (root {forks[0]['root']}) here and size 29 "
                                 f"(root {items[0]['root']}) on line 1: {PROOF_FAILS}")
        self.assertEqual(out[3], "line 4: inclusion: rejected: its checkpoint (line 3) was rejected")
        self.assertEqual(out[4], "rejected: the log forked: 1 checkpoint not consistent with an earlier one, "
                                 "first on line 3; 2 of 4 items did not verify")

    def test_a_session_without_a_checkpoint_does_not_verify(self):
        for text in ["", "\n", "  \n\t\n", inc("16") + "\n"]:
            with self.subTest(text=text[:20]):
                r = self.monitor(stdin=text)
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                self.assertEqual(r.stdout.splitlines()[-1], "rejected: " + NO_CHECKPOINT)

    def test_the_log_key_and_the_witnesses(self):
        """--keys names the log whatever its key's name; --policy adds the
        witnesses, and alone names the log by its log line."""
        renamed = "@" + MON + "renamed.vkey"
        witnesses = "@" + MON + "witnesses-policy.txt"
        policy = "@" + MON + "policy.txt"
        w1 = (ROOT / MON / "witnesses-policy.txt").read_text().split("witness w1 ")[1].split()[0]
        session = cp("renamed-16") + "\n"
        cases = [
            (["--keys", renamed, "--policy", witnesses], 0, "verified"),
            (["--keys", renamed], 0, "verified"),
            (["--policy", policy], 1, "rejected: 1 of 1 items did not verify"),
            (["--policy", witnesses], 2, "no key of the log for " + self.origin + ": give --keys naming the log's "
             "key, or a policy with a log line named " + self.origin),
            (["--keys", w1], 2, "no key of the log for " + self.origin),
            (["--keys", "not a key"], 2, "--keys: "),
            (["--keys", renamed, "--policy", "quorum nobody"], 2, "--policy: malformed witness policy: line 1"),
            ([], 2, "give --keys, --policy or both"),
            (["--keys", renamed, "--input", "@/nonexistent/session"], 2, "cannot read /nonexistent/session"),
        ]
        for args, status, text in cases:
            with self.subTest(args=args):
                r = run(["monitor", "--origin", self.origin] + args, stdin=session)
                self.assertEqual(r.returncode, status, r.stdout + r.stderr)
                self.assertIn(text, r.stdout if status != 2 else r.stderr)

    def test_hostile_input_is_bounded(self):
        """Long lines, deep nesting, an endless input and more threads than
        the system gives: per-line errors and a verdict, never an abort."""
        import resource

        # Under a sanitizer the runs go without the limit.
        sanitized = tool_is_sanitized()

        def limited(megabytes):
            if sanitized:
                return None
            return lambda: resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))

        base = [self.origin, "--policy", "@" + MON + "policy.txt"]
        long_line = "[" * (64 << 20)
        text = "\n".join([cp("16"), long_line, '{"a":' + "[" * 1000, '{"a":' * 1000, inc("16")]) + "\n"
        r = subprocess.run([TOOL, "monitor", "--origin"] + base, input=text, capture_output=True, text=True,
                           timeout=120, cwd=ROOT, preexec_fn=limited(1024))
        self.assertEqual(r.returncode, 1, r.stdout[-2000:] + r.stderr)
        self.assertEqual(r.stdout.splitlines(), [
            "line 2: unknown: rejected: line longer than 1048576 bytes",
            "line 3: unknown: rejected: JSON nested deeper than 64 levels",
            "line 4: unknown: rejected: JSON nested deeper than 64 levels",
            "rejected: 3 of 5 items did not verify"])

        # An input without end: its first line is reported as too long as
        # soon as it is, and memory stays bounded while the rest is skipped.
        p = subprocess.Popen([TOOL, "monitor", "--origin"] + base + ["--input", "@/dev/zero"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=ROOT,
                             preexec_fn=limited(512))
        try:
            first = p.stdout.readline()
            time.sleep(1)
            self.assertIsNone(p.poll(), p.stderr.read() if p.poll() is not None else "")
        finally:
            p.kill()
            p.communicate()
        self.assertEqual(first, "line 1: unknown: rejected: line longer than 1048576 bytes\n")

        # 256 threads do not fit in 512 MiB of address space: the run goes on
        # with those that started.
        if sanitized:
            return
        r = subprocess.run([TOOL, "monitor", "--origin"] + base + ["--input", "@" + MON + "session.jsonl",
                            "--threads", "256", "--json"], capture_output=True, text=True, timeout=120, cwd=ROOT,
                           preexec_fn=limited(512))
        self.assertEqual(r.returncode, 0, r.stdout[-2000:] + r.stderr)
        self.assertEqual(json.loads(r.stdout.splitlines()[-1])["summary"]["verified"], len(self.items))

    def test_bad_usage(self):
        cases = [
            (["monitor", "--policy", "@" + MON + "policy.txt"], "--origin is required"),
            (["monitor", "--origin", "o"], "give --keys, --policy or both"),
            (["monitor", "--origin", "o", "--keys", "k", "--threads", "0"], "--threads must be from 1 to 1024"),
            (["monitor", "--origin", "o", "--policy", "-"], "only one value can come from standard input (-)"),
        ]
        for args, reason in cases:
            with self.subTest(args=args):
                r = run(args, stdin="")
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                self.assertIn(reason, r.stderr)


class TlogTest(unittest.TestCase):
    """tlog over the real tiled logs and generated ones (tests/cli/
    tiled_log.py), from a directory and from a server on the loopback
    interface that misbehaves in every way a log can: each failure names
    the tile, and nothing of a rejected checkpoint is kept."""

    TILES = ROOT.parent / "shared" / "testdata" / "real-logs" / "tiles"

    @classmethod
    def setUpClass(cls):
        import tiled_log
        cls.tl = tiled_log
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = pathlib.Path(cls.tmp.name)
        # 600 entries: two full and one partial level-0 tile, a level-1 tile;
        # partial tiles for 300 too, where the monitor starts.
        cls.log = tiled_log.Log(tiled_log.entries(600))
        cls.log.write(cls.dir / "log", [300, 600])
        cls.keys = ["--origin", cls.log.origin, "--keys", cls.log.signer.vkey]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def tlog(self, log, *args, keys=None, timeout=60):
        r = subprocess.run([TOOL, "--json", "tlog", "--log", str(log)] + (keys or self.keys) + list(args),
                           cwd=ROOT, capture_output=True, text=True, timeout=timeout)
        out = json.loads(r.stdout) if r.stdout.startswith("{") else {}
        return r, out

    def test_real_logs(self):
        first = self.TILES / "tessera-testdata-log"
        mirror = self.TILES / "sunlight-skylight" / "witness" / "mirror" / \
            "000de184301123b9278c086a7d9f68c9577e83872224c197058fd90784ea9706"
        if not first.is_dir():
            self.skipTest("the shared test data is not beside this checkout")
        source = json.loads((first / "SOURCE.json").read_text())
        keys = ["--origin", source["origin"], "--keys", source["verifier_key"]]
        for n in (0, 1, 2, 7, 15):
            with self.subTest(size=n):
                r, out = self.tlog(first, "--checkpoint", "@%s/checkpoint.%d" % (first, n), "--entries", keys=keys)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                note = (first / ("checkpoint.%d" % n)).read_text()
                assert_typed(self, out["summary"], {"size": n, "root": note_root(note), "entries": n,
                                                    "tiles": 1 if n else 0})
        # The real log followed by a monitor: 5, then 12 (only what was
        # added), then 5 again (stale: proved from the tiles of 12).
        with tempfile.TemporaryDirectory() as d:
            state = pathlib.Path(d) / "state"
            for n, fields in ((5, {"size": 5, "entries": 5}), (12, {"size": 12, "previous_size": 5, "entries": 7}),
                              (5, {"size": 5, "previous_size": 12, "stale": True})):
                r, out = self.tlog(first, "--checkpoint", "@%s/checkpoint.%d" % (first, n), "--entries",
                                   "--state", str(state), keys=keys)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                assert_typed(self, out["summary"], fields)
            self.assertTrue(state.read_text().endswith((first / "checkpoint.12").read_text()))
        # The mirror's checkpoint carries only its cosignature: its body is
        # signed here by a test key, and the tiles must hash to its root.
        body = (mirror / "checkpoint").read_text().split("\n\n")[0] + "\n"
        signer = self.tl.Signer("rome2026h1.example.org", b"mirror body")
        with tempfile.NamedTemporaryFile("w") as f:
            f.write(signer.sign(body))
            f.flush()
            r, out = self.tlog(mirror, "--checkpoint", "@" + f.name,
                               keys=["--origin", "rome2026h1.example.org", "--keys", signer.vkey])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        assert_typed(self, out["summary"], {"size": 300, "tiles": 3, "entries": 0})
        # The same tiles under the Python builder's root: both implementations agree.
        records = self.tl.Log([b"record %d" % i for i in range(300)])
        self.assertEqual(out["summary"]["root"], records.root(300).hex())

    def test_formats_and_transports(self):
        """Each layout from a directory and over http, gzip included; every
        entry is checked against its slot."""
        for fmt in ("tlog-tiles", "static-ct", "sumdb"):
            log = self.tl.Log(self.tl.entries(520), fmt=fmt)
            path = log.write(self.dir / fmt, [520])
            extra = ["--format", fmt] + ([] if fmt == "sumdb" else ["--entries"])
            for transport in ("dir", "http", "gzip"):
                with self.subTest(fmt=fmt, transport=transport):
                    if transport == "dir":
                        r, out = self.tlog(path, *extra)
                    else:
                        with self.tl.Server(path) as server:
                            server.gzip = transport == "gzip"
                            r, out = self.tlog(server.url, *extra)
                    self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                    assert_typed(self, out["summary"], {"size": 520, "root": log.root(520).hex(), "tiles": 4,
                                                        "entries": 0 if fmt == "sumdb" else 520})
        # A data tile whose certificate was changed in transit (gzip on).
        with self.tl.Server(self.dir / "static-ct") as server:
            server.gzip = True
            server.transform["tile/data/001"] = lambda b: b[:20] + b"X" + b[21:]
            r, out = self.tlog(server.url, "--format", "static-ct", "--entries")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        assert_typed(self, out["failures"][0], {"tile": "tile/data/001", "entry": 256})

    def test_hostile_server(self):
        """Every misbehaviour is refused with the tile named; the state of
        the monitor stays as it was."""
        other = self.tl.Log(self.tl.entries(600, "other"))
        other.write(self.dir / "other", [600])
        t0, t1, tp, top = "tile/0/000", "tile/0/001", "tile/0/002.p/88", "tile/1/000.p/2"
        bundle1, bundlep = "tile/entries/001", "tile/entries/002.p/88"

        def flip(b):
            return b[:5] + bytes([b[5] ^ 1]) + b[6:]

        def swap_entry(b):
            return b.replace(b"entry 300", b"entry 3X0")

        def from_other(path):
            return lambda b: (self.dir / "other" / path).read_bytes()

        cases = [  # (what, transforms, hooks, failing tile, reason, extra args)
            ("flipped byte, full tile", {t1: flip}, {}, t1, "do not hash to entry 1 of " + top, []),
            ("flipped byte, partial tile", {tp: flip}, {}, tp, "do not hash to the checkpoint's root", []),
            ("flipped byte, top tile", {top: flip}, {}, top, "do not hash to the checkpoint's root", []),
            ("wrong width", {tp: lambda b: b[:-32]}, {}, tp, "2784 bytes, want exactly 2816", []),
            ("trailing bytes", {t0: lambda b: b + b"\x00"}, {}, t0, "larger than 8192 bytes", []),
            ("partial tile too wide", {tp: lambda b: b + b"\x00" * 32}, {}, tp, "larger than", []),
            ("missing tile", {}, {t1: lambda h, b: h.answer(404, b"gone") or True}, t1, "missing", []),
            ("entry not its slot", {bundle1: swap_entry}, {}, bundle1, "entry 300 does not hash to its slot in tile/0/001", ["--entries"]),
            ("bundle with trailing bytes", {bundlep: lambda b: b + b"\x00\x01x"}, {}, bundlep,
             "3 trailing bytes after its 88 entries", ["--entries"]),
            ("another tree", {p: from_other(p) for p in (t0, t1, tp, top)}, {}, tp,
             "do not hash to the checkpoint's root", []),
            ("endless response", {}, {t0: self.tl.endless}, t0, "larger than", []),
            ("gzip bomb", {}, {t1: self.tl.gzip_bomb}, t1, "larger than", []),
            ("slow response", {}, {t0: self.tl.slow}, t0, "", ["--timeout", "3"]),
            ("redirect to another host", {}, {t0: self.tl.redirect_to("http://127.0.0.2:1/tile/0/000")}, t0,
             "redirect to another host or scheme refused", []),
            ("redirect to another scheme", {}, {t0: self.tl.redirect_to("ftp://127.0.0.1/tile/0/000")}, t0,
             "redirect to another host or scheme refused", []),
        ]
        for what, transforms, hooks, tile, reason, extra in cases:
            with self.subTest(what):
                state = self.dir / ("state-" + what.replace(" ", "-"))
                with self.tl.Server(self.dir / "log") as server:
                    server.transform.update(transforms)
                    server.hooks.update(hooks)
                    started = time.monotonic()
                    r, out = self.tlog(server.url, "--state", str(state), *extra)
                    took = time.monotonic() - started
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                failing = [f for f in out["failures"] if tile in f["tile"].split(" + ")]
                self.assertTrue(failing and reason in failing[0]["reason"], out["failures"])
                if what == "entry not its slot":
                    self.assertEqual(failing[0]["entry"], 300)
                self.assertIn("nothing of the checkpoint of size 600 was accepted", out["message"])
                self.assertFalse(state.exists())
                self.assertLess(took, 25)

    def test_monitor_state(self):
        """First run, the rest only, unchanged, stale, and both kinds of fork."""
        state = self.dir / "monitor.state"
        cps = {}
        for n in (300, 600):
            cps[n] = self.dir / ("cp%d" % n)
            cps[n].write_text(self.log.checkpoint(n))
        forked = self.tl.Log(self.tl.entries(290) + self.tl.entries(310, "fork"))
        forked.write(self.dir / "forked", [600])
        cps["fork"] = self.dir / "cpfork"
        cps["fork"].write_text(forked.checkpoint(600))
        steps = [  # log, checkpoint, status, summary fields, stored size after
            ("log", 300, 0, {"size": 300, "entries": 300}, 300),
            ("http", 600, 0, {"size": 600, "previous_size": 300, "entries": 300, "tiles": 3}, 600),
            ("log", 600, 0, {"size": 600, "unchanged": True, "tiles": 0}, 600),
            ("log", 300, 0, {"size": 300, "previous_size": 600, "stale": True}, 600),
            ("forked", "fork", 3, None, 600),
        ]
        for log, cp, status, fields, stored in steps:
            with self.subTest(checkpoint=cp):
                args = ["--entries", "--state", str(state), "--checkpoint", "@" + str(cps[cp])]
                if log == "http":
                    # Only what was added since 300 is read: not the first tile.
                    with self.tl.Server(self.dir / "log") as server:
                        r, out = self.tlog(server.url, *args)
                    self.assertEqual(sorted(server.counts), ["tile/0/001", "tile/0/002.p/88", "tile/1/000.p/2",
                                                             "tile/entries/001", "tile/entries/002.p/88"])
                else:
                    r, out = self.tlog(self.dir / log, *args)
                self.assertEqual(r.returncode, status, r.stdout + r.stderr)
                if fields:
                    assert_typed(self, out["summary"], fields)
                text = state.read_text()
                self.assertEqual(text.split("\n")[0], "quenfold-verify tlog state v1")
                self.assertEqual(int(text.split("\n")[2]), stored)
                self.assertEqual(state.stat().st_mode & 0o777, 0o600)
        self.assertEqual(out["fork"]["stored_checkpoint"], self.log.checkpoint(600))
        self.assertEqual(out["fork"]["checkpoint"], forked.checkpoint(600))

        # A larger tree that does not extend the stored one: the evidence
        # is the consistency proof computed from its tiles.
        state.write_text("quenfold-verify tlog state v1\n" + self.log.checkpoint(300))
        r, out = self.tlog(self.dir / "forked", "--state", str(state), "--checkpoint", "@" + str(cps["fork"]))
        self.assertEqual(r.returncode, 3, r.stdout + r.stderr)
        fork = out["fork"]
        self.assertEqual(fork["older_root_from_tiles"], forked.root(300).hex())
        self.assertNotEqual(fork["older_root_from_tiles"], self.log.root(300).hex())
        self.assertEqual(fork["consistency"], [h.hex() for h in forked.consistency(300)])
        text = subprocess.run([TOOL, "tlog", "--log", str(self.dir / "forked"), "--state", str(state),
                               "--checkpoint", "@" + str(cps["fork"])] + self.keys,
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(text.returncode, 3)
        self.assertIn("fork: consistency hash: " + fork["consistency"][0], text.stdout)
        self.assertEqual(text.stdout.splitlines()[-1], "rejected: " + out["message"])

    def test_state_file_rules(self):
        import fcntl
        state = self.dir / "rules.state"
        state.unlink(missing_ok=True)
        cp = self.dir / "cp600"
        cp.write_text(self.log.checkpoint(600))
        args = ["--state", str(state), "--checkpoint", "@" + str(cp)]
        # Held by another run: refused, nothing written.
        with open(str(state) + ".lock", "a") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            r, _ = self.tlog(self.dir / "log", *args)
        self.assertEqual(r.returncode, 2)
        self.assertIn("in use by another run", r.stdout)
        self.assertFalse(state.exists())
        # Never through a symbolic link.
        target = self.dir / "elsewhere"
        target.write_text("quenfold-verify tlog state v1\n")
        state.symlink_to(target)
        r, _ = self.tlog(self.dir / "log", *args)
        self.assertEqual(r.returncode, 2)
        self.assertIn("is a symbolic link", r.stdout)
        state.unlink()
        # Another format, or a note that is not the log's.
        for content, reason in (("version 9\n", "is not a state of this version"),
                                ("quenfold-verify tlog state v1\n" + self.log.checkpoint(600).replace("600", "601", 1),
                                 "the stored checkpoint does not verify")):
            state.write_text(content)
            r, _ = self.tlog(self.dir / "log", *args)
            self.assertEqual(r.returncode, 2, r.stdout)
            self.assertIn(reason, r.stdout)
            self.assertEqual(state.read_text(), content)
        # No temporary file is left behind.
        state.unlink()
        r, _ = self.tlog(self.dir / "log", *args)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(p.name for p in self.dir.glob("rules.state*")), ["rules.state", "rules.state.lock"])

    def test_state_survives_a_crash_at_any_moment(self):
        """Killed at random moments while it verifies and replaces the
        state, a run leaves the old state or the new one, whole."""
        import random
        state = self.dir / "crash.state"
        old = "quenfold-verify tlog state v1\n" + self.log.checkpoint(300)
        new = "quenfold-verify tlog state v1\n" + self.log.checkpoint(600)
        (self.dir / "cp600").write_text(self.log.checkpoint(600))
        rng = random.Random(7)
        for _ in range(30):
            state.write_text(old)
            p = subprocess.Popen([TOOL, "tlog", "--log", str(self.dir / "log"), "--entries", "--state", str(state),
                                  "--checkpoint", "@" + str(self.dir / "cp600")] + self.keys,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0, 0.03))
            p.kill()
            p.wait()
            content = state.read_text()
            self.assertIn(content, (old, new))
        for leftover in self.dir.glob("crash.state.*"):
            if leftover.name != "crash.state.lock":
                leftover.unlink()  # a temporary file of a killed run is never the state

    def test_directory_reads_stay_inside(self):
        import shutil
        base = self.dir / "mirror"
        shutil.copytree(self.dir / "log", base, symlinks=True, dirs_exist_ok=True)
        outside = self.dir / "outside-tile"
        outside.write_bytes((base / "tile/0/000").read_bytes())
        cases = [
            ("symlink out", lambda p: (p.unlink(), p.symlink_to(outside)), "symbolic link"),
            ("fifo", lambda p: (p.unlink(), os.mkfifo(p)), "not a regular file"),
            ("directory", lambda p: (p.unlink(), p.mkdir()), "not a regular file"),
        ]
        for what, make, reason in cases:
            with self.subTest(what):
                tile = base / "tile/0/000"
                make(tile)
                try:
                    r, out = self.tlog(base, timeout=20)
                finally:
                    if tile.is_dir() and not tile.is_symlink():
                        tile.rmdir()
                    else:
                        tile.unlink()
                    tile.write_bytes(outside.read_bytes())
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                self.assertEqual(out["failures"][0]["tile"], "tile/0/000")
                self.assertIn(reason, out["failures"][0]["reason"])

    def test_retries_honour_retry_after(self):
        with self.tl.Server(self.dir / "log") as server:
            server.hooks["tile/0/001"] = self.tl.too_many_requests(2, "1")
            started = time.monotonic()
            r, out = self.tlog(server.url)
            took = time.monotonic() - started
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(server.counts["tile/0/001"], 3)
        self.assertGreaterEqual(took, 2)
        # A server that never stops saying 429 is given up on, its words echoed short.
        with self.tl.Server(self.dir / "log") as server:
            server.hooks["checkpoint"] = lambda h, b: h.answer(503, b"busy " * 1000) or True
            r, out = self.tlog(server.url, "--timeout", "3")
        self.assertEqual(r.returncode, 1)
        self.assertIn("HTTP 503: busy busy", out["message"])
        self.assertLess(len(out["message"]), 160)

    def test_bad_usage(self):
        cases = [
            (["--log", "ftp://example.org/log"], "only http and https URLs"),
            (["--log", "/nonexistent/log"], "cannot open the directory"),
            (["--log", "examples/tlog/log", "--format", "rfc6962"], "--format must be"),
            (["--log", "examples/tlog/log", "--format", "sumdb", "--entries"], "not available for sumdb"),
            (["--log", "examples/tlog/log", "--threads", "0"], "--threads must be from 1 to 1024"),
        ]
        for args, reason in cases:
            with self.subTest(args=args):
                r = run(["tlog", "--origin", "example.org/tlog/demo", "--keys", "@examples/tlog/log.vkey"] + args)
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                self.assertIn(reason, r.stderr)


if __name__ == "__main__":
    TOOL = str(pathlib.Path(sys.argv.pop(1)).resolve())
    unittest.main(verbosity=2)
