#!/usr/bin/env bash
# Creates Kestrel's persistent-values file (the stand-in for the installer's
# registry key) when it does not exist yet. The program only opens it.
set -euo pipefail
dir="${XDG_CONFIG_HOME:-$HOME/.config}/Norvale/Kestrel"
file="$dir/registry"
if [ ! -e "$file" ]; then
    mkdir -p "$dir"
    printf '# Kestrel persistent values (Name=value)\nJoinImproveSoft=0\n' > "$file"
    echo "Created $file"
fi
