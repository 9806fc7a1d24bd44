# Sourced by the install scripts. as_root runs a command as root, through
# sudo when the script is not root already; missing_packages prints, one a
# line, those of its arguments that dpkg does not have installed.
as_root() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
