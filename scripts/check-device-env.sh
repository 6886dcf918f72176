#!/usr/bin/env bash
# A device build's programs and libraries name none of the environment
# variables that move the device root or mirror the log: those exist in host
# builds only.
# check-device-env.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
files=()
while IFS= read -r f; do
  [ "$(head -c4 "$f")" = $'\x7fELF' ] && files+=("$f")
done < <(find "$dir" -type f ! -path '*/CMakeFiles/*' \( -name '*.so' -o -name '*.so.*' -o -perm -u+x \))
if [ ${#files[@]} -eq 0 ]; then
  echo "no programs or libraries under $dir"
  exit 1
fi
sh tests/platform/env_names.sh device "${files[@]}"
echo "${#files[@]} programs and libraries, none names a redirecting variable"
