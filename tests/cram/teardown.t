The end of a run: the device destroyed, the plug-in unloaded, the process's exit. Each is a
step like the others, told when it fails; the first failure comes first.

  $ ln -s "$VELK_FAULTY_DIR"/velk_faulty_*.so .

A crash in the device's destructor:

  $ echo '{"destruction": "sigsegv"}' >destruction_crash.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config destruction_crash.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the plug-in crashed (SIGSEGV) during the destruction of its device
  Segmentation fault
  [139]

After a reading failed, both are told, in that order; the signal ends velk-run:

  $ echo '{"reading 2": "throw", "message": "reading 2 is out of order", "destruction": "sigsegv"}' >throw_then_crash.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config throw_then_crash.json 0 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the reading of argument 2 failed: 'reading 2 is out of order'; the 1 reading before it was processed
  velk-run: the plug-in crashed (SIGSEGV) during the destruction of its device
  Segmentation fault
  [139]

The destructor's log is checked like any step's, and its calls to the host are events:

  $ echo '{"destruction": "log"}' >destruction_log.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config destruction_log.json 0 >/dev/full
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: cannot write the plug-in's log to standard output
  [1]
  $ echo '{"destruction": "call the host"}' >destruction_call.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config destruction_call.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}

A crash in the library's static destructors: at its unloading under glibc; musl's dlclose
unloads nothing, so there they run at the process's exit:

  $ echo '{"unloading": "sigsegv"}' >unloading_crash.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config unloading_crash.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the plug-in crashed \(SIGSEGV\) (during the unloading of '\./velk_faulty_misbehaving_device\.so'|during its static destructors at exit) (re)
  Segmentation fault
  [139]

A library that dlclose cannot unload anywhere (one that exports a symbol of STB_GNU_UNIQUE
binding) runs its static destructors at exit:

  $ velk-run --plugin velk_faulty_unique.so --config unloading_crash.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the plug-in crashed (SIGSEGV) during its static destructors at exit
  Segmentation fault
  [139]

An exit(0) there changes nothing: the process was ending with status 0 already.

  $ echo '{"unloading": "exit"}' >unloading_exit.json
  $ velk-run --plugin velk_faulty_unique.so --config unloading_exit.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}

An exit with a status of its own there is told: the status the process ends with is what a
script sees.

  $ echo '{"unloading": "exit 3"}' >unloading_exit_3.json
  $ velk-run --plugin velk_faulty_unique.so --config unloading_exit_3.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the plug-in's process exited with status 3 during its static destructors at exit
  [1]

What its destructor function writes after everything else at exit is checked too:

  $ echo '{"finalizing": "print"}' >finalizing_print.json
  $ velk-run --plugin velk_faulty_unique.so --config finalizing_print.json 0 >/dev/full
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: cannot write the plug-in's log to standard output
  [1]
