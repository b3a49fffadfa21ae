# What tests/linker_scripts_test.sh and rounds.sh share: the edits of
# pakforge's recipe that the FIX_ blocks of the scripts here make, with the
# problem codes of aelfdump --link that each answers and the phrases by
# which pakforge's own messages name it, and a way to run pakforge on a
# link. Sourced; needs bash 4.
declare -A fix_phrases=(
  [VECTORS]=$'(for a vector table\nmove .isr_vector into .text\nmove .vectors into .text\nmove .vector_table into .text\nmove .interrupts into .text\nmove .vectors, then .rodata into .text'
  [TEXTFIRST]="the .text output section's own line must be the first"
  [OFFSET]=$'ALIGN(0x20000)\nlink with -n'
  [KEEP]=$'KEEP(*(.rodata.Modbus\n--undefined=Modbus'
  [DATANAME]=$'(.dat[a] matches the same\nrename the output section'
  [END]=$'moves the location counter past\nmove the location counter itself\nmove the location counter there'
  [ALIGN]='at the end of the last flash section, before the load address'
  [RAMSECTIONS]='stand between the flash sections and .data'
  [NOLOAD]='(NOLOAD)'
  [STACK]='stack top at the end of a stack reservation'
  [RAMSTART]='_ram_data_start = ADDR(.data)'
  [BANKS]="describe only the device's RAM"
  [APPS]=$'in the application\'s flash, below'
  [RAMFUNC]="inside .data's braces"
)

declare -A fix_codes=(
  [VECTORS]="PF106"
  [TEXTFIRST]="PF103 PF104 PF105"
  [OFFSET]="PF401 PF402"
  [KEEP]="PF303 PF304"
  [DATANAME]="PF202 PF203"
  [END]="PF107 PF201 PF204 PF205 PF206"
  [ALIGN]="PF403"
  [RAMSECTIONS]="PF208"
  [NOLOAD]="PF211"
  [STACK]="PF504"
  [RAMSTART]="PF501 PF502"
  [BANKS]="PF503"
  [APPS]="PF207 PF209 PF601"
  [RAMFUNC]="PF212"
)

# fixes_coded FILE: the edits that answer the problems aelfdump --link lists
# in FILE ("N. [CODE topic] ..."), one per line.
fixes_coded() {
  local fix code
  local codes=" $(grep -o '^  *[0-9]*\. \[PF[0-9]*' "$1" | grep -o 'PF[0-9]*' | tr '\n' ' ')"
  for fix in "${!fix_codes[@]}"; do
    for code in ${fix_codes[$fix]}; do
      if [[ "$codes" == *" $code "* ]]; then
        echo "$fix"
        break
      fi
    done
  done | sort
}

# fixes_named FILE: the edits that the text in FILE names, one per line.
fixes_named() {
  local fix
  for fix in "${!fix_phrases[@]}"; do
    if grep -qFf <(printf '%s\n' "${fix_phrases[$fix]}") "$1"; then
      echo "$fix"
    fi
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
