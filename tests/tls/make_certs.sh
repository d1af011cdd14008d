#!/bin/bash
# Makes the certificates the downloader's TLS tests use, in <out-dir>:
#   ca.pem, ca.der            test CA (to be trusted in the test Wine prefix only)
#   localhost.pem/.key        signed by the CA, SAN DNS:localhost and IP:127.0.0.1
#   selfsigned.pem/.key       for localhost, but signed by itself
#   otherhost.pem/.key        signed by the CA, for the name other.invalid only
#   expired.pem/.key          signed by the CA for localhost, valid only in 2020
# Usage: make_certs.sh <out-dir>. Existing files are replaced. Keys are RSA 2048.
set -euo pipefail
out=${1:?usage: make_certs.sh <out-dir>}
mkdir -p "$out"
cd "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=Velnor Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout ca.key -out ca.pem 2>/dev/null
openssl x509 -in ca.pem -outform DER -out ca.der

# leaf <name> <san> [startdate enddate]: a server certificate signed by the CA.
leaf() {
  local name=$1 san=$2
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=${san#*:}" \
    -keyout "$name.key" -out "$work/$name.csr" 2>/dev/null
  cat > "$work/$name.ext" <<EXT
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=$san
EXT
  if [ $# -ge 4 ]; then
    # openssl ca is the way to set dates in the past.
    mkdir -p "$work/ca-$name"
    : > "$work/ca-$name/index.txt"
    cat > "$work/ca-$name/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $work/ca-$name/index.txt
new_certs_dir = $work/ca-$name
serial = $work/ca-$name/serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
CNF
    openssl rand -hex 16 > "$work/ca-$name/serial"
    openssl ca -batch -config "$work/ca-$name/ca.cnf" -cert ca.pem -keyfile ca.key \
      -startdate "$3" -enddate "$4" -extfile "$work/$name.ext" \
      -in "$work/$name.csr" -out "$name.pem" 2>/dev/null
  else
    openssl x509 -req -in "$work/$name.csr" -CA ca.pem -CAkey ca.key -CAcreateserial \
      -CAserial "$work/ca.srl" -days 825 -sha256 -extfile "$work/$name.ext" \
      -out "$name.pem" 2>/dev/null
  fi
}

leaf localhost "DNS:localhost,IP:127.0.0.1"
leaf otherhost "DNS:other.invalid"
leaf expired "DNS:localhost,IP:127.0.0.1" 20200101000000Z 20200201000000Z

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 825 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
  -keyout selfsigned.key -out selfsigned.pem 2>/dev/null
