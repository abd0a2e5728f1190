#!/usr/bin/env bash
# The words bash offers for pellmar and trevalo, in a folder of sample names.
# Usage: completion_test.sh SOURCE_DIR
set -u
src=$1
source "$src/packaging/pellmar.bash"
source "$src/packaging/trevalo.bash"
cd "$(mktemp -d)" || exit 1
trap 'rm -rf "$PWD"' EXIT
touch shot.png SHOT2.JPG rec.mov clip.mp4 song.m4a notes.txt set.json
mkdir folder
failed=0

# expect FUNCTION "WORDS..." "EXPECTED (sorted, space-separated)"
expect() {
    local fn=$1 line=$2 want=$3
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    $fn 2>/dev/null
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$line' offers '$got', want '$want'"
        failed=1
    fi
}

expect _pellmar "pellmar " "--help --version audio frame gen-test help plan poster sizes spin still"
expect _pellmar "pellmar s" "sizes spin still"
expect _pellmar "pellmar help f" "frame"
expect _pellmar "pellmar plan " "folder set.json"
# Inputs and outputs by kind, folders always.
expect _pellmar "pellmar still " "SHOT2.JPG folder shot.png"
expect _pellmar "pellmar still shot.png " "folder shot.png"
expect _pellmar "pellmar frame " "clip.mp4 folder rec.mov"
expect _pellmar "pellmar spin " "SHOT2.JPG clip.mp4 folder rec.mov shot.png"
expect _pellmar "pellmar audio clip.mp4 " "clip.mp4 folder rec.mov song.m4a"
# Option values, and the three values of --out by position.
expect _pellmar "pellmar still shot.png x.png --theme " "dark light"
expect _pellmar "pellmar still shot.png --layout " "closeup full"
expect _pellmar "pellmar frame rec.mov --layout " "closeup closeup_spin full spin"
expect _pellmar "pellmar frame rec.mov --out " "clip.mp4 folder"
expect _pellmar "pellmar frame rec.mov --out a.mp4 1" "1080x1080 1080x1920 1920x1080"
expect _pellmar "pellmar frame rec.mov --out a.mp4 1080x1920 " "closeup closeup_spin full spin"
expect _pellmar "pellmar frame rec.mov --out a.mp4 1080x1920 full --p" "--progress"
expect _pellmar "pellmar spin shot.png a.mp4 --" "--at --backdrop --caption --layout --progress --size --subtitle --theme --title"
expect _pellmar "pellmar still shot.png a.png --caption " "bottom top"
expect _pellmar "pellmar still shot.png a.png --title Plan --c" "--caption"
expect _pellmar "pellmar still shot.png a.png --start " ""
expect _trevalo "trevalo " "SHOT2.JPG clip.mp4 folder rec.mov shot.png song.m4a"
exit $failed
