# A monitoring session: three checkpoints of one log, each cosigned by two
# witnesses, with the consistency proofs between them and inclusion proofs
# under each, as JSON lines.
set -u
source "$EX/expect.sh"
d="$EX/monitor"
origin="$(cat "$d/origin.txt")"
echo "-- the session under the witness policy (the log and one of two witnesses)"
expect 0 "$QV" monitor --origin "$origin" --policy @"$d/policy.txt" --input @"$d/session.jsonl"
echo "-- the same session from standard input, under the log's key alone, on one thread"
expect 0 "$QV" monitor --origin "$origin" --keys @"$d/log.vkey" --threads 1 < "$d/session.jsonl"
echo "-- one inclusion proof moved to the next leaf (expected: rejected)"
expect 1 "$QV" monitor --origin "$origin" --policy @"$d/policy.txt" --input @"$d/session-tampered.jsonl"
echo "-- the log signs a checkpoint of another tree (expected: a fork, exit status 3)"
expect 3 "$QV" monitor --origin "$origin" --policy @"$d/policy.txt" --input @"$d/session-fork.jsonl"
echo "-- the log's key named other than its origin, given by --keys, with the witnesses' policy"
expect 0 "$QV" monitor --origin "$origin" --keys @"$d/renamed.vkey" --policy @"$d/witnesses-policy.txt" \
  --input @"$d/session-renamed.jsonl"
exit $fail
