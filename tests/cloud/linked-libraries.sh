#!/usr/bin/env bash
# Usage: linked-libraries.sh <executable> <allowed-list> <most-libraries>
# Follows the ELF NEEDED entries of the executable through every shared library they name, the
# way the dynamic loader finds them (the loader's cache, then the system folders), and fails
# naming each library that no pattern of the allowed list (shell globs, one a line, # comments)
# matches, and the library that asked for it. Also fails when more than <most-libraries> are
# needed in all.
set -euo pipefail
executable=$1 allowed_list=$2 most=$3

mapfile -t allowed < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$allowed_list" | grep -v '^$')

declare -A cache
while read -r name arch path; do
  [[ $arch == *x86-64* || $arch == *aarch64* || -z ${cache[$name]:-} ]] && cache[$name]=$path
done < <(ldconfig -p | sed -n 's/^[[:space:]]*\([^ ]*\) (\([^)]*\)) => \(.*\)$/\1 \2 \3/p')

resolve() {
  local name=$1 dir
  if [[ -n ${cache[$name]:-} ]]; then
    echo "${cache[$name]}"
    return
  fi
  for dir in /lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu /lib64 /usr/lib /lib; do
    [[ -e $dir/$name ]] && { echo "$dir/$name"; return; }
  done
}

needed() {
  readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}

is_allowed() {
  local pattern
  for pattern in "${allowed[@]}"; do
    # shellcheck disable=SC2053 # the list holds globs
    [[ $1 == $pattern ]] && return 0
  done
  return 1
}

declare -A seen
queue=("$executable")
failed=0
while ((${#queue[@]})); do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r name; do
    [[ -n $name && -z ${seen[$name]:-} ]] || continue
    seen[$name]=1
    if ! is_allowed "$name"; then
      echo "not allowed: $name (needed by $(basename "$file"))"
      failed=1
    fi
    path=$(resolve "$name")
    if [[ -z $path ]]; then
      echo "not found: $name (needed by $(basename "$file"))"
      failed=1
      continue
    fi
    queue+=("$path")
  done < <(needed "$file")
done

echo "$(basename "$executable") needs ${#seen[@]} shared libraries: $(printf '%s\n' "${!seen[@]}" | sort | tr '\n' ' ')"
if ((${#seen[@]} > most)); then
  echo "more than $most shared libraries"
  failed=1
fi
exit $failed
