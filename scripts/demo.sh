#!/usr/bin/env bash
# Builds Orvane and shows it choosing its mode from the command line, in a sandbox folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/build.sh" build >/dev/null

sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
cp "$root/build/bin/orvane" "$root/build/bin/brellium.exe" "$sandbox/"
[ -d "$root/build/bin/OvLng" ] && cp -r "$root/build/bin/OvLng" "$sandbox/"
export ORVANE_HKLM="$sandbox/hklm.reg"   # no registry file: no proxy fallback

run() {
  echo "\$ orvane $*"
  set +e
  "$sandbox/orvane" "$@"
  local status=$?
  set -e
  echo "  -> exit status $status"
}

echo "Orvane in $sandbox"
run /ENTS -ENTC SFLD=/srv/share      # both windowless modes: bad launch (255)
run /ENTS                            # mirror mode without a shared folder: bad launch (255)
run -entc                            # client mode without a shared folder: bad launch (255)
run ENTS ENTC SFLD=/srv/share        # flags need one leading character: these are no flags, so the wizard
run /ENTS SFLD=/srv/share            # mirror mode
run /ENTC SFLD=/srv/share            # shared-folder client mode
run                                  # the wizard

# A proxy port stored as text where a number belongs: the registry fallback fails loudly (1).
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelmar\\Orvane]\n"PRXPORT"="8080"\n' \
  > "$ORVANE_HKLM"
run /ENTS SFLD=/srv/share
