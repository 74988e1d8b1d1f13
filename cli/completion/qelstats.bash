# bash completion for qelstats: commands, options, and the field names of
# the file given with --csv (read through qelstats fields, so the reading
# options apply).
_qelstats() {
  local cur prev words cword
  cur="${COMP_WORDS[COMP_CWORD]}"
  prev="${COMP_WORDS[COMP_CWORD-1]}"
  local commands="univariate outlier bivariate describe freq fields fn report completion"
  if [[ $COMP_CWORD -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  local command="${COMP_WORDS[1]}"
  case "$prev" in
    --csv|-o|--output) COMPREPLY=($(compgen -f -- "$cur")); compopt -o filenames 2>/dev/null; return ;;
    --rule) COMPREPLY=($(compgen -W "std tmean" -- "$cur")); return ;;
    --format) COMPREPLY=($(compgen -W "table json csv markdown" -- "$cur")); return ;;
    --order) COMPREPLY=($(compgen -W "count value" -- "$cur")); return ;;
    --field|--weight|--by|--predictor|--target|--fields)
      # The fields of the file named with --csv, with the reading options given so far.
      local i csv="" read_opts=()
      for ((i = 2; i < COMP_CWORD; i++)); do
        case "${COMP_WORDS[i]}" in
          --csv) csv="${COMP_WORDS[i+1]}" ;;
          --delimiter|--na|--thousands) read_opts+=("${COMP_WORDS[i]}" "${COMP_WORDS[i+1]}") ;;
          --decimal-comma|--no-header) read_opts+=("${COMP_WORDS[i]}") ;;
        esac
      done
      [[ -z "$csv" ]] && return
      csv="${csv/#\~/$HOME}"
      local IFS=$'\n'
      local names=($(qelstats fields --csv "$csv" "${read_opts[@]}" --format csv 2>/dev/null | tail -n +2 | sed 's/,[^,]*,[^,]*$//; s/^"\(.*\)"$/\1/'))
      if [[ "$prev" == --fields && "$cur" == *,* ]]; then
        local head="${cur%,*},"
        COMPREPLY=($(compgen -P "$head" -W "${names[*]}" -- "${cur##*,}"))
      else
        COMPREPLY=($(compgen -W "${names[*]}" -- "$cur"))
      fi
      return ;;
  esac
  local common="--csv --connection --source --json --format --precision --no-progress --delimiter --na --decimal-comma --thousands --no-header --help"
  local own=""
  case "$command" in
    univariate) own="--field --weight --where --by --percentiles --in-database" ;;
    outlier) own="--field --weight --rule --parm --only-outliers --where --by --in-database" ;;
    bivariate) own="--predictor --target --weight --bins --categorical --where --by --in-database" ;;
    describe) own="--fields --weight --where --by --percentiles" ;;
    freq) own="--field --weight --where --top --order" ;;
    fields) own="" ;;
    report) own="--target --weight --bins --fields --output -o" ;;
    fn) COMPREPLY=($(compgen -W "--list --json --format $(qelstats fn --list --format csv 2>/dev/null | sed -n 's/^\([A-Za-z_]*\)(.*/\1/p')" -- "$cur")); return ;;
    completion) COMPREPLY=($(compgen -W "bash" -- "$cur")); return ;;
  esac
  COMPREPLY=($(compgen -W "$own $common" -- "$cur"))
}
complete -F _qelstats qelstats
