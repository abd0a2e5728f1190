# bash completion for pellmar: commands, options, their words, and file names by kind.

_pellmar_files() {
    # $1: extensions as an extglob alternation ("png|jpg"); upper-case names match too.
    local restore
    restore=$(shopt -p extglob)
    shopt -s extglob
    local IFS=$'\n'
    COMPREPLY+=($(compgen -f -X "!*.@($1|${1^^})" -- "$cur") $(compgen -d -- "$cur"))
    eval "$restore"
    compopt -o filenames 2>/dev/null
}

# The store sizes by name, as the engine on the PATH knows them.
_pellmar_named_sizes() {
    command pellmar sizes 2>/dev/null | while read -r name _; do printf '%s ' "$name"; done
}

_pellmar() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local cmd=${COMP_WORDS[1]}
    local pictures='png|jpg|jpeg|heic|heif|webp|tif|tiff' videos='mov|mp4|m4v'
    local sounds='mp3|m4a|wav|aif|aiff|aac|flac|ogg|opus' sizes='1080x1920 1920x1080 1080x1080 2160x3840 3840x2160 2160x2160'
    local layouts='full closeup'
    [[ $cmd == frame ]] && layouts='full closeup spin closeup_spin'
    COMPREPLY=()

    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W 'still frame poster spin audio gen-test plan sizes help --help --version' -- "$cur"))
        return
    fi

    # Where the word being completed stands: the n-th value of an --out, the value of an
    # option, or the n-th file.
    local i=2 files=0 outArg=0
    while ((i < COMP_CWORD)); do
        case ${COMP_WORDS[i]} in
        --out)
            if ((COMP_CWORD - i <= 3)); then
                outArg=$((COMP_CWORD - i))
                break
            fi
            i=$((i + 4))
            continue
            ;;
        --theme | --size | --layout | --start | --max | --at | --seconds | --fps | --title | --subtitle | --caption | --backdrop)
            i=$((i + 1))
            ;;
        --*) ;;
        *) files=$((files + 1)) ;;
        esac
        i=$((i + 1))
    done

    case $outArg in
    1)
        _pellmar_files mp4
        return
        ;;
    2)
        COMPREPLY=($(compgen -W "$sizes $(_pellmar_named_sizes)" -- "$cur"))
        return
        ;;
    3)
        COMPREPLY=($(compgen -W "$layouts" -- "$cur"))
        return
        ;;
    esac

    case $prev in
    --theme)
        COMPREPLY=($(compgen -W 'dark light' -- "$cur"))
        return
        ;;
    --size)
        COMPREPLY=($(compgen -W "$sizes $(_pellmar_named_sizes)" -- "$cur"))
        return
        ;;
    --layout)
        COMPREPLY=($(compgen -W "$layouts" -- "$cur"))
        return
        ;;
    --caption)
        COMPREPLY=($(compgen -W 'top bottom' -- "$cur"))
        return
        ;;
    --backdrop)
        _pellmar_files 'png|jpg|jpeg'
        return
        ;;
    --start | --max | --at | --seconds | --fps | --title | --subtitle) return ;;
    esac

    local options
    case $cmd in
    still) options='--theme --size --layout --title --subtitle --caption --backdrop' ;;
    poster) options='--theme --size --layout --start --title --subtitle --caption --backdrop' ;;
    frame) options='--out --theme --size --layout --start --max --progress --title --subtitle --caption --backdrop' ;;
    spin) options='--theme --size --layout --at --progress --title --subtitle --caption --backdrop' ;;
    gen-test) options='--seconds --fps --vfr' ;;
    help)
        ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W 'still frame poster spin audio gen-test plan sizes' -- "$cur"))
        return
        ;;
    *) options='' ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $cmd:$files in
    still:0 | gen-test:0) _pellmar_files "$pictures" ;;
    still:1 | poster:1) _pellmar_files png ;;
    frame:0 | poster:0) _pellmar_files "$videos" ;;
    frame:1) _pellmar_files mp4 ;;
    spin:0) _pellmar_files "$pictures|$videos" ;;
    spin:1) _pellmar_files 'mp4|png' ;;
    audio:0) _pellmar_files "$videos" ;;
    audio:1) _pellmar_files "$sounds|$videos" ;;
    gen-test:1) _pellmar_files 'mov|mp4' ;;
    plan:0) _pellmar_files json ;;
    plan:1) _pellmar_files ninja ;;
    esac
}

complete -F _pellmar pellmar
