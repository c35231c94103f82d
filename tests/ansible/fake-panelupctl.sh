#!/usr/bin/env bash
# A stand-in panelupctl for the rollout test: canned JSON per subcommand for the panel its folder
# names (FAKE/<panel>/panelupctl, a link to this script), every call logged to FAKE/calls.log.
#   update-power  needs an update, scheduled with power-cycle: the new firmware runs after it
#   update-reboot needs an update, scheduled with reboot: verified, waits for the power-off
#   current       runs the catalogue's version
#   refused       inventory refused (not root)
set -euo pipefail

dir=$(cd "$(dirname "$0")" && pwd)
panel=${dir##*/}
echo "$panel: $*" >>"$dir/../calls.log"
state=$dir/scheduled

old='{"cid":2,"pid":6,"txx":12,"version":"02.06.12"}'
new='{"cid":2,"pid":6,"txx":19,"version":"02.06.19"}'
catalogue='"catalogue":{"version":"02.06.19","model":"LP140WF6"}'
case "$panel:$1" in
  refused:inventory)
    echo '{"result":"refused","reason":"inventory reads the bridge over the SMBus: run it as root"}'
    exit 1
    ;;
  current:inventory)
    echo "{\"result\":\"current\",\"bridge\":true,\"chip_id\":\"0x1605\",\"running\":$new,$catalogue}"
    ;;
  update-*:inventory)
    echo "{\"result\":\"update-available\",\"bridge\":true,\"chip_id\":\"0x1605\",\"running\":$old,$catalogue}"
    ;;
  update-*:schedule)
    then=reboot
    [ "$panel" = update-reboot ] || then=power-cycle
    touch "$state"
    echo "{\"result\":\"scheduled\",\"changed\":true,\"cid\":2,\"pid\":6,\"running\":\"02.06.12\",\"target\":\"02.06.19\",\"then\":\"$then\",\"attempts\":3}"
    ;;
  update-*:status)
    [ -f "$state" ] || { echo '{"result":"no-record","scheduled":false}'; exit 3; }
    running=$new then=power-cycle now=true
    [ "$panel" != update-reboot ] || running=$old then=reboot now=false
    echo "{\"cid\":2,\"pid\":6,\"exit\":0,\"result\":\"success\",\"from\":\"02.06.12\",\"to\":\"02.06.19\",\"time\":\"2026-12-10T15:40:00\",\"then\":\"$then\",\"attempts\":1,\"build\":\"1.0.0+g0123456789ab\",\"new_firmware_running\":$now,\"running\":$running}"
    ;;
  *)
    echo "{\"result\":\"usage-error\",\"changed\":false,\"reason\":\"the fake has no answer for $1\"}"
    exit 2
    ;;
esac
