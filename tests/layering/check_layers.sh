#!/usr/bin/env bash
# Fails when a source file includes a folder that its own folder may not reach. The product's
# layers run one way: platform, host, util, config, engine, plugin (the exports on top); the
# engine's declarations (engine_api) sit beside host; the reference modules build on platform,
# host, config and engine_api and reach the plug-in only through its exports.
# Usage: check_layers.sh SOURCE_ROOT
set -euo pipefail
root=$1

# The folders each folder may include, its own among them.
declare -A allowed=(
  [platform]="platform"
  [host]="platform host"
  [engine_api]="platform host engine_api"
  [util]="platform host util"
  [config]="platform host util config"
  [engine]="platform host util config engine_api engine"
  [plugin]="platform host util config engine_api engine plugin"
  [reference]="platform host config engine_api reference"
)

violations=0
for folder in "${!allowed[@]}"; do
  [[ -d $root/$folder ]] || continue
  while IFS=: read -r file line include; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([^/"]+)\/.*/\1/' <<<"$include")
    [[ $target == "$include" ]] && continue  # not a project include
    if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
      echo "${file#"$root"/}:$line includes $target/, above or beside $folder/ in the layers"
      violations=$((violations + 1))
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^/"]+/' \
             --include='*.h' --include='*.cpp' "$root/$folder" || true)
done

if [[ $violations -gt 0 ]]; then
  echo "$violations include(s) run against the layers"
  exit 1
fi
echo "every include runs down the layers"
