#!/bin/sh
# Test stand-in for the site mail script: records its four arguments and the mail text
# under $LUMBA_SITE/mail/<n>.args and <n>.txt so tests can assert what was mailed.
# Shell built-ins where they do: every fatal report in the tests runs it.
dir="${LUMBA_SITE:?}/mail"
[ -d "$dir" ] || mkdir -p "$dir"
n=0
for f in "$dir"/*.args; do
  [ -e "$f" ] && n=$((n + 1))
done
printf '%s\n' "$1" "$2" "$3" "$4" > "$dir/$n.args"
cat "$4" > "$dir/$n.txt" 2>/dev/null
exit 0
