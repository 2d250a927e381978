# A small log: two checkpoints (sizes 4 and 7), each signed by an Ed25519 key
# and by a composite ML-DSA-65+Ed25519 key; inclusion of the three key-history
# entries of examples/key_history (leaves 1, 3 and 5) and the consistency of
# the two checkpoints.
set -u
source "$EX/expect.sh"
d="$EX/log"
kh="$EX/key_history"
echo "-- the size-4 checkpoint as a signed note, both keys trusted"
expect 0 "$QV" note --note @"$d/checkpoint-4.note" --keys @"$d/keys.txt"
echo "-- the size-7 checkpoint under the composite key alone"
expect 0 "$QV" checkpoint --note @"$d/checkpoint-7.note" --keys "$(cat "$d/composite.vkey")"
echo "-- the size-7 checkpoint under the Ed25519 key alone"
expect 0 "$QV" checkpoint --note @"$d/checkpoint-7.note" --keys @"$d/ed25519.vkey"
index=(1 3 5)
for size in 4 7; do
  for seq in 0 1 2; do
    [ -f "$d/inclusion-entry$seq-in-$size.proof" ] || continue
    echo "-- key-history entry $seq (leaf ${index[$seq]}) in the size-$size checkpoint"
    expect 0 "$QV" checkpoint-inclusion --note @"$d/checkpoint-$size.note" --keys @"$d/keys.txt" \
      --index "${index[$seq]}" --leaf-hash @"$kh/entry$seq.leaf-hash" --proof @"$d/inclusion-entry$seq-in-$size.proof"
  done
done
echo "-- consistency from the size-4 to the size-7 checkpoint"
expect 0 "$QV" checkpoint-consistency --older @"$d/checkpoint-4.note" --newer @"$d/checkpoint-7.note" \
  --keys @"$d/keys.txt" --proof @"$d/consistency-4-to-7.proof"
echo "-- the size-7 checkpoint with its size rewritten to 8 (expected: rejected)"
expect 1 "$QV" checkpoint --note @"$d/checkpoint-7-tampered.note" --keys @"$d/keys.txt"
echo "-- entry 2 claimed at leaf 4 (expected: rejected)"
expect 1 "$QV" checkpoint-inclusion --note @"$d/checkpoint-7.note" --keys @"$d/keys.txt" \
  --index 4 --leaf-hash @"$kh/entry2.leaf-hash" --proof @"$d/inclusion-entry2-in-7.proof"
echo "-- the checkpoints swapped (expected: rejected)"
expect 1 "$QV" checkpoint-consistency --older @"$d/checkpoint-7.note" --newer @"$d/checkpoint-4.note" \
  --keys @"$d/keys.txt" --proof @"$d/consistency-4-to-7.proof"
exit $fail
