# bash completion for ostrel: commands, subcommands, options, point names, type names and field
# paths, as `ostrel shell` completes them. The candidates come from the tool itself
# (`ostrel __complete WORD...`), so they follow the servers of TARN_SETTINGS.
_ostrel() {
  local current=${COMP_WORDS[COMP_CWORD]}
  local candidates
  candidates=$("${COMP_WORDS[0]}" __complete "${COMP_WORDS[@]:1:COMP_CWORD-1}" 2>/dev/null) || return
  COMPREPLY=($(compgen -W "$candidates" -- "$current"))
  # A field path ends in "=": its value follows without a space.
  if [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]]; then
    compopt -o nospace 2>/dev/null
  fi
}
complete -F _ostrel ostrel
