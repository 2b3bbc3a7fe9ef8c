# bash completion for pkgtool: commands, each command's options, the values
# of options that take a fixed set, and file names elsewhere.
# Installed as PREFIX/share/bash-completion/completions/pkgtool.

_pkgtool_options() {
  case $1 in
    build)
      echo "-o --output --stub --x86 --x64 --allow-any-program --require-signed-programs
        --sign-command --windows --win10 --win11
        --expires --allow-expired --elevation --no-64bit-windows --detached
        --pass-exit-code --launcher-languages --launcher-text
        --expired-message --expired-message-file --wrong-width-message
        --wrong-width-message-file --unsupported-message --unsupported-message-file
        --trailing-data --level --dict --lc --lp --pb -q --quiet --icon --version-info
        --version-language --recipe -h --help" ;;
    inspect) echo "--json --recipe -q --quiet -h --help" ;;
    verify) echo "-q --quiet -h --help" ;;
    extract) echo "--x86 --x64 -q --quiet -h --help" ;;
    simulate) echo "--windows --arch --date --admin --path --temp --language --json -q --quiet -h --help" ;;
    matrix) echo "--date --admin --path --temp --language --json -q --quiet -h --help" ;;
  esac
}

_pkgtool() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="build inspect verify extract simulate matrix help"
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    mapfile -t COMPREPLY < <(compgen -W "$commands -h --help -V --version" -- "$cur")
    return
  fi
  local command=${COMP_WORDS[1]}
  if [[ $command == help ]]; then
    ((COMP_CWORD == 2)) && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    return
  fi
  case $prev in
    --windows)
      if [[ $command == simulate ]]; then
        mapfile -t COMPREPLY < <(compgen -W "95 98 me nt4 2000 xp vista 7 8 8.1 10 11" -- "$cur")
      else
        mapfile -t COMPREPLY < <(compgen -W "all 95 98 me nt4 2000 xp vista 7 8 8.1 10 11 other" -- "${cur##*,}")
        local done=${cur%"${cur##*,}"}
        COMPREPLY=("${COMPREPLY[@]/#/$done}")
      fi
      return ;;
    --elevation) mapfile -t COMPREPLY < <(compgen -W "standard silent-runas always-noadmin" -- "$cur"); return ;;
    --arch) mapfile -t COMPREPLY < <(compgen -W "x86 x64 arm64" -- "$cur"); return ;;
    --launcher-languages)
      mapfile -t COMPREPLY < <(compgen -W "all de fr es it pt-BR nl pl ru ja zh-CN ko tr" -- "${cur##*,}")
      local taken=${cur%"${cur##*,}"}
      COMPREPLY=("${COMPREPLY[@]/#/$taken}")
      return ;;
    --language)
      mapfile -t COMPREPLY < <(compgen -W "en-US de-DE fr-FR es-ES it-IT pt-BR nl-NL pl-PL ru-RU ja-JP zh-CN zh-TW zh-HK ko-KR tr-TR ca-ES sr-Cyrl-RS" -- "${cur##*,}")
      local before=${cur%"${cur##*,}"}
      COMPREPLY=("${COMPREPLY[@]/#/$before}")
      return ;;
    --win10 | --win11 | --expires | --date | --level | --dict | --lc | --lp | --pb | \
      --version-info | --version-language | --expired-message | --wrong-width-message | \
      --unsupported-message | --path | --temp | --launcher-text)
      return ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_pkgtool_options "$command")" -- "$cur")
    return
  fi
  compopt -o filenames 2> /dev/null
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

complete -F _pkgtool pkgtool
