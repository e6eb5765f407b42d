#!/usr/bin/env bash
# The main job: installs what is needed, builds, installs lumba_run, liblumba-common and the site
# skeleton under /usr/local/oska, installs the sample programs as unit0/hello and unit0/invoice
# and runs them in background mode. hello prints a small invoice on standard output and writes it
# to /usr/local/oska/temp/invoice.txt, which is shown too, then its exit status (0: the total it
# checks was right); invoice prints an invoice with its amounts formatted in columns. The sample
# form is installed as unit0/order_entry; it needs a display (examples/README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
cmake --install build --prefix /usr/local
ldconfig

# Lay the site skeleton without overwriting what a site already has.
mkdir -p /usr/local/oska
cp -an site/. /usr/local/oska/
mkdir -p /usr/local/oska/{log,temp,crash,bin,apps/unit0}
chmod 1777 /usr/local/oska/temp

/usr/local/bin/lumba_run --version

# The sample program: its object name must be its compiled-in name, hello.
install -m 644 build/examples/hello.obj /usr/local/oska/apps/unit0/hello
status=0
/usr/local/bin/lumba_run -b -w 0 -v 0 hello 0 || status=$?
if [ -f /usr/local/oska/temp/invoice.txt ]; then
  echo "--- /usr/local/oska/temp/invoice.txt"
  cat /usr/local/oska/temp/invoice.txt
  echo "---"
fi
echo "hello exit status: $status"

install -m 644 build/examples/invoice.obj /usr/local/oska/apps/unit0/invoice
# The sample form is installed beside it; it needs a display (see examples/README.md).
install -m 644 build/examples/order_entry.obj /usr/local/oska/apps/unit0/order_entry
invoice_status=0
/usr/local/bin/lumba_run -b invoice 0 || invoice_status=$?
echo "invoice exit status: $invoice_status"
if [ "$status" -eq 0 ]; then status=$invoice_status; fi
exit "$status"
