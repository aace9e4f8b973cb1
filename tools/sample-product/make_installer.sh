#!/bin/sh
# Builds the sample product's installer: a shell script that carries the product as a
# tar.gz payload and an appended CMS signature (content, DER signature, 12-byte trailer,
# "~Module signature appended~\n"), so the installer's signature check has a real
# signed file to verify and the script still runs under sh.
#
#   make_installer.sh PRODUCT_BINARY OUT [--version V] [--key KEY.pem --cert CERT.pem]
#                     [--unsigned] [--delay SECONDS] [--fail]
#
# Without --key/--cert it signs with a throw-away key pair (the build passes the build
# tree's own key, build/sample-signing/, which the demo's Setup pins). The installer accepts
# the Inno Setup switches it is run with (/VERYSILENT /SP- /NORESTART /DIR=... /LANG=...
# /LOG=...); --delay and --fail (or QV_SAMPLE_INSTALL_DELAY / QV_SAMPLE_INSTALL_FAIL in
# its environment) make it slow or make it fail, for tests.
set -eu

usage() { echo "usage: make_installer.sh PRODUCT_BINARY OUT [--version V] [--key K --cert C] [--unsigned] [--delay S] [--fail]" >&2; exit 2; }
[ $# -ge 2 ] || usage
product=$1; out=$2; shift 2
version=1.0.0.0; key=""; cert=""; sign=1; delay=0; fail=0
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --cert) cert=$2; shift 2 ;;
    --unsigned) sign=0; shift ;;
    --delay) delay=$2; shift 2 ;;
    --fail) fail=1; shift ;;
    *) usage ;;
  esac
done
[ -f "$product" ] || { echo "make_installer.sh: no product binary at $product" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/payload"
cp "$product" "$work/payload/MorvikBackup.exe"
chmod 755 "$work/payload/MorvikBackup.exe"
printf 'Morvik Backup %s\n' "$version" > "$work/payload/VERSION"
tar -C "$work/payload" -czf "$work/payload.tgz" .
payload_size=$(wc -c < "$work/payload.tgz")

# The header has fixed-width numbers so its own length is known before they are filled in
# (expr reads them: sh arithmetic would take their leading zeros for octal).
write_header() {
cat <<HEADER
#!/bin/sh
# Morvik Backup $version sample installer. Binary payload and signature follow 'exit'.
HEADER_SIZE=$1
PAYLOAD_SIZE=$(printf '%010d' "$payload_size")
DELAY=\${QV_SAMPLE_INSTALL_DELAY:-$delay}
FAIL=\${QV_SAMPLE_INSTALL_FAIL:-$fail}
DIR=""; LANG_VALUE=""; LOG=""
for arg in "\$@"; do
  case \$arg in
    /DIR=*) DIR=\${arg#/DIR=} ;;
    /LANG=*) LANG_VALUE=\${arg#/LANG=} ;;
    /LOG=*) LOG=\${arg#/LOG=} ;;
    /VERYSILENT|/SILENT|/SP-|/NORESTART|/SUPPRESSMSGBOXES) ;;
    *) echo "installer: unknown switch \$arg" >&2 ;;
  esac
done
log() { [ -n "\$LOG" ] && printf '%s %s\n' "\$(date '+%Y-%m-%d %H:%M:%S')" "\$*" >> "\$LOG"; return 0; }
log "Morvik Backup $version setup started: \$*"
[ -n "\$DIR" ] || { log "no /DIR= given"; echo "installer: /DIR= is required" >&2; exit 2; }
[ "\$DELAY" -gt 0 ] 2>/dev/null && sleep "\$DELAY"
if [ "\$FAIL" = 1 ]; then log "failing on request"; exit 1; fi
mkdir -p "\$DIR" || { log "cannot create \$DIR"; exit 1; }
tail -c +\$(expr \$HEADER_SIZE + 1) "\$0" | head -c \$(expr \$PAYLOAD_SIZE + 0) | tar -xzf - -C "\$DIR" || { log "payload damaged"; exit 1; }
printf '%s\n' "\$LANG_VALUE" > "\$DIR/LANGUAGE"
log "installed into \$DIR (language \$LANG_VALUE)"
exit 0
HEADER
}
write_header 0000000000 > "$work/header"
header_size=$(wc -c < "$work/header")
write_header "$(printf '%010d' "$header_size")" > "$work/header"
[ "$(wc -c < "$work/header")" -eq "$header_size" ] || { echo "make_installer.sh: header size moved" >&2; exit 1; }
cat "$work/header" "$work/payload.tgz" > "$work/content"

if [ "$sign" = 1 ]; then
  if [ -z "$key" ] || [ -z "$cert" ]; then
    key="$work/key.pem"; cert="$work/cert.pem"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$key" -out "$cert" -days 3650 \
      -subj "/CN=Morvik sample product signing" >/dev/null 2>&1
  fi
  openssl cms -sign -binary -noattr -md sha256 -in "$work/content" -signer "$cert" -inkey "$key" \
    -outform DER -out "$work/sig.der"
  sig_size=$(wc -c < "$work/sig.der")
  # Trailer: algo, hash, id_type (2 = PKCS#7), signer_len, key_id_len, 3 pad bytes,
  # then the signature length as a big-endian 32-bit number.
  python3 - "$sig_size" > "$work/trailer" <<'PY'
import struct, sys
sys.stdout.buffer.write(struct.pack(">BBBBB3xI", 0, 0, 2, 0, 0, int(sys.argv[1])))
sys.stdout.buffer.write(b"~Module signature appended~\n")
PY
  cat "$work/content" "$work/sig.der" "$work/trailer" > "$out.tmp"
else
  cp "$work/content" "$out.tmp"
fi
chmod 755 "$out.tmp"
mv "$out.tmp" "$out"
