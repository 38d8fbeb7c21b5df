# bash completion for harvesta                                     -*- shell-script -*-

# The words of $1 that complete $cur.
_harvesta_words() {
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$cur")
}

_harvesta_image_files() {
    # Image files in any letter case, and folders to walk into.
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -o plusdirs -f -X '!*.@([qQ][vV][iI][mM][gG]|[qQ][vV][bB][aA][kK])' -- "$cur" |
        sort -u)
}

_harvesta() {
    local cur prev words cword
    _init_completion || return

    local subcommands="list make-image mount mounts unmount export verify restore help"
    local password="--password-file --tries"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} != -* ]]; then
            command=${words[i]}
            break
        fi
    done

    if [[ -z $command ]]; then
        _harvesta_words "$subcommands --help --version"
        return
    fi

    case $prev in
        --password-file | --log)
            _filedir
            return
            ;;
        -p | --partition)
            # make-image takes PATH[,FIELD=VALUE...]; the others a row number.
            [[ $command == make-image ]] && _filedir
            return
            ;;
        --to)
            _filedir -d
            local devices
            mapfile -t devices < <(compgen -G '/dev/[sv]d*[0-9]'; compgen -G '/dev/nvme*p*')
            local folders=("${COMPREPLY[@]}")
            _harvesta_words "${devices[*]}"
            COMPREPLY+=("${folders[@]}")
            return
            ;;
        --method)
            _harvesta_words "method1 byte-tokens alternate"
            return
            ;;
        --format)
            _harvesta_words "ntfs fat32"
            return
            ;;
        --hash)
            _harvesta_words "md5 sha256 md5,sha256"
            return
            ;;
        -o)
            _harvesta_words "exec allow_other uid= gid= umask= fmask= dmask= nonempty"
            compopt -o nospace 2>/dev/null
            return
            ;;
        --compression)
            _harvesta_words "0 1 2"
            return
            ;;
        --cipher)
            _harvesta_words "1 2 3"
            return
            ;;
        --tries | --format-version | --block-size | --split | --backup-number | --id | \
            --time | --ebr | --signature | --cluster-size | --command)
            return
            ;;
    esac

    local options
    case $command in
        list) options="--json" ;;
        make-image)
            options="-p --partition --format-version --version-3-digest --block-size --compression --method
                --password --cipher --split --backup-number --id --time --full-copy --file-backup --ebr --signature"
            ;;
        mount) options="--partition --raw -f --foreground --no-check -o -d --debug $password" ;;
        mounts) options="--json" ;;
        unmount) options="-l --lazy" ;;
        export) options="--partition --no-check --force -w --zero-bad -q --quiet --hash $password" ;;
        verify) options="--json -q --quiet --hash $password" ;;
        restore)
            options="--partition --to --format --cluster-size --bootable --no-active --no-disk-id --no-boot-sector
                --no-bcd --command -y --yes --log $password"
            ;;
        help)
            _harvesta_words "${subcommands% help}"
            return
            ;;
        *) return ;;
    esac
    if [[ $cur == -* ]]; then
        _harvesta_words "$options --help"
        return
    fi
    local given=" ${words[*]:1:cword-1} " image_given=""
    [[ $given == *.[qQ][vV][iIbB][mMaA][gGkK]\ * ]] && image_given=yes
    case $command in
        unmount) _filedir -d ;;
        make-image) _filedir ;;
        mount) if [[ $image_given ]]; then _filedir -d; else _harvesta_image_files; fi ;;
        export) if [[ $image_given ]]; then _filedir; else _harvesta_image_files; fi ;;
        mounts) ;;
        *) _harvesta_image_files ;;
    esac
} &&
    complete -F _harvesta harvesta
