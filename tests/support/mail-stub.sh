#!/bin/sh
# Test stand-in for the site mail script: records its four arguments and the mail text
# under $LUMBA_SITE/mail/<n>.args and <n>.txt so tests can assert what was mailed.
dir="${LUMBA_SITE:?}/mail"
mkdir -p "$dir"
n=$(ls "$dir" | grep -c '\.args$')
printf '%s\n' "$1" "$2" "$3" "$4" > "$dir/$n.args"
cat "$4" > "$dir/$n.txt" 2>/dev/null
exit 0
