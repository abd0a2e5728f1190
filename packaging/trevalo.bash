# bash completion for trevalo: the screenshots, recordings and sounds it takes.

_trevalo() {
    local cur=${COMP_WORDS[COMP_CWORD]} restore
    restore=$(shopt -p extglob)
    shopt -s extglob
    local IFS=$'\n' kinds='png|jpg|jpeg|heic|mov|mp4|m4v|mp3|m4a|wav|aif|aiff|aac'
    COMPREPLY=($(compgen -f -X "!*.@($kinds|${kinds^^})" -- "$cur") $(compgen -d -- "$cur"))
    eval "$restore"
    compopt -o filenames 2>/dev/null
}

complete -F _trevalo trevalo
