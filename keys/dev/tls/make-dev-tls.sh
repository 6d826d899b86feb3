#!/usr/bin/env bash
# Regenerates the development TLS material in this folder: a CA, the certificates the test servers
# present, and their P-256 keys. DEVELOPMENT ONLY: the private keys are public in the repository,
# so nothing made here may ever protect a real server.
#
#   keys/dev/tls/make-dev-tls.sh [OUT_DIR]     (default: the folder of this script)
#
#   dev-ca-DEVELOPMENT-ONLY.{crt,key}          "Halvoryn Development CA", the one CA tests trust
#   dev-localhost-DEVELOPMENT-ONLY.{crt,key}   DNS:localhost, IP:127.0.0.1, signed by the CA
#   dev-other-host-DEVELOPMENT-ONLY.{crt,key}  DNS:other.example only, signed by the CA
#                                              (a trusted certificate for the wrong host)
#   dev-self-signed-DEVELOPMENT-ONLY.{crt,key} DNS:localhost, self-signed (not trusted)
#
# The files are committed so test runs are deterministic; run this only to replace them, e.g.
# before they expire (7300 days from generation), and commit the result. The Wine prefix of the
# test runs trusts the CA by content, so it picks up a new CA at the next servers.trust_ca run.
set -euo pipefail

out=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)}
days=7300
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

newkey() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
serial() { echo "0x$(openssl rand -hex 16)"; }

# Leaf certificate signed by the CA: signed NAME CN SAN
signed() {
  newkey "$work/$1.key"
  openssl req -new -key "$work/$1.key" -subj "/CN=$2" -out "$work/$1.csr"
  cat >"$work/$1.ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=$3
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EXT
  openssl x509 -req -in "$work/$1.csr" -CA "$work/ca.crt" -CAkey "$work/ca.key" \
    -set_serial "$(serial)" -days "$days" -sha256 -extfile "$work/$1.ext" -out "$work/$1.crt" \
    2>/dev/null
}

newkey "$work/ca.key"
openssl req -x509 -new -key "$work/ca.key" -sha256 -days "$days" -set_serial "$(serial)" \
  -subj "/CN=Halvoryn Development CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -addext "subjectKeyIdentifier=hash" \
  -out "$work/ca.crt"

signed localhost localhost "DNS:localhost,IP:127.0.0.1"
signed other-host other.example "DNS:other.example"

newkey "$work/self-signed.key"
openssl req -x509 -new -key "$work/self-signed.key" -sha256 -days "$days" -set_serial "$(serial)" \
  -subj "/CN=localhost" \
  -addext "basicConstraints=critical,CA:FALSE" \
  -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=serverAuth" \
  -addext "subjectAltName=DNS:localhost" \
  -out "$work/self-signed.crt"

openssl verify -CAfile "$work/ca.crt" "$work/localhost.crt" "$work/other-host.crt" >/dev/null
mkdir -p "$out"
for name in ca localhost other-host self-signed; do
  cp "$work/$name.crt" "$out/dev-$name-DEVELOPMENT-ONLY.crt"
  cp "$work/$name.key" "$out/dev-$name-DEVELOPMENT-ONLY.key"
done
echo "wrote development TLS material to $out"
