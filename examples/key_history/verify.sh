# A chain of three key-history entries: each prev-entry-hash is the entry hash
# of its predecessor, and the leaf hashes are those in the example log.
set -u
d="$EX/key_history"
fail=0
for i in 0 1 2; do
  echo "-- entry $i"
  out=$("$QV" key-history --entry @"$d/entry$i.txt") || fail=1
  echo "$out"
  leaf=$(echo "$out" | awk '/^leaf hash:/ {print $3}')
  [ "$leaf" = "$(cat "$d/entry$i.leaf-hash")" ] || { echo "leaf hash differs"; fail=1; }
  if [ $i -gt 0 ]; then
    prev=$(awk '/^prev-entry-hash/ {print $2}' "$d/entry$i.txt")
    [ "$prev" = "$last_entry_hash" ] || { echo "chain link broken"; fail=1; }
  fi
  last_entry_hash=$(echo "$out" | awk '/^entry hash:/ {print $3}')
done
echo "-- commitment opening"
"$QV" commitment --context example.org/profile/v1 --commitment @"$d/commitment.hex" --value-text @"$d/value.txt" --opening @"$d/opening.hex" || fail=1
echo "-- the same commitment with another value (expected: rejected)"
"$QV" commitment --context example.org/profile/v1 --commitment @"$d/commitment.hex" --value-text "mallory" --opening @"$d/opening.hex"
[ $? -eq 1 ] || fail=1
exit $fail
