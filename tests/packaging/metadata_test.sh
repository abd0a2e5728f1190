#!/bin/sh
# The desktop entry and the AppStream metadata as the desktop's own validators see them. The
# screenshots' addresses are not fetched (--no-net): the tests run without a network.
# Usage: metadata_test.sh BUILD_DIR SOURCE_DIR
set -eu
for tool in desktop-file-validate appstreamcli; do
    if ! command -v $tool >/dev/null; then
        echo "skipped: $tool is not installed (desktop-file-utils, appstream)"
        exit 77
    fi
done
desktop-file-validate "$2/resources/trevalo.desktop"
appstreamcli validate --no-net --strict --pedantic "$1/packaging/org.trevalo.trevalo.metainfo.xml"
