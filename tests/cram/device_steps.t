The device's steps failing: its configuration, the restore of a cached record, a reading. The
misbehaving device (tests/faulty_plugin.cpp) fails where its configuration names a fault, after
one host call of the step (Reset), so each step shows its events; the others return their
raw value.

  $ ln -s "$VELK_FAULTY_DIR"/velk_faulty_*.so .

A misspelt fault is refused by the device's configuration, so that it cannot pass for a run
without one:

  $ echo '{"reading 2": "sigsgev"}' >misspelt.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config misspelt.json 0 0
  {"call":"Reset"}
  velk-run: the configuration 'misspelt.json' failed: 'unknown fault "sigsgev" at "reading 2"'
  [1]

A configuration that throws, its message shown escaped, and one that the device refuses:

  $ echo '{"configure": "throw", "message": "bad \u001b settings"}' >throws.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config throws.json </dev/null
  {"call":"Reset"}
  velk-run: the configuration 'throws.json' failed: 'bad \x1b settings'
  [1]
  $ echo '{"configure": "refuse"}' >refuses.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config refuses.json </dev/null
  {"call":"Reset"}
  velk-run: the device refused the configuration 'refuses.json'
  [1]

A restore that throws, and one that the device refuses:

  $ echo '{"restore": "throw", "message": "cached record rejected"}' >restore_throws.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config restore_throws.json --restore ee0000000000a041ea070c08051e16 </dev/null
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the restore of record 'ee0000000000a041ea070c08051e16' failed: 'cached record rejected'
  [1]
  $ echo '{"restore": "refuse"}' >restore_refuses.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config restore_refuses.json --restore 110000000000a041ea070c08051e16 </dev/null
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the device refused the restore of record '110000000000a041ea070c08051e16'
  [1]

A reading that throws, named by its line of standard input, and one whose exception has no
message, named by its argument:

  $ echo '{"reading 2": "throw", "message": "reading 2 is out of order"}' >reading_throws.json
  $ printf '0\n7\n' | velk-run --plugin velk_faulty_misbehaving_device.so --config reading_throws.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the reading on line 2 of standard input failed: 'reading 2 is out of order'; the 1 reading before it was processed
  [1]
  $ echo '{"reading 1": "throw without a message"}' >speechless.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config speechless.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the reading of argument 1 failed: no message; no reading was processed
  [1]

Each signal of a crash, raised by the reading that follows a good one, ends velk-run by the
same signal after its line (the shell names the signal; no core is dumped):

  $ echo '{"reading 2": "sigsegv"}' >sigsegv.json
  $ printf '0\n0\n' | velk-run --plugin velk_faulty_misbehaving_device.so --config sigsegv.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the plug-in crashed (SIGSEGV) during the reading on line 2 of standard input; the 1 reading before it was processed
  Segmentation fault
  [139]
  $ echo '{"reading 2": "abort"}' >abort.json
  $ printf '0\n0\n' | velk-run --plugin velk_faulty_misbehaving_device.so --config abort.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the plug-in crashed (SIGABRT) during the reading on line 2 of standard input; the 1 reading before it was processed
  Aborted
  [134]
  $ echo '{"reading 2": "sigbus"}' >sigbus.json
  $ printf '0\n0\n' | velk-run --plugin velk_faulty_misbehaving_device.so --config sigbus.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the plug-in crashed (SIGBUS) during the reading on line 2 of standard input; the 1 reading before it was processed
  Bus error
  [135]
  $ echo '{"reading 2": "sigfpe"}' >sigfpe.json
  $ printf '0\n0\n' | velk-run --plugin velk_faulty_misbehaving_device.so --config sigfpe.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the plug-in crashed (SIGFPE) during the reading on line 2 of standard input; the 1 reading before it was processed
  Floating point exception
  [136]
  $ echo '{"reading 2": "sigill"}' >sigill.json
  $ printf '0\n0\n' | velk-run --plugin velk_faulty_misbehaving_device.so --config sigill.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the plug-in crashed (SIGILL) during the reading on line 2 of standard input; the 1 reading before it was processed
  Illegal instruction
  [132]
  $ echo '{"reading 2": "sigtrap"}' >sigtrap.json
  $ printf '0\n0\n' | velk-run --plugin velk_faulty_misbehaving_device.so --config sigtrap.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the plug-in crashed (SIGTRAP) during the reading on line 2 of standard input; the 1 reading before it was processed
  Trace/breakpoint trap
  [133]
  $ echo '{"reading 2": "sigsys"}' >sigsys.json
  $ printf '0\n0\n' | velk-run --plugin velk_faulty_misbehaving_device.so --config sigsys.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the plug-in crashed (SIGSYS) during the reading on line 2 of standard input; the 1 reading before it was processed
  Bad system call
  [159]

A signal ignored when velk-run started stays ignored: no crash, no failure.

  $ echo '{"reading 1": "sigtrap"}' >trap.json
  $ (trap '' TRAP; velk-run --plugin velk_faulty_misbehaving_device.so --config trap.json 0)
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}

What the plug-in wrote in the steps before a crash is out, in the order of its calls, however
it wrote it (printf and std::cout, neither flushed):

  $ echo '{"reading 1": "unflushed log then call the host", "reading 2": "sigsegv"}' >log_then_crash.json
  $ printf '0\n0\n' | velk-run --plugin velk_faulty_misbehaving_device.so --config log_then_crash.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  printf line
  cout line
  {"call":"CheckThreshold","key":"after","level":1,"name":"","value":0.0}
  {"call":"Reset"}
  velk-run: the plug-in crashed (SIGSEGV) during the reading on line 2 of standard input; the 1 reading before it was processed
  Segmentation fault
  [139]
