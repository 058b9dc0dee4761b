#!/bin/sh
# Installs the npm packages pinned in package-lock.json into node_modules, unless the copy there was
# installed from this very lock file. Run by CTest before the browser tests.
set -eu
cd "$(dirname "$0")"
stamp=node_modules/.installed-from-package-lock.json
if [ -f "$stamp" ] && cmp -s package-lock.json "$stamp"; then
    exit 0
fi
npm ci --no-audit --no-fund
cp package-lock.json "$stamp"
