# A C2SP tlog-proof for entry 13 of a log of 23 entries, whose checkpoint
# the log signed and two witnesses cosigned.
set -u
source "$EX/expect.sh"
d="$EX/tlog_proof"
origin="$(cat "$d/origin.txt")"
echo "-- the proof for the entry under the witness policy (the log and both witnesses)"
expect 0 "$QV" tlog-proof --proof @"$d/entry.tlog-proof" --origin "$origin" --policy @"$d/policy.txt" \
  --entry @"$d/entry.txt"
echo "-- the same proof for the entry's leaf hash, under the log's key alone"
expect 0 "$QV" tlog-proof --proof @"$d/entry.tlog-proof" --origin "$origin" --keys @"$d/log.vkey" \
  --leaf-hash @"$d/entry.leaf-hash"
echo "-- one hash of the audit path altered (expected: rejected)"
expect 1 "$QV" tlog-proof --proof @"$d/entry-tampered.tlog-proof" --origin "$origin" --policy @"$d/policy.txt" \
  --entry @"$d/entry.txt"
exit $fail
