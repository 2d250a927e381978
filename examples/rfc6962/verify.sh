# An RFC 6962 log known from a CT log list (its origin, public key and log
# ID): its verifier key written from the list's public key, then a
# checkpoint it signed with an RFC 6962 tree head signature.
set -u
source "$EX/expect.sh"
d="$EX/rfc6962"
origin="$(cat "$d/origin.txt")"
echo "-- the verifier key from the log's public key (the log id must be the list's: $(cat "$d/log-id.b64"))"
expect 0 "$QV" vkey-rfc6962 --origin "$origin" --spki @"$d/log-key.b64"
echo "-- the log's checkpoint under that key"
expect 0 "$QV" checkpoint --note @"$d/checkpoint.note" --origin "$origin" --keys @"$d/log.vkey"
echo "-- a public key that is not ECDSA P-256 (expected: bad usage)"
expect 2 "$QV" vkey-rfc6962 --origin "$origin" --spki MCowBQYDK2VwAyEAGb9ECWmEzf6FQbrBZ9w7lshQhqowtrbLDFw4rXAxZuE=
exit $fail
