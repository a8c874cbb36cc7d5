#!/usr/bin/env bash
# ansible-test sanity on a copy of the collection laid out as ansible_collections/zantrel/recorders.
# The tests that need packages from PyPI (ansible-doc, import, pep8, pylint, runtime-metadata,
# validate-modules, yamllint) cannot run offline: ansible-test fetches pip for their virtual
# environments. They are skipped here; ansible-doc runs in the module tests instead.
set -euo pipefail
SRC=$1 PYTHON=${2:-python3}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
COLLECTION=$WORK/ansible_collections/zantrel/recorders
mkdir -p "$(dirname "$COLLECTION")"
cp -r "$SRC/ansible" "$COLLECTION"
cd "$COLLECTION"
export HOME=$WORK
skipped=()
for t in ansible-doc import pep8 pylint runtime-metadata validate-modules yamllint; do skipped+=(--skip-test "$t"); done
ansible-test sanity --color no --python "$("$PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')" \
    "${skipped[@]}"
