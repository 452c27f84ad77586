# Shared by the ABI scripts (abi-check.sh, abi-baseline.sh, abi-daemon-headers.sh); sourced.
# The ABI recorded is that of the probe library abi/velk_abi_probe.so: the plug-in's view of
# every type and host function it shares with the daemon (abi/abi_probe.cpp).

abi_baseline_file() {  # abi_baseline_file TARGET
  echo "abi/baseline/$1.abi"
}

# abi_build_args BUILD_DIR TARGET: the arguments of abi-check.sh and abi-baseline.sh, read
# before they leave the caller's directory: sets dir (absolute), target, baseline (relative to
# the checkout) and current (the build's own ABI file).
abi_build_args() {
  [[ $# -eq 2 ]] || { echo "usage: $0 BUILD_DIR TARGET" >&2; exit 2; }
  dir=$(realpath -m "$1") target=$2
  baseline=$(abi_baseline_file "$target")
  current=$dir/abi/$target.abi
}

# abi_dump BUILD_DIR OUTPUT: builds the probe in the configured BUILD_DIR and writes its ABI to
# OUTPUT, free of this checkout's paths (file names only in locations).
abi_dump() {
  local dir=$1 out=$2 log
  if ! log=$(cmake --build "$dir" --target velk_abi_probe 2>&1); then
    printf '%s\n' "$log" >&2
    echo "abi: building the ABI probe in $dir failed" >&2
    return 1
  fi
  abidw --no-corpus-path --no-comp-dir-path --short-locs --out-file "$out" \
    "$dir/abi/velk_abi_probe.so"
}

# abi_diff OLD NEW: abidiff's report of every difference, harmless ones included; status 0
# when there is none.
abi_diff() {
  abidiff --harmless "$1" "$2"
}

# abi_leaf_diff OLD NEW: abidiff's report with each changed type once, where it changed (not
# again through every pointer and class that leads to it); status as abi_diff's.
abi_leaf_diff() {
  abidiff --harmless --leaf-changes-only "$1" "$2"
}

# abi_summary < LEAF_REPORT: what abi_leaf_diff's report says, in plain lines: the classes whose
# size, bases, data members or member functions differ, the virtual tables that differ, the
# records that differ, and the host functions whose signature differs.
abi_summary() {
  awk '
    function add(key, item) {
      if (index(SUBSEP list[key] SUBSEP, SUBSEP item SUBSEP) == 0)
        list[key] = list[key] (list[key] == "" ? "" : SUBSEP) item
    }
    # A list as words: at most eight items, then how many more.
    function words(key,    n, items, i, out) {
      n = split(list[key], items, SUBSEP)
      for (i = 1; i <= n && i <= 8; i++) out = out (i > 1 ? ", " : "") items[i]
      if (n > 8) out = out ", and " (n - 8) " more"
      return out
    }
    # Lists of one type, "TITLE ITEMS; TITLE ITEMS".
    function aspects(type, keys, titles,    n, k, t, i, out) {
      n = split(keys, k, " ")
      split(titles, t, ":")
      for (i = 1; i <= n; i++)
        if (list[type SUBSEP k[i]] != "")
          out = out (out == "" ? "" : "; ") t[i] " " words(type SUBSEP k[i])
      return out
    }
    function method(line) {  # the name of the method quoted in a line
      sub(/^ *\047method /, "", line)
      sub(/\(.*/, "", line)
      sub(/.*::/, "", line)
      return line
    }
    function last_word(text,    n, parts) {
      n = split(text, parts, " ")
      return parts[n]
    }
    function show(category, entry) {
      shown[category] = shown[category] (shown[category] == "" ? "" : "\n" sprintf("%19s", "")) entry
    }
    BEGIN {
      records["AI_Data_t"]; records["ttime"]; records["rule_value"]
      records["DranVDevice::BAOSetting"]; records["DranVDevice::pi_alert_"]
    }
    # A changed type of the contract.
    /^\047(class|struct|union|enum|typedef) .*\047 changed:$/ {
      type = $0
      sub(/^\047[a-z]+ /, "", type)
      sub(/\047 changed:$/, "", type)
      sub(/ at [^ ]+:[0-9]+:[0-9]+$/, "", type)
      order[++types] = type
      section = ""
      next
    }
    # A host function of the contract, through its probe function velk_abi_NAME.
    /^  \[[ACD]\] \047function / {
      type = ""
      name = $0
      sub(/^.*velk_abi_/, "", name)
      sub(/\(.*/, "", name)
      if (name != "get_ttime" && name !~ /^DranVDevice_/) next
      if (name ~ /^DranVDevice_(BAOSetting|pi_alert)$/) next
      sub(/^DranVDevice_/, "DranVDevice::", name)
      add("host functions", name)
      next
    }
    type == "" { next }
    /^  details were reported earlier/ { earlier[type] = 1; next }
    /^  type size changed from [0-9]+ to [0-9]+ \(in bits\)/ {
      size[type] = sprintf("size %d to %d bytes", $5 / 8, $7 / 8)
      next
    }
    /^  ([0-9]+ base class|there are base class)/ { bases[type] = 1; next }
    /^  ([0-9]+ data member|there are data member)/ { section = "members"; next }
    /^  [0-9]+ member function (insertion|deletion)s?:$/ {
      section = $4 ~ /^insertion/ ? "added" : "removed"
      next
    }
    /^  there are member function changes:$/ { section = "changed"; next }
    /^  [^ ]/ { section = ""; next }
    section == "members" && /^    [^ ]/ {
      line = $0
      if (line ~ /^    type \047.*\047 of \047.*\047 changed:$/) {
        sub(/\047 changed:$/, "", line)
        sub(/.*::/, "", line)
        add(type SUBSEP "members", line)
      } else if (line ~ /^    \047.*\047 offset changed/) {
        sub(/\047 offset changed.*/, "", line)
        add(type SUBSEP "members", last_word(line))
      } else if (line ~ /^    \047.*\047, at offset/) {
        sub(/\047, at offset.*/, "", line)
        add(type SUBSEP "members", last_word(line))
      }
      next
    }
    (section == "added" || section == "removed") && /^    \047method / {
      add(type SUBSEP ($0 ~ /virtual at voffset/ ? "v" : "") section, method($0))
      next
    }
    section == "changed" && /^    \047method / { current = method($0); next }
    section == "changed" && /^      [^ ]/ {
      if ($0 ~ /the vtable offset of method/) add(type SUBSEP "vmoved", current)
      else add(type SUBSEP "changed", current)
      next
    }
    END {
      for (i = 1; i <= types; i++) {
        type = order[i]
        own = type in size ? size[type] : ""
        if (type in bases) own = own (own == "" ? "" : "; ") "bases"
        more = aspects(type, "members added removed changed",
                       "data members:functions added:functions removed:function signatures")
        if (more != "") own = own (own == "" ? "" : "; ") more
        table = aspects(type, "vadded vremoved vmoved",
                        "added:removed:moved")
        if (own == "" && table == "" && !(type in earlier)) own = "no change of its own"
        entry = type (own == "" ? "" : ": " own)
        if (type in records) show("records", entry)
        else if (own != "" || table == "") show("classes", entry)
        if (table != "") show("virtual tables", type ": " table)
      }
      split("classes:virtual tables:records", titles, ":")
      for (i = 1; i <= 3; i++)
        printf("  %-16s %s\n", titles[i] ":", titles[i] in shown ? shown[titles[i]] : "none differ")
      printf("  %-16s %s\n", "host functions:",
             list["host functions"] == "" ? "none differ" : words("host functions"))
    }'
}
