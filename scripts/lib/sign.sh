# Sourced by the scripts that sign the Windows programs. sign_windows_program CERT KEY EXE gives EXE an Authenticode
# signature (SHA-256) with the certificate (PEM or DER, its chain may follow it in the file) and its private key,
# in place; a signature it had already is replaced. With ORVANE_SIGN_TIMESTAMP set to a time-stamping server's URL
# the signature is time-stamped there, so that it stays valid after the certificate expires.
sign_windows_program() {
  local cert=$1 key=$2 exe=$3 timestamp=()
  [ -z "${ORVANE_SIGN_TIMESTAMP:-}" ] || timestamp=(-ts "$ORVANE_SIGN_TIMESTAMP")
  # A program signed by an earlier build keeps one signature, the new one.
  if osslsigncode remove-signature -in "$exe" -out "$exe.unsigned" >/dev/null 2>&1; then
    mv "$exe.unsigned" "$exe"
  fi
  rm -f "$exe.unsigned" "$exe.signed"
  osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "Brellium update client" "${timestamp[@]}" \
    -in "$exe" -out "$exe.signed" >/dev/null || { rm -f "$exe.signed"; echo "cannot sign $exe" >&2; return 1; }
  mv "$exe.signed" "$exe"
}
