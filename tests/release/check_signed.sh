#!/usr/bin/env bash
# Signs a release through scripts/release.sh with a throwaway self-signed
# code-signing certificate, into a temporary dist and build directory, and fails
# unless osslsigncode verifies the signed exe against that certificate, the exe
# less its signature is the unsigned build byte for byte, and the zip's SHA256SUMS
# names the signed exe. A wrong password and a missing certificate file must each
# stop the script with one "release: ..." line and leave the dist directory as it was.
# Usage: check_signed.sh <source dir> <unsigned kelvor.exe built from it>
set -euo pipefail

source_dir=$(cd "${1:?source dir}" && pwd)
unsigned=${2:?unsigned kelvor.exe}
release=$source_dir/scripts/release.sh

for tool in osslsigncode openssl python3; do
    command -v "$tool" > /dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
[[ -s $unsigned ]] || { echo "no unsigned exe at '$unsigned'" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-signed.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fault() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The certificate: RSA 2048, self-signed, good for code signing only; and a second
# one with the same name but another key, which must not verify the signature.
password=correct-horse-$$
make_certificates() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=kelvor release test" \
        -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=critical,digitalSignature" \
        -keyout "$work/key.pem" -out "$work/cert.pem" &&
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=kelvor release test" \
            -addext "extendedKeyUsage=codeSigning" \
            -keyout "$work/other-key.pem" -out "$work/other.pem" &&
        KEY_PASS=$password openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" \
            -passout env:KEY_PASS -out "$work/signer.pfx"
}
if ! make_certificates > "$work/openssl.log" 2>&1; then
    echo "openssl could not make the test certificates:" >&2
    cat "$work/openssl.log" >&2
    exit 2
fi

# run_release <name> <dist> [VAR=value...]: release.sh into <dist>, with the
# temporary build directory and the given environment; output in
# $work/<name>.out and .err.
run_release() {
    local name=$1 dist=$2
    shift 2
    env KELVOR_DIST_DIR="$dist" KELVOR_BUILD_DIR="$work/build" "$@" \
        bash "$release" > "$work/$name.out" 2> "$work/$name.err"
}

# The state of a dist directory: every entry with its size, mode and hash.
snapshot() {
    [[ -e $1 ]] || { echo "absent"; return; }
    (cd "$1" && find . -printf '%p %y %s %m\n' | sort &&
        find . -type f -print0 | sort -z | xargs -0r sha256sum)
}

# One signed release.
if ! run_release signed "$work/dist" KELVOR_SIGN_PFX="$work/signer.pfx" KELVOR_SIGN_PASSWORD="$password"; then
    echo "release.sh failed to make a signed release:" >&2
    cat "$work/signed.out" "$work/signed.err" >&2
    exit 1
fi
cat "$work/signed.out"
zips=("$work"/dist/kelvor-*.zip)
[[ ${#zips[@]} -eq 1 && -f ${zips[0]} ]] || { echo "no single zip in dist: ${zips[*]}" >&2; exit 1; }
zip=${zips[0]}
sha256sum -c --quiet "$zip.sha256" ||
    fault "$(basename "$zip").sha256 does not match the zip"
mkdir "$work/unpacked"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$zip" "$work/unpacked"
contents=$(find "$work/unpacked" -mindepth 1 -maxdepth 1 -type d)
signed=$contents/kelvor.exe
[[ -f $signed ]] || { echo "the zip holds no kelvor.exe" >&2; exit 1; }

# The signature holds against the test certificate, and only against it.
if osslsigncode verify -CAfile "$work/cert.pem" -in "$signed" > "$work/verify.out" 2>&1; then
    grep -E "Signature verification|Message digest algorithm|Subject|Text description" \
        "$work/verify.out" | sort -u
    grep -q "Subject: /CN=kelvor release test" "$work/verify.out" ||
        fault "verify does not name the test certificate as the signer"
    grep -q "Text description: kelvor" "$work/verify.out" ||
        fault "the signature does not carry the program name kelvor"
    grep -q "Message digest algorithm *: SHA256" "$work/verify.out" ||
        fault "the signature's digest is not SHA-256"
else
    fault "osslsigncode verify refuses the signed exe:"
    cat "$work/verify.out" >&2
fi
osslsigncode verify -CAfile "$work/other.pem" -in "$signed" > /dev/null 2>&1 &&
    fault "osslsigncode verify accepts the signed exe against another certificate"

# Less its signature, the signed exe is the unsigned build.
cmp -s "$signed" "$unsigned" && fault "the zip's kelvor.exe is not signed"
osslsigncode remove-signature -in "$signed" -out "$work/stripped.exe" > /dev/null ||
    fault "osslsigncode cannot take the signature off the signed exe"
if cmp "$work/stripped.exe" "$unsigned"; then
    echo "signed $(stat -c %s "$signed") bytes, less its signature $(stat -c %s "$work/stripped.exe")" \
        "bytes: the same as the unsigned build"
else
    fault "the signed exe less its signature differs from the unsigned build"
fi
stripped_sum=$(sha256sum < "$work/stripped.exe" | cut -d' ' -f1)
grep -qx "unsigned sha256 $stripped_sum  kelvor.exe" "$work/signed.out" ||
    fault "release.sh does not print the unsigned build's hash $stripped_sum"

# SHA256SUMS names the signed exe.
(cd "$contents" && sha256sum -c --strict SHA256SUMS) || fault "SHA256SUMS does not match the signed exe"
grep -q "^$(sha256sum < "$signed" | cut -d' ' -f1)  kelvor.exe$" "$contents/SHA256SUMS" ||
    fault "SHA256SUMS does not list the signed exe"

# expect_refusal <name> <dist> [VAR=value...]: release.sh fails with one line and
# leaves <dist> as it was.
expect_refusal() {
    local name=$1 dist=$2 before
    shift 2
    before=$(snapshot "$dist")
    if run_release "$name" "$dist" "$@"; then
        fault "$name: release.sh succeeded"
    fi
    echo "$name: $(cat "$work/$name.err")"
    if [[ $(wc -l < "$work/$name.err") -ne 1 ]] || ! grep -q "^release: ." "$work/$name.err"; then
        fault "$name: the error is not one 'release: ...' line"
    fi
    [[ $(snapshot "$dist") == "$before" ]] || fault "$name: $dist changed"
}

expect_refusal wrong_password "$work/dist" \
    KELVOR_SIGN_PFX="$work/signer.pfx" KELVOR_SIGN_PASSWORD="not-$password"
grep -qi "password" "$work/wrong_password.err" || fault "wrong_password: the error does not say so"
expect_refusal missing_file "$work/dist-never-made" \
    KELVOR_SIGN_PFX="$work/absent.pfx" KELVOR_SIGN_PASSWORD="$password"
grep -q "absent.pfx" "$work/missing_file.err" || fault "missing_file: the error does not name the file"

((failures == 0)) || exit 1
echo "signed release verified"
