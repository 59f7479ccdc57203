# bash completion for bumpwave, bumpwave-frames, bumpwave-view and bumpwave-record:
# their options, folders after --out, and video files for the recorder.

_bumpwave() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} words=""
    COMPREPLY=()
    case $1:$prev in
    bumpwave:--rate) words="24 30 50 60 72 75 90 100 120 144 165 240" ;;
    bumpwave:--seed | bumpwave:--start) ;;
    bumpwave:*) words="--window --paced --rate --calm --loop --seed --start --help --version" ;;
    bumpwave-frames:--out)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        ;;
    bumpwave-frames:--seed | bumpwave-frames:--times | bumpwave-frames:--at | bumpwave-frames:--save) ;;
    bumpwave-frames:*) words="--seed --times --at --save --calm --out --scenes --help --version" ;;
    bumpwave-view:--seconds) ;;
    bumpwave-view:*) words="lights plasma dots flash overlay flash-again fade-out --seconds --help --version" ;;
    bumpwave-record:--fps | bumpwave-record:--seed | bumpwave-record:--from | bumpwave-record:--until) ;;
    bumpwave-record:--crf | bumpwave-record:--scale) ;;
    bumpwave-record:*)
        [[ $cur == -* ]] && words="--fps --seed --from --until --crf --scale --calm --help --version"
        # The video's file: the formats it writes, and the folders that may hold one.
        compopt -o filenames 2>/dev/null
        [[ $cur == -* ]] || mapfile -t COMPREPLY < <(
            compgen -d -- "$cur"
            compgen -f -- "$cur" | grep -iE '\.(mkv|mp4|webm)$'
        )
        ;;
    esac
    [[ -z $words ]] || mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}
complete -F _bumpwave bumpwave bumpwave-frames bumpwave-view bumpwave-record
