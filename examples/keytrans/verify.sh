# KEYTRANS combined-tree proofs, one small directory per suite: alice has six
# versions (0 to 5), bob is absent.
set -u
source "$EX/expect.sh"
for s in p256:0x0001 ed25519:0x0002 experimental:0xf000; do
  name=${s%%:*}
  suite=${s#*:}
  d="$EX/keytrans/$name"
  common=(--suite "$suite" --context @"$d/context.txt" --vrf-public @"$d/vrf-public.hex" --root @"$d/root.hex")
  echo "-- [$name] search for alice (greatest version 5)"
  expect 0 "$QV" keytrans-search "${common[@]}" --label alice@example.org --proof @"$d/search-alice.proof"
  echo "-- [$name] search for bob (absent)"
  expect 0 "$QV" keytrans-search "${common[@]}" --label bob@example.org --proof @"$d/search-bob.proof"
  echo "-- [$name] version 2 of alice"
  expect 0 "$QV" keytrans-fixed-version "${common[@]}" --label alice@example.org --proof @"$d/fixed-version-alice-2.proof"
  echo "-- [$name] monitoring alice up to version 4"
  expect 0 "$QV" keytrans-monitor "${common[@]}" --label alice@example.org --proof @"$d/monitor-alice-4.proof"
done
d="$EX/keytrans/experimental"
echo "-- [experimental] the same search through the default suite"
expect 0 "$QV" keytrans-search --context @"$d/context.txt" --vrf-public @"$d/vrf-public.hex" --root @"$d/root.hex" \
  --label alice@example.org --proof @"$d/search-alice.proof"
echo "-- [experimental] the search for alice presented for carol (expected: rejected)"
expect 1 "$QV" keytrans-search --context @"$d/context.txt" --vrf-public @"$d/vrf-public.hex" --root @"$d/root.hex" \
  --label carol@example.org --proof @"$d/search-alice.proof"
d="$EX/keytrans/p256"
echo "-- [p256] a search whose revealed value was replaced (expected: rejected)"
expect 1 "$QV" keytrans-search --suite 0x0001 --vrf-public @"$d/vrf-public.hex" --root @"$d/root.hex" \
  --label alice@example.org --proof @"$d/search-alice-tampered.proof"
echo "-- [p256] a search about an older log entry, hiding versions 4 and 5 (expected: rejected)"
expect 1 "$QV" keytrans-search --suite 0x0001 --vrf-public @"$d/vrf-public.hex" --root @"$d/root.hex" \
  --label alice@example.org --proof @"$d/search-alice-stale.proof"
echo "-- [p256] the P-256 search verified under the Ed25519 suite (expected: rejected)"
expect 1 "$QV" keytrans-search --suite 0x0002 --vrf-public @"$d/vrf-public.hex" --root @"$d/root.hex" \
  --label alice@example.org --proof @"$d/search-alice.proof"
exit $fail
