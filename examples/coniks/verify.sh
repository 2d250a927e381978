# A CONIKS directory of four identities under example.org: alice is present
# with her key, mallory is absent; an altered copy of alice's proof and her
# proof presented for bob are rejected.
set -u
d="$EX/coniks"
fail=0
common=(--namespace example.org --vrf-public @"$d/vrf-public.hex" --root @"$d/root.hex")
echo "-- alice@example.org is present"
out=$("$QV" coniks-lookup "${common[@]}" --identity alice@example.org --proof @"$d/alice.lookup.proof") || fail=1
echo "$out"
echo "$out" | grep -qx 'value text: public key of alice' || { echo "unexpected value"; fail=1; }
echo "-- mallory@example.org is absent"
"$QV" coniks-absence "${common[@]}" --identity mallory@example.org --proof @"$d/mallory.absence.proof" || fail=1
echo "-- alice's proof with another value (expected: rejected)"
"$QV" coniks-lookup "${common[@]}" --identity alice@example.org --proof @"$d/alice.tampered.proof"
[ $? -eq 1 ] || fail=1
echo "-- alice's proof presented for bob (expected: rejected)"
"$QV" coniks-lookup "${common[@]}" --identity bob@example.org --proof @"$d/alice.lookup.proof"
[ $? -eq 1 ] || fail=1
echo "-- mallory's absence proof presented as a presence proof (expected: rejected)"
"$QV" coniks-lookup "${common[@]}" --identity mallory@example.org --proof @"$d/mallory.absence.proof"
[ $? -eq 1 ] || fail=1
exit $fail
