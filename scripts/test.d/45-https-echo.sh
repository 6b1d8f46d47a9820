# Sourced by scripts/test.sh: a loopback HTTPS server for the transport's TLS
# test. Its certificate is made here, for this run only, and put into the
# current user's root store of this run's Wine prefix (a registry value), so
# it is trusted nowhere else. It goes in before any test process starts:
# Wine's certificate chain engine reads that store once per process.
# Exports:
#   QUIB_TLS_URL    https://127.0.0.1:PORT
# The server is stopped on exit, before the Wine environment goes down.

QUIB_TLS_DIR=$(mktemp -d /tmp/quib-tls.XXXXXX)
openssl req -x509 -newkey rsa:2048 -nodes -days 2 \
  -keyout "$QUIB_TLS_DIR/key.pem" -out "$QUIB_TLS_DIR/cert.pem" \
  -subj "/CN=127.0.0.1" \
  -addext "subjectAltName=DNS:127.0.0.1,DNS:localhost,IP:127.0.0.1" >/dev/null 2>&1
openssl x509 -in "$QUIB_TLS_DIR/cert.pem" -outform der -out "$QUIB_TLS_DIR/cert.der"
# A store entry is the certificate as a serialised property (id 32, the
# encoded certificate) under its SHA-1 thumbprint.
QUIB_TLS_THUMB=$(openssl x509 -in "$QUIB_TLS_DIR/cert.pem" -noout -fingerprint -sha1 |
  sed 's/.*=//; s/://g')
QUIB_TLS_BLOB=$(python3 -c 'import struct, sys
d = open(sys.argv[1], "rb").read()
print((struct.pack("<III", 32, 1, len(d)) + d).hex())' "$QUIB_TLS_DIR/cert.der")
"${WINE64_LOADER:-/usr/lib/wine/wine64}" reg add \
  "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$QUIB_TLS_THUMB" \
  /v Blob /t REG_BINARY /d "$QUIB_TLS_BLOB" /f >/dev/null
"${WINESERVER:-/usr/lib/wine/wineserver}" -w 2>/dev/null || true

https_echo_down() {
  if [ -n "${QUIB_TLS_PID:-}" ]; then
    kill "$QUIB_TLS_PID" 2>/dev/null || true
    wait "$QUIB_TLS_PID" 2>/dev/null || true
    QUIB_TLS_PID=""
  fi
  if [ -n "${QUIB_TLS_THUMB:-}" ] && [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    "${WINE64_LOADER:-/usr/lib/wine/wine64}" reg delete \
      "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$QUIB_TLS_THUMB" \
      /f >/dev/null 2>&1 || true
  fi
  if [ -n "${QUIB_TLS_DIR:-}" ]; then rm -rf "${QUIB_TLS_DIR:?}"; fi
}

https_echo_prev_trap() { eval "set -- $(trap -p EXIT)"; QUIB_HTTPS_ECHO_PREV_TRAP=${3:-}; }
https_echo_prev_trap
trap "https_echo_down; ${QUIB_HTTPS_ECHO_PREV_TRAP:-wine_env_down}" EXIT

python3 "$root/tests/win/support/tls_echo_server.py" "$QUIB_TLS_DIR/cert.pem" \
  "$QUIB_TLS_DIR/key.pem" "$QUIB_TLS_DIR/port" >"$QUIB_TLS_DIR/server.log" 2>&1 &
QUIB_TLS_PID=$!
for _ in $(seq 1 100); do
  [ -s "$QUIB_TLS_DIR/port" ] && break
  kill -0 "$QUIB_TLS_PID" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$QUIB_TLS_DIR/port" ]; then
  echo "45-https-echo: the server did not start:" >&2
  cat "$QUIB_TLS_DIR/server.log" >&2 || true
  false
fi
QUIB_TLS_URL="https://127.0.0.1:$(cat "$QUIB_TLS_DIR/port")"
export QUIB_TLS_URL
echo "https echo server: $QUIB_TLS_URL"
