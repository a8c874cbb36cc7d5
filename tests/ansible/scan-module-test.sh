#!/usr/bin/env bash
# ansible-doc on every module of the collection, the example playbook's syntax, then
# recorder_scan against a recorder-sim on loopback: both simulated recorders must come back as facts.
set -euo pipefail
SRC=$1 BIN=$2
WORK=$(mktemp -d)
SIM_PID=
cleanup() { [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
mkdir -p "$WORK/ansible_collections/zantrel"
ln -s "$SRC/ansible" "$WORK/ansible_collections/zantrel/recorders"
export ANSIBLE_COLLECTIONS_PATH=$WORK ANSIBLE_LOCAL_TEMP=$WORK/tmp HOME=$WORK
for m in "$SRC"/ansible/plugins/modules/*.py; do
    ansible-doc "zantrel.recorders.$(basename "$m" .py)" >/dev/null
done
ansible-playbook --syntax-check -i "$SRC/ansible/examples/inventory.yml" "$SRC/ansible/examples/sites.yml" >/dev/null
mkfifo "$WORK/sim"
"$BIN/recorder-sim" --count 2 --no-upgrade --udp-port 0 >"$WORK/sim" &
SIM_PID=$!
read -r line <"$WORK/sim"   # blocks until the ready line
udp=$(sed -n 's/.*udp=\([^ ]*\).*/\1/p' <<<"$line")
out=$(ansible localhost -c local -m zantrel.recorders.recorder_scan \
    -a "pellory_cli=$BIN/pellory-cli target=$udp bind_port=0 timeout=1" 2>/dev/null)
for mac in 02:53:49:4D:00:01 02:53:49:4D:00:02; do
    grep -q "\"mac\": \"$mac\"" <<<"$out" || { echo "missing $mac"; echo "$out"; exit 1; }
done
grep -q '"address": "127.0.0.2"' <<<"$out" || { echo "no address field"; exit 1; }
echo ok
