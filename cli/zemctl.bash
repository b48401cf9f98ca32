# bash completion for zemctl: subcommands, command names and request fields.
# Works with the bash-completion package's helpers and without them.
_zemctl_files()
{
    if declare -F _filedir >/dev/null; then
        _filedir
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}

_zemctl()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion -n = || return
    else
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
    fi

    local i cmd="" sub=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        -u | --url | --record | --format | -o | --output | --period | --count | --field | --ignore | \
            --tolerance)
            ((i++)) ;;
        -*) ;;
        *)
            if [[ -z $cmd ]]; then
                cmd=${words[i]}
            elif [[ -z $sub ]]; then
                sub=${words[i]}
            fi
            ;;
        esac
    done

    case $prev in
    --record | -o | --output | --image)
        _zemctl_files
        return
        ;;
    --format)
        COMPREPLY=($(compgen -W "json text" -- "$cur"))
        return
        ;;
    -u | --url | --period | --count | --ignore | --field | --tolerance) return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-u --url --record --format --hex --no-fill --help --version
            --period --count --field --ignore --tolerance -o --output" -- "$cur"))
        return
    fi

    local fields_of=""
    case $cmd in
    "")
        COMPREPLY=($(compgen -W "$(zemctl list 2>/dev/null) list describe watch measure profile replay learn compare test board" -- "$cur"))
        return
        ;;
    describe)
        [[ -z $sub ]] && COMPREPLY=($(compgen -W "$(zemctl list 2>/dev/null)" -- "$cur"))
        return
        ;;
    profile)
        if [[ -z $sub ]]; then
            COMPREPLY=($(compgen -W "get set" -- "$cur"))
        elif [[ $sub == set ]]; then
            _zemctl_files
        fi
        return
        ;;
    replay | board)
        _zemctl_files
        return
        ;;
    learn | compare | test)
        case $cur in
        -*) COMPREPLY=($(compgen -W "--points --point --report --button" -- "$cur")) ;;
        *) _zemctl_files ;;
        esac
        return
        ;;
    watch)
        if [[ -z $sub ]]; then
            COMPREPLY=($(compgen -W "$(zemctl list 2>/dev/null)" -- "$cur"))
            return
        fi
        fields_of=$sub
        ;;
    measure) fields_of=set_measurement_settings ;;
    list) return ;;
    *) fields_of=$cmd ;;
    esac
    COMPREPLY=($(compgen -W "$(zemctl describe --field-names "$fields_of" 2>/dev/null)" -- "$cur"))
    compopt -o nospace
}
complete -F _zemctl zemctl
