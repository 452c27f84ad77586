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
