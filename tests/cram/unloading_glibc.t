Under glibc, dlclose unloads a plug-in that exports no symbol of STB_GNU_UNIQUE binding, so an
exit in its static destructors ends the process while the run is still going: a failure.
musl unloads nothing, and there the exit comes at the process's end, where it changes nothing
(teardown.t): this file is skipped.

  $ test "$VELK_LIBC" = glibc || exit 80
  $ ln -s "$VELK_FAULTY_DIR/velk_faulty_misbehaving_device.so" .
  $ echo '{"unloading": "exit"}' >unloading_exit.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config unloading_exit.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the plug-in's process exited with status 0 during the unloading of './velk_faulty_misbehaving_device.so'
  [1]
