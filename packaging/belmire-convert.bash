# bash completion for belmire-convert
_belmire_convert()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --from)
            COMPREPLY=($(compgen -W "v67 v1" -- "$cur"))
            return ;;
        --source|--target)
            COMPREPLY=($(compgen -f -X '!*.udl' -- "$cur") $(compgen -d -- "$cur"))
            return ;;
        --report)
            # a report, never a database or a data-link file: CSV files and folders only
            COMPREPLY=($(compgen -f -X '!*.csv' -- "$cur") $(compgen -d -- "$cur"))
            return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--from --source --target --quiet --report --help" -- "$cur"))
        return
    fi
    local ops="warehouses goods-areas suppliers categories products stock members all
        clear-warehouses clear-goods-areas clear-suppliers clear-categories clear-products clear-stock
        clear-members check verify"
    # products-v6 and products-v7 belong to v67, the default kind of source
    [[ " ${COMP_WORDS[*]} " == *" --from v1 "* ]] || ops+=" products-v6 products-v7"
    COMPREPLY=($(compgen -W "$ops" -- "$cur"))
}
complete -o filenames -F _belmire_convert belmire-convert
