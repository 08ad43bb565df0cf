#!/usr/bin/env bash
# Signs copies of the sibling fixtures with test certificates made here and now (openssl,
# osslsigncode), for the publisher tests:
#   old_firmado_A.exe        the installed program, signed by publisher A
#   nuevo_firmado_A.exe      the new version, signed by A
#   nuevo_firmado_B.exe      signed by another publisher
#   nuevo_firmado_A_otra_ca.exe  a signer with A's subject, issued by another issuer
#   nuevo_alterado.exe       signed by A, then one byte changed
#   sign_fixtures.sh OUT_DIR OLD_EXE NEW_EXE
set -euo pipefail
out="${1:?usage: sign_fixtures.sh OUT_DIR OLD_EXE NEW_EXE}"
old="${2:?}"
new="${3:?}"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
subject_a="/C=ES/O=Orvane Software/CN=Orvane Software SL"
selfsigned() {  # name subject
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "$2" -keyout "$1.key" -out "$1.crt" \
    -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
}
selfsigned a "$subject_a"
selfsigned b "/C=ES/O=Otro Editor/CN=Otro Editor SL"
# A's subject under another issuer.
selfsigned ca "/C=ES/O=Otra Autoridad/CN=Otra Autoridad CA"
openssl req -newkey rsa:2048 -nodes -subj "$subject_a" -keyout a2.key -out a2.csr >/dev/null 2>&1
printf 'extendedKeyUsage=codeSigning\n' >a2.ext
openssl x509 -req -in a2.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 30 -extfile a2.ext -out a2.crt \
  >/dev/null 2>&1
sign() {  # key in out
  rm -f "$3"
  osslsigncode sign -certs "$1.crt" -key "$1.key" -h sha256 -n "Orvane" -in "$2" -out "$3" >/dev/null
}
sign a "$old" "$out/old_firmado_A.exe"
sign a "$new" "$out/nuevo_firmado_A.exe"
sign b "$new" "$out/nuevo_firmado_B.exe"
sign a2 "$new" "$out/nuevo_firmado_A_otra_ca.exe"
cp "$out/nuevo_firmado_A.exe" "$out/nuevo_alterado.exe"
# The roots, for a Windows desk to trust while its test kit runs (Wine trusts any).
cp a.crt "$out/raiz_A.cer"
cp b.crt "$out/raiz_B.cer"
cp ca.crt "$out/raiz_otra_ca.cer"
# One byte of the code section changed after signing: the digest no longer holds.
printf '\x90' | dd of="$out/nuevo_alterado.exe" bs=1 seek=1100 conv=notrunc status=none
