# shellcheck shell=bash
# Sourced by the scripts that debootstrap a Debian 12 root (fresh-machine-check.sh, the package
# tier): mirror_from_sources prints the first mirror of this machine's own apt sources that serves
# bookworm, from one-line or deb822 sources, so no mirror is written into the tree.
mirror_from_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" |
      awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }'
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
      {
        deb = 0; suite = 0; uri = ""
        for (i = 1; i <= NF; i++) {
          line = $i; sub(/#.*/, "", line)
          if (line ~ /^Types:/ && line ~ /[ \t]deb([ \t]|$)/) deb = 1
          if (line ~ /^Suites:/ && line ~ /[ \t]bookworm([ \t]|$)/) suite = 1
          if (line ~ /^URIs:/) { split(line, u, /[ \t]+/); uri = u[2] }
        }
        if (deb && suite && uri != "") { print uri; exit }
      }' "$f"
  done
}
