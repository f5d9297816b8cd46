#!/bin/sh
# Runs a test in a private mount namespace when the machine allows it (root with unshare),
# so that disc images it mounts are seen by nobody else and vanish with it.
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null 2>&1 && unshare -m --propagation private true 2>/dev/null; then
  export QUILLARY_PRIVATE_MOUNTS=1
  exec unshare -m --propagation private "$@"
fi
exec "$@"
