#!/usr/bin/env bash
# Installs the Debian packages the project needs and nothing else: each component lists its
# own in scripts/packages/*.list (one package per line, '#' starts a comment). apt-get update
# runs once, and only when something is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

wanted=$(sed -e 's/#.*//' "$here"/packages/*.list | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for pkg in $wanted; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$pkg")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all $(echo "$wanted" | wc -l) packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
