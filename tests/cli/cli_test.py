"""Runs every quenfold-verify subcommand on the bundled examples: the example
of its --help, a tampered artefact, --json output, standard input and bad
usage, checking exit status and output.

    python3 tests/cli/cli_test.py <path to quenfold-verify>
"""

import json
import pathlib
import shlex
import subprocess
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
TOOL = ""
ROOT_MISMATCH = "root mismatch: recomputed root does not match the expected root"
M = "examples/merkle/"
K = "examples/key_history/"
C = "examples/coniks/"
P = "examples/policy/"
L = "examples/log/"
T = "examples/keytrans/p256/"
TK = ["--suite", "0x0001", "--context", "@" + T + "context.txt", "--vrf-public", "@" + T + "vrf-public.hex",
      "--root", "@" + T + "root.hex", "--label", "alice@example.org"]

# Subcommands with a test class of their own (many results per run).
OWN_TESTS = {"monitor"}

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
        "ok_lines": ["verified", 'value text: "public key of alice"'],
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
        "tampered": ["--note", "@" + L + "checkpoint-7-tampered.note", "--keys", "@" + L + "keys.txt"],
        "message_prefix": "invalid signature for known key ",
    },
    "checkpoint": {
        "ok": ["--note", "@" + L + "checkpoint-7.note", "--keys", "@" + L + "ed25519.vkey"],
        "ok_lines": ["verified", "origin: log.example.org/quenfold/v1", "size: 7"],
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
        "ok_lines": ["verified"],
        "tampered": ["--older", "@" + L + "checkpoint-7.note", "--newer", "@" + L + "checkpoint-4.note",
                     "--keys", "@" + L + "keys.txt", "--proof", "@" + L + "consistency-4-to-7.proof"],
        "message": "tree size regression: size2 (4) < size1 (7)",
    },
    "policy": {
        "ok": ["--envelope", "@" + P + "example.org.policy"],
        "ok_lines": ["verified", "namespace: example.org", "security_level: Cat3", "checkpoint_suite: Hybrid"],
        "tampered": ["--envelope", "@" + P + "example.org-tampered.policy"],
        "message_prefix": "invalid signature for known key ",
    },
    "posture": {
        "ok": ["--envelope", "@" + P + "example.org.policy", "--commitment-hash", "Sha3_256"],
        "ok_lines": ["verified"],
        "tampered": ["--envelope", "@" + P + "example.org.policy", "--commitment-hash", "Sha3_512"],
        "message": "posture mismatch: declared commitment_hash Sha3_256, observed commitment_hash Sha3_512",
    },
    "keytrans-search": {
        "ok": TK + ["--proof", "@" + T + "search-alice.proof"],
        "ok_lines": ["verified", "present: true", "value text: alice key 5"],
        "tampered": TK + ["--proof", "@" + T + "search-alice-tampered.proof"],
        "message": "commitment did not open to the claimed value",
    },
    "keytrans-fixed-version": {
        "ok": TK + ["--proof", "@" + T + "fixed-version-alice-2.proof"],
        "ok_lines": ["verified", "present: true", "value text: alice key 2"],
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


def run(args, stdin=None):
    return subprocess.run([TOOL] + list(args), cwd=ROOT, input=stdin, capture_output=True,
                          text=True, timeout=60)


def subcommands():
    out = run(["--help"])
    names, listing = [], False
    for line in out.stdout.splitlines():
        if line == "commands:":
            listing = True
        elif listing and line.startswith("  "):
            names.append(line.split()[0])
        elif listing and not line.strip():
            listing = False
    return names


class CliTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.names = subcommands()

    def test_the_tool_lists_its_subcommands(self):
        self.assertGreaterEqual(len(self.names), 4)
        self.assertEqual(run([]).returncode, 2)
        bad = run(["no-such-command"])
        self.assertEqual(bad.returncode, 2)
        self.assertIn("unknown command", bad.stderr)

    def test_every_help_has_a_working_example(self):
        for name in self.names:
            with self.subTest(command=name):
                help_ = run([name, "--help"])
                self.assertEqual(help_.returncode, 0)
                self.assertTrue(help_.stdout.startswith(f"usage: quenfold-verify {name} "))
                self.assertIn("Exit status: 0 verified, 1 rejected, 2 bad usage.", help_.stdout)
                lines = help_.stdout.splitlines()
                self.assertIn("Example (from the repository root):", lines,
                              f"{name} --help shows no example: give its Command a summary and an "
                              "example command line (tools/quenfold-verify/cli.h)")
                example = shlex.split(lines[lines.index("Example (from the repository root):") + 1])
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
                good = json.loads(run([name] + case["ok"] + ["--json"]).stdout)
                self.assertEqual(good["verdict"], "verified")
                for want in case["ok_lines"][1:]:
                    label, _, value = want.partition(": ")
                    self.assertEqual(good[label.replace(" ", "_")], value)
        if untested:
            self.skipTest("no tampered-artefact case for: " + ", ".join(untested))

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
            (["inclusion", "--index", "4"], "missing --"),
            (["inclusion", "--index", "four", "--size", "7", "--leaf-hash", "00", "--root", "00"],
             "--index must be an unsigned decimal number"),
            (["inclusion", "--index", "4", "--size", "7", "--leaf-hash", "0g", "--root", "00"],
             "invalid hex digit"),
            (["consistency", "--bogus", "1"], "unknown option --bogus"),
            (["commitment", "--context"], "missing value for --context"),
            (["inclusion", "--leaf-hash", "@/nonexistent/file", "--index", "0", "--size", "1",
              "--root", "00"], "cannot read /nonexistent/file"),
        ]
        for args, reason in cases:
            with self.subTest(args=args):
                r = run(args)
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                self.assertIn(reason, r.stderr)
                self.assertEqual(r.stdout, "")
                j = run(args[:1] + ["--json"] + args[1:])
                self.assertEqual(j.returncode, 2)
                verdict = json.loads(j.stdout)
                self.assertEqual(verdict["verdict"], "usage")
                self.assertIn(reason, verdict["message"])


MON = "examples/monitor/"


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
                    self.assertEqual([w["name"] for w in c["cosigners"]],
                                     ["witness.example.net/w1", "witness.example.org/w2"])
                    self.assertEqual(c["cosigners"][1]["timestamp"] - c["cosigners"][0]["timestamp"], 2)
                self.assertEqual(summary, {"command": "monitor", "verdict": "verified", "summary": {
                    "items": len(self.items), "verified": len(self.items), "rejected": 0,
                    "checkpoints": 3, "inclusions": len(self.items) - 3}})

    def test_rejections_are_named_and_set_the_exit_status(self):
        r = self.monitor("--input", "@" + MON + "session-tampered.jsonl")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        lines = r.stdout.splitlines()
        bad = [n for n, line in enumerate((ROOT / MON / "session-tampered.jsonl").read_text().splitlines(), 1)
               if '"index":20,' in line and line not in self.session]
        self.assertEqual(len(bad), 1)
        self.assertEqual(lines[0], f"rejected: 1 of {len(self.items)} items did not verify")
        self.assertEqual(lines[1], f"line {bad[0]}: inclusion: rejected: " + ROOT_MISMATCH)
        self.assertEqual(lines[2], f"items: {len(self.items)} items (3 checkpoints, {len(self.items) - 3} "
                                   f"inclusion proofs): {len(self.items) - 1} verified, 1 rejected")

        # From standard input, under the log key alone, with a checkpoint
        # that lost its consistency proof and one of another log.
        items = [dict(i) for i in self.items]
        second = next(n for n, i in enumerate(items) if i["type"] == "checkpoint" and "consistency" in i)
        del items[second]["consistency"]
        items.append({"type": "checkpoint", "note": items[0]["note"].replace(self.origin, "other", 1)})
        items.append({"type": "bogus"})
        text = "\n".join(json.dumps(i) for i in items) + "\n\n"
        keys = (ROOT / MON / "log.vkey").read_text().strip()
        r = run(["monitor", "--origin", self.origin, "--keys", keys, "--json"], stdin=text)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        out = [json.loads(line) for line in r.stdout.splitlines()]
        errors = {x["line"]: x["error"] for x in out[:-1] if not x["verified"]}
        self.assertEqual(errors, {
            second + 1: "missing consistency proof from the checkpoint on line 1",
            len(items) - 1: "invalid signature for known key \"" + self.origin + "\" (key id " +
                            keys.split("+")[1] + ")",
            len(items): 'unknown type "bogus"',
        })
        self.assertEqual(out[-1]["summary"]["rejected"], 3)

    def test_bad_usage(self):
        cases = [
            (["monitor", "--policy", "@" + MON + "policy.txt"], "missing --origin"),
            (["monitor", "--origin", "o"], "give exactly one of --keys and --policy"),
            (["monitor", "--origin", "o", "--keys", "k", "--threads", "0"], "--threads must be from 1 to 1024"),
            (["monitor", "--origin", "o", "--keys", "k", "--input", MON + "session.jsonl"], "--input takes @FILE or -"),
        ]
        for args, reason in cases:
            with self.subTest(args=args):
                r = run(args, stdin="")
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                self.assertIn(reason, r.stderr)


if __name__ == "__main__":
    TOOL = str(pathlib.Path(sys.argv.pop(1)).resolve())
    unittest.main(verbosity=2)
