The plug-in's file, --plugin PATH, and its loading: what cannot be loaded fails the run with
status 1, the loader's own words shown escaped and cut; a crash of the loading is the
plug-in's. The faulty plug-ins are linked here by their names.

  $ ln -s "$VELK_FAULTY_DIR"/velk_faulty_*.so .

Missing, or named to forge a line of velk-run's own on a terminal:

  $ velk-run --plugin /nonexistent/velk_temperature.so 1000
  velk-run: cannot load plug-in '/nonexistent/velk_temperature.so': No such file or directory
  [1]
  $ velk-run --plugin "$(printf '/nonexistent/\033]0;title\007\nvelk-run: forged.so')" 1000
  velk-run: cannot load plug-in '/nonexistent/\x1b]0;title\x07\x0avelk-run: forged.so': No such file or directory
  [1]

A name without a slash is a file in this directory, not a library that the loader would find
on its search path (velk-run's own stand-in library is loaded already):

  $ velk-run --plugin libvelk_host_standin.so 1000
  velk-run: cannot load plug-in './libvelk_host_standin.so': No such file or directory
  [1]

Only a regular file is handed to the loader, which a FIFO would block:

  $ mkfifo fifo.so
  $ velk-run --plugin fifo.so 1000
  velk-run: cannot load plug-in './fifo.so': not a regular file
  [1]

A file cut short, its headers whole and its segments not, crashes the loader, in the
plug-in's process:

  $ head -c 4096 "$VELK_PLUGIN" >cut_short.so
  $ velk-run --plugin cut_short.so 1000
  velk-run: the plug-in crashed (SIGBUS) during the loading of './cut_short.so'
  Bus error
  [135]

A file built for another machine is refused with what it is built for (here the plug-in with
its ELF header's machine made RISC-V, which no machine that runs these tests is):

  $ cp "$VELK_PLUGIN" foreign.so
  $ printf '\363\000' | dd of=foreign.so bs=1 seek=18 conv=notrunc 2>/dev/null
  $ velk-run --plugin foreign.so 1000
  velk-run: cannot load plug-in '\./foreign\.so': it is built for RISC-V, (32|64)-bit, little-endian, not for this machine \((x86-64|MIPS), \1-bit, little-endian\) (re)
  [1]

A library without the entry point, get_providers (glibc and musl word it differently):

  $ velk-run --plugin "$VELK_NOT_A_PLUGIN" 1000
  velk-run: plug-in '/.*/libvelk_host_standin\.so' has no get_providers: (undefined symbol|Symbol not found): get_providers (re)
  [1]

An entry point that is data, not a function:

  $ velk-run --plugin velk_faulty_data_entry.so 1000
  velk-run: the plug-in crashed (SIGSEGV) during get_providers
  Segmentation fault
  [139]

A get_providers that throws, something that is no std::exception or an error of the
plug-in's own type, and a provider that creates no device:

  $ velk-run --plugin velk_faulty_throws_int.so 1000
  velk-run: plug-in './velk_faulty_throws_int.so': get_providers failed: an exception that is not a std::exception
  [1]
  $ velk-run --plugin velk_faulty_throws_error.so 1000
  velk-run: plug-in './velk_faulty_throws_error.so': get_providers failed: 'no providers today'
  [1]
  $ velk-run --plugin velk_faulty_null_device.so 1000
  velk-run: plug-in './velk_faulty_null_device.so': create() of its device provider gave no device
  [1]

The loader's message here names a symbol of 2000 bytes with an escape byte in it: shown
escaped, and cut after 1024 bytes (one of them shown as \x1b) with the whole length after.
glibc and musl word it differently:

  $ cp velk_faulty_undefined_symbol.so undefined_escape.so
  $ at=$(grep -boa velk_missing_ undefined_escape.so | head -n 1 | cut -d: -f1)
  $ printf '\033' | dd of=undefined_escape.so bs=1 seek=$((at + 4)) conv=notrunc 2>/dev/null
  $ velk-run --plugin undefined_escape.so 1000
  velk-run: cannot load plug-in '\./undefined_escape\.so': (undefined symbol: velk\\x1bmissing_(velk_missing_){76}velk_\.\.\. \(2020 bytes\)|Error relocating \./undefined_escape\.so: velk\\x1bmissing_(velk_missing_){74}velk_miss\.\.\. \(2060 bytes\)) (re)
  [1]

A plug-in that offers several providers: the device comes from the first of analog-input
devices, here the second:

  $ velk-run --plugin velk_faulty_several_providers.so 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}

A crash while a long path of bytes outside ASCII is loaded: the line shows the path cut at
1024 bytes, each as \xNN, then "...", its quote and its length, never cut inside an escape:

  $ dir=$(printf '\351%.0s' $(seq 200)); path=$dir/$dir/$dir/$dir/$dir/$dir
  $ mkdir -p "$path" && head -c 4096 "$VELK_PLUGIN" >"$path/cut_short.so"
  $ (velk-run --plugin "$path/cut_short.so" 1000) 2>crash.txt
  Bus error
  [135]
  $ grep '^velk-run' crash.txt | sed 's/\(\\xe9\)\{1,\}/<\\xe9...>/g'
  velk-run: the plug-in crashed (SIGBUS) during the loading of '<\xe9...>/<\xe9...>/<\xe9...>/<\xe9...>/<\xe9...>/<\xe9...>...' (1218 bytes)
