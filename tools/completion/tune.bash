# bash completion for `tune`: commands, each command's options, and files of
# the kinds each command reads or writes.
_tune() {
  local cur prev words cword
  _init_completion || return

  local commands="inspect render play build import-midi"
  if [[ $cword -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi

  local command=${words[1]} options
  case $command in
    inspect) options="--events" ;;
    render) options="--seconds --from-ms --rate --exact --float --seed" ;;
    play) options="--from-ms --from-bar --loop --watch --seconds" ;;
    build) options="--quiet" ;;
    import-midi) options="--patches" ;;
    *) return ;;
  esac

  case $prev in
    --seconds | --from-ms | --from-bar | --loop | --seed) return ;;
    --rate)
      COMPREPLY=($(compgen -W "22050 32000 44100 48000 88200 96000" -- "$cur"))
      return
      ;;
    --patches)
      _filedir -d
      return
      ;;
  esac

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options --help --version" -- "$cur"))
    return
  fi

  # The operand being completed: the first is the input, the second the output.
  local i operand=0
  for ((i = 2; i < cword; i++)); do
    case ${words[i]} in
      --seconds | --from-ms | --from-bar | --loop | --seed | --rate | --patches) ((i++)) ;;
      -*) ;;
      *) ((operand++)) ;;
    esac
  done
  case $command:$operand in
    build:0) _filedir -d ;;
    render:1) _filedir '@(wav|flac|ogg)' ;;
    import-midi:0) _filedir '@(mid|midi)' ;;
    *) _filedir ;;
  esac
}
complete -F _tune tune
