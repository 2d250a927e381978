# The signed namespace policy of example.org (Hybrid/Cat3, signed with an
# ML-DSA-65+Ed448 token) and the posture checks of the namespace's log.
set -u
source "$EX/expect.sh"
d="$EX/policy"
policy="$d/example.org.policy"
# The example log's checkpoint key and signature (ML-DSA-65+Ed25519, tag 0x02).
key="$EX/log/composite-key.token"
sig="$EX/log/composite-signature.token"
echo "-- the signed policy"
expect 0 "$QV" policy --envelope @"$policy"
echo "-- the log's ML-DSA-65+Ed25519 checkpoint key (tag 0x02, ${key#$EX/}) against the policy"
expect 0 "$QV" posture --envelope @"$policy" --signing-key @"$key"
echo "-- the log's checkpoint signature (${sig#$EX/}) against the policy"
expect 0 "$QV" posture --envelope @"$policy" --signature @"$sig"
echo "-- commitment hash Sha3_256 and the CONIKS backend 0x0001"
expect 0 "$QV" posture --envelope @"$policy" --commitment-hash Sha3_256
expect 0 "$QV" posture --envelope @"$policy" --directory-backend 0x0001
echo "-- a VRF suite id 0x04 (expected: rejected)"
expect 1 "$QV" posture --envelope @"$policy" --vrf-suite-id 0x04
echo "-- the KEYTRANS backend 0xf004 (expected: rejected)"
expect 1 "$QV" posture --envelope @"$policy" --directory-backend 0xf004
echo "-- the policy's own ML-DSA-65+Ed448 key (tag 0x13) as a checkpoint key (expected: rejected)"
expect 1 "$QV" posture --envelope @"$policy" --signing-key @"$d/policy-key.token"
echo "-- the policy with its creation time changed (expected: rejected)"
expect 1 "$QV" policy --envelope @"$d/example.org-tampered.policy"
exit $fail
