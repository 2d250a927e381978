"""The binding inside an interpreter that already initialised the system's
OpenSSL (ssl, hashlib) before the library is loaded: the library answers from
its own OpenSSL, and the interpreter's keeps working.

    python_host.py <examples dir>
    (PYTHONPATH finds the binding, QUENFOLD_LOG_LIBRARY names the library)
"""
import hashlib
import ssl
import sys



def use_host_openssl():
    """The interpreter's own OpenSSL at work. Under a host configuration
    that activates no algorithms it fails, which is the host's business: the
    library must answer all the same."""
    try:
        ssl.create_default_context()
        hashlib.sha3_512(b"").hexdigest()
    except (ssl.SSLError, ValueError) as e:
        print(f"python host: the interpreter's OpenSSL refuses ({e})")


use_host_openssl()  # before the library is loaded

import quenfold_log  # noqa: E402  (loaded only now, on purpose)
from quenfold_log.errors import VerifyError  # noqa: E402

ex = sys.argv[1]


def text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def hexfile(path):
    return bytes.fromhex("".join(text(path).split()))


keys = [line.strip() for line in text(f"{ex}/log/keys.txt").splitlines() if line.strip()]
head = quenfold_log.checkpoint_verify(text(f"{ex}/log/checkpoint-7.note"), keys)
assert head.size == 7, head
try:
    quenfold_log.checkpoint_verify(text(f"{ex}/log/checkpoint-7-tampered.note"), keys)
    raise SystemExit("a tampered checkpoint verified")
except VerifyError:
    pass
c = f"{ex}/coniks"
value = quenfold_log.coniks_verify_lookup("example.org", hexfile(f"{c}/vrf-public.hex"), hexfile(f"{c}/root.hex"),
                                          b"alice@example.org", hexfile(f"{c}/alice.lookup.proof"))
assert value, value
k = f"{ex}/key_history"
quenfold_log.verify_commitment("example.org/profile/v1", hexfile(f"{k}/commitment.hex"),
                               text(f"{k}/value.txt").rstrip().encode(), hexfile(f"{k}/opening.hex"))
use_host_openssl()
print("python host: ok")
