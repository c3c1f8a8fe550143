#!/bin/sh
# packages/install for a user who is neither root nor has sudo: it names what to install
# and installs nothing. dpkg is stood in for by a script that knows one package installed
# and one removed but not purged, which must count as missing.
# Usage: package_install_test.sh SOURCE_DIR
set -eu
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir "$work/bin"
for tool in sh cat grep id mktemp rm; do ln -s "$(command -v "$tool")" "$work/bin/$tool"; done
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/bin/sh
case "$3" in
  present) printf installed ;;
  removed) printf config-files ;;
  *) exit 1 ;;
esac
FAKE
chmod 755 "$work/bin/dpkg-query"
printf '# a list\npresent\nremoved\nabsent\n' >"$work/list.txt"
# A copy, which another user can read wherever the checkout is.
cp "$source_dir/packages/install" "$work/install"
chmod 755 "$work/install"
run() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups env PATH="$work/bin" "$@"
  else
    env PATH="$work/bin" "$@"
  fi
}
status=0
run sh "$work/install" "$work/list.txt" >"$work/out" 2>"$work/err" || status=$?
expected="quickstart: run ./quickstart as root, or install these packages first: removed absent"
if [ "$status" -ne 1 ] || [ "$(cat "$work/err")" != "$expected" ] || [ -s "$work/out" ]; then
  echo "status $status, standard output:"; cat "$work/out"
  echo "standard error:"; cat "$work/err"
  echo "expected: $expected"
  exit 1
fi
