# What tests/linker_scripts_test.sh and rounds.sh share: the edits of
# pakforge's recipe that the FIX_ blocks of the scripts here make, with the
# problem codes that each answers (pakforge's messages and aelfdump --link
# name problems by these codes), and a way to run pakforge on a link.
# Sourced; needs bash 4.
declare -A fix_codes=(
  [VECTORS]="PF106"
  [TEXTNAME]="PF101"
  [TEXTFIRST]="PF103 PF104 PF105"
  [OFFSET]="PF401 PF402 PF405"
  [KEEP]="PF303 PF304"
  [DATANAME]="PF202 PF203"
  [END]="PF107 PF201 PF204 PF205 PF206"
  [ALIGN]="PF403"
  [RAMSECTIONS]="PF208"
  [NOLOAD]="PF211"
  [STACK]="PF504"
  [RAMSTART]="PF501 PF502"
  [BANKS]="PF503 PF507"
  [APPS]="PF207 PF209 PF601"
  [RAMFUNC]="PF212"
  [IMGHDR]="PF405"
)

# fixes_coded FILE: the edits that answer the problems FILE names by their
# codes: aelfdump --link's list ("N. [CODE topic] ..."), pakforge's red
# line ("[CODE] ...") and its hint line ("[CODE: aelfdump --explain CODE]"),
# one edit per line.
fixes_coded() {
  local fix code
  local codes=" $(grep -o '\[PF[0-9]*' "$1" | grep -o 'PF[0-9]*' | sort -u | tr '\n' ' ')"
  for fix in "${!fix_codes[@]}"; do
    for code in ${fix_codes[$fix]}; do
      if [[ "$codes" == *" $code "* ]]; then
        echo "$fix"
        break
      fi
    done
  done | sort
}

# run_pakforge PAKFORGE LINK_FOLDER SCRATCH: runs pakforge on the link's map
# and ELF file with a header template of zeros and no resources, from
# SCRATCH/run; its standard output, colours taken out, goes to SCRATCH/out,
# the image to SCRATCH/prog.alf. Returns pakforge's status.
run_pakforge() {
  local pakforge=$1 link=$2 scratch=$3 status=0
  rm -rf "$scratch" && mkdir -p "$scratch/run"
  cp "$link/output.map" "$link/output.elf" "$scratch/"
  head -c 72 /dev/zero >"$scratch/output_CFG.bin"
  : >"$scratch/output_RES.bin"
  (cd "$scratch/run" && "$pakforge" >"$scratch/raw" 2>/dev/null) || status=$?
  sed 's/\x1b\[[0-9;]*m//g' "$scratch/raw" >"$scratch/out"
  return "$status"
}
