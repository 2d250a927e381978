# Sourced by the examples' verify.sh scripts.
# expect <exit status> <command...>: runs the command and sets fail=1 when
# its exit status is not the one given.
fail=0
expect() {
  local want=$1
  shift
  "$@"
  local got=$?
  [ "$got" -eq "$want" ] || { echo "!! expected exit status $want, got $got"; fail=1; }
}
