#!/usr/bin/env bash
# make_pki.sh DIR HOST CONTRACT
# Makes a throw-away PKI with the openssl command and lays out a site data tree for the
# certificate API client:
#   DIR/pki/ca.crt                 the CA that signs everything below
#   DIR/pki/server.{crt,key}       a server certificate for HOST
#   DIR/pki/revoked.{crt,key}      a second server certificate for HOST, revoked in the CA's CRL
#   DIR/pki/wrong-name.{crt,key}   a server certificate for another host name
#   DIR/pki/other-ca.crt           an unrelated CA (a server that trusts only it refuses the client)
#   DIR/data/site/common_database  "cdb" and CONTRACT
#   DIR/data/site/server-chain.crt, server-chain.crl.pem   the CA and its CRL (openssl ca -gencrl)
#   DIR/data/CONTRACT/ssl/apicCONTRACT.{crt,key}           the client certificate, key unencrypted
# Keys are P-256, so the whole PKI takes a fraction of a second.
set -euo pipefail
dir=$1 host=$2 contract=$3
pki=$dir/pki data=$dir/data
mkdir -p "$pki" "$data/site" "$data/$contract/ssl"
cd "$pki"

newkey=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
ca() {  # ca NAME SUBJECT
  openssl req -x509 "${newkey[@]}" -keyout "$1.key" -out "$1.crt" -days 3650 -subj "$2" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}
leaf() {  # leaf NAME SUBJECT EXTENSIONS
  openssl req -new "${newkey[@]}" -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null
  printf '%b' "$3" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.crt -CAkey ca.key -CAcreateserial -days 3650 -out "$1.crt" \
    -extfile "$1.ext" 2>/dev/null
}

ca ca "/O=Lumba Test/CN=Lumba Test CA"
ca other-ca "/O=Elsewhere/CN=Unrelated CA"
leaf server "/CN=$host" "subjectAltName=DNS:$host\nextendedKeyUsage=serverAuth\n"
leaf revoked "/CN=$host/OU=revoked" "subjectAltName=DNS:$host\nextendedKeyUsage=serverAuth\n"
leaf wrong-name "/CN=elsewhere.example" "subjectAltName=DNS:elsewhere.example\nextendedKeyUsage=serverAuth\n"
leaf client "/O=Lumba Test/CN=apic$contract" "extendedKeyUsage=clientAuth\n"

# The CA's database, the revocation and the CRL.
: > index.txt
echo 01 > crlnumber
cat > ca.cnf <<EOF
[ca]
default_ca = test_ca
[test_ca]
database = $pki/index.txt
crlnumber = $pki/crlnumber
certificate = $pki/ca.crt
private_key = $pki/ca.key
default_md = sha256
default_crl_days = 3650
EOF
openssl ca -config ca.cnf -revoke revoked.crt 2>/dev/null
openssl ca -config ca.cnf -gencrl -out crl.pem 2>/dev/null

printf 'cdb%s\n' "$contract" > "$data/site/common_database"
cp ca.crt "$data/site/server-chain.crt"
cp crl.pem "$data/site/server-chain.crl.pem"
cp client.crt "$data/$contract/ssl/apic$contract.crt"
cp client.key "$data/$contract/ssl/apic$contract.key"
