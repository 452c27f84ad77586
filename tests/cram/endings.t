How the plug-in's process can end before its run is done, each told as it is, with status 1
(crashes: device_steps.t; signals sent from outside: the C++ tests, RunnerTest). The
misbehaving device ends its process where its configuration says.

  $ ln -s "$VELK_FAULTY_DIR"/velk_faulty_*.so .

exit() and quick_exit() in a reading:

  $ echo '{"reading 2": "exit"}' >exit.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config exit.json 0 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the plug-in's process exited with status 0 during the reading of argument 2; the 1 reading before it was processed
  [1]
  $ echo '{"reading 2": "quick_exit"}' >quick_exit.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config quick_exit.json 0 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk-run: the plug-in's process exited with status 0 during the reading of argument 2; the 1 reading before it was processed
  [1]

A library's message in the program's name (errx(), glibc's error()) names the plug-in's
file, not velk-run:

  $ echo '{"reading 2": "errx"}' >errx.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config errx.json 0 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk_faulty_misbehaving_device.so: the plug-in's own complaint
  velk-run: the plug-in's process exited with status 5 during the reading of argument 2; the 1 reading before it was processed
  [1]
  $ echo '{"reading 2": "error"}' >error.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config error.json 0 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
  velk_faulty_misbehaving_device.so: the plug-in's own error
  velk-run: the plug-in's process exited with status 6 during the reading of argument 2; the 1 reading before it was processed
  [1]

Between steps velk-run's own code runs, or a thread that the plug-in left: a crash or an
exit there is not the plug-in's step. Here a thread of the first reading ends the process
300 ms on, while velk-run waits for a second line that standard input holds back:

  $ echo '{"reading 1": "sigsegv from a thread later"}' >crash_later.json
  $ (echo 0; sleep 3) | velk-run --plugin velk_faulty_misbehaving_device.so --config crash_later.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the plug-in's process was killed by SIGSEGV between steps; the 1 reading before it was processed
  Segmentation fault
  [139]
  $ echo '{"reading 1": "exit from a thread later"}' >exit_later.json
  $ (echo 0; sleep 3) | velk-run --plugin velk_faulty_misbehaving_device.so --config exit_later.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the plug-in's process exited with status 0 between steps; the 1 reading before it was processed
  [1]

Only the worker marks its progress: a child that the plug-in forks and that goes on in
velk-run's code (as an exec that failed leaves it) runs the rest of the run, but its end is
not the run's; the worker's _exit(0) after it is told:

  $ echo '{"reading 1": "fork a child that returns, then _exit"}' >returns.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config returns.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the plug-in's process exited with status 0 during the reading of argument 1; no reading was processed
  [1]

A plug-in that writes over velk-run's progress page cannot make velk-run crash or say where it
was: velk-run says less.

  $ echo '{"reading 1": "write over the progress page, then sigsegv"}' >forge.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config forge.json 0 1000
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the plug-in's process was killed by SIGSEGV; where in its run cannot be told (its progress page was overwritten)
  Segmentation fault
  [139]

A run started with SIGCHLD ignored (which a child inherits, and which would take the worker's
end away unseen) waits for its worker all the same:

  $ timeout -k 5 30 env --ignore-signal=CHLD velk-run --clock '2026-12-09 03:05:06' 1000 2>/dev/null
  VelkTemperature process 1000
  rvSize is 1
