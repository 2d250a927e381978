# RFC 6962 proofs over a log of seven leaves.
set -u
d="$EX/merkle"
fail=0
echo "-- inclusion of leaf 4 in the size-7 tree"
"$QV" inclusion --index 4 --size 7 --leaf-hash @"$d/leaf4.hash" --proof @"$d/inclusion-4-of-7.proof" --root @"$d/root7.hash" || fail=1
echo "-- consistency from size 3 to size 7"
"$QV" consistency --size1 3 --size2 7 --proof @"$d/consistency-3-to-7.proof" --root1 @"$d/root3.hash" --root2 @"$d/root7.hash" || fail=1
echo "-- the same inclusion proof claimed for leaf 5 (expected: rejected)"
"$QV" inclusion --index 5 --size 7 --leaf-hash @"$d/leaf4.hash" --proof @"$d/inclusion-4-of-7.proof" --root @"$d/root7.hash"
[ $? -eq 1 ] || fail=1
exit $fail
