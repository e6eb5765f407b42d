#!/bin/sh
# Site mail script: recipient, sender, subject, path of the mail text.
# This machine has no mailer configured: keep the report in the site's log.
log="$(dirname "$0")/../log/mail.log"
{ echo "To: $1"; echo "From: $2"; echo "Subject: $3"; cat "$4"; echo; } >> "$log"
