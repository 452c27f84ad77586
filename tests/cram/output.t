What a run writes: the plug-in's log on standard output, flushed before every event, and one
event a line for every call into the host, on standard error or in the --events file.

  $ ln -s "$VELK_FAULTY_DIR"/velk_faulty_*.so .

The shipped example: the log as the plug-in writes it, and the events in the documented form
(members in byte-wise order, no blanks, floats with nine significant digits and ".0", the
rule name's UTF-8 as it is), each after the log written before its call. Every reading is
sent and saved once, its record stamped with the identifier and the time of now:

  $ velk-run --data-id 17 --config "$VELK_EXAMPLES/temperature.json" 1000 2001 -5
  InitSetting 17 b_mode_:3
  here 1
  here 2
  here humidity
  17 ID is missing
  mobile:humidity:0401002;;2; level:0 value:0
  here value
  mobile:value:0401001;1;1; level:0 value:0
  {"call":"InitSetting","result":true}
  VelkTemperature process 1000
  {"call":"get_ttime","time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d"} (re)
  {"call":"SendSP","data_id":17,"length":15,"publish":false,"record":"110000000000a041[0-9a-f]{14}","sp_id":5529,"time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","value":20\.0} (re)
  {"call":"Reset"}
  {"call":"CheckThreshold","key":"value","level":1,"name":"\xe6\xb8\xa9\xe5\xba\xa6","value":20.0} (esc)
  rvSize is 1
  {"call":"DoBatchCheckThreshold","result":false,"rules":["value"]}
  {"call":"SaveDeviceHistory","data_id":17,"length":15,"record":"110000000000a041[0-9a-f]{14}","time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","value":20\.0} (re)
  VelkTemperature process 2001
  {"call":"get_ttime","time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d"} (re)
  {"call":"SendSP","data_id":17,"length":15,"publish":false,"record":"110000000000a042[0-9a-f]{14}","sp_id":5529,"time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","value":80\.0} (re)
  {"call":"Reset"}
  {"call":"CheckThreshold","key":"value","level":1,"name":"\xe6\xb8\xa9\xe5\xba\xa6","value":80.0} (esc)
  rvSize is 1
  {"call":"DoBatchCheckThreshold","result":false,"rules":["value"]}
  {"call":"SaveDeviceHistory","data_id":17,"length":15,"record":"110000000000a042[0-9a-f]{14}","time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","value":80\.0} (re)
  VelkTemperature process -5
  {"call":"get_ttime","time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d"} (re)
  {"call":"SendSP","data_id":17,"length":15,"publish":false,"record":"11000000000020c2[0-9a-f]{14}","sp_id":5529,"time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","value":-40\.0} (re)
  {"call":"Reset"}
  {"call":"CheckThreshold","key":"value","level":1,"name":"\xe6\xb8\xa9\xe5\xba\xa6","value":-40.0} (esc)
  rvSize is 1
  {"call":"DoBatchCheckThreshold","result":false,"rules":["value"]}
  {"call":"SaveDeviceHistory","data_id":17,"length":15,"record":"11000000000020c2[0-9a-f]{14}","time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","value":-40\.0} (re)

With standard output and standard error one file, the lines are in the order of the calls,
whatever the plug-in left unflushed:

  $ echo '{"reading 1": "unflushed log then call the host"}' >unflushed.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config unflushed.json 0 >one_file 2>&1
  $ cat one_file
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  printf line
  cout line
  {"call":"CheckThreshold","key":"after","level":1,"name":"","value":0.0}

The --events file holds the events alone; what the plug-in writes on standard error itself
(here a warning without its line's end) stays there:

  $ echo '{"reading 1": "warning without a newline"}' >warning.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config warning.json --events events 0 0
  warning:  (no-eol)
  $ cat events
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"CheckThreshold","key":"after","level":1,"name":"","value":0.0}
  {"call":"Reset"}

An events file that cannot be made fails the run before anything is loaded:

  $ velk-run --events /nonexistent/events.jsonl 1000
  velk-run: cannot open the events file '/nonexistent/events.jsonl': No such file or directory
  [1]

Strings that are no UTF-8 (here the key and the name of a rule) are repaired, each byte that
starts no well-formed sequence one U+FFFD, so that every line is valid UTF-8:

  $ echo '{"reading 1": "bad utf-8 to the host"}' >bad_utf8.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config bad_utf8.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"CheckThreshold","key":"bad\xef\xbf\xbd\xef\xbf\xbd(","level":1,"name":"\xef\xbf\xbd\xef\xbf\xbd","value":0.0} (esc)

A child that the plug-in forks, which calls the host and exits, writes nothing:

  $ echo '{"reading 1": "fork a child that calls the host"}' >fork.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config fork.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}

Output that cannot be written fails the run. The log, to a full disk: the run stops at the
first round whose log is lost:

  $ printf '1000\n1500\n' | velk-run --events events >/dev/full
  velk-run: cannot write the plug-in's log to standard output; stopped after 1 reading
  [1]
  $ grep -c '"call":"Reset"' events
  1

A step that fails and loses its log as well: both are told, the step's failure first:

  $ echo '{"reading 1": "log then throw", "message": "reading 1 fails after its log"}' >log_then_throw.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config log_then_throw.json 0 >/dev/full
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: the reading of argument 1 failed: 'reading 1 fails after its log'; no reading was processed
  velk-run: cannot write the plug-in's log to standard output; stopped after 1 reading
  [1]

The usage, to a full disk:

  $ velk-run --help >/dev/full
  velk-run: cannot write the usage: No space left on device
  [1]

The events, to a full disk, or with standard error closed (which is then no file that the
plug-in may open): the status alone tells, as standard error is what failed.

  $ printf '1000\n1500\n' | velk-run 2>/dev/full
  [1]
  $ velk-run --plugin velk_faulty_misbehaving_device.so 0 2>&-
  [1]

--events naming the file that standard output is already (/dev/stdout, or the file that >
named) writes through that descriptor: the log and the events share one offset, in the
order of the calls, and what the shell appended to is kept:

  $ echo 'an earlier line' >both.txt
  $ velk-run --clock '2026-12-09 03:05:06' --events /dev/stdout 1000 >>both.txt
  $ cat both.txt
  an earlier line
  {"call":"InitSetting","result":true}
  VelkTemperature process 1000
  {"call":"get_ttime","time":"2026-12-09 03:05:06"}
  {"call":"SendSP","data_id":0,"length":15,"publish":false,"record":"000000000000a041ea070c09030506","sp_id":5529,"time":"2026-12-09 03:05:06","value":20.0}
  {"call":"Reset"}
  {"call":"CheckThreshold","key":"value","level":1,"name":"\xe6\xb8\xa9\xe5\xba\xa6","value":20.0} (esc)
  rvSize is 1
  {"call":"DoBatchCheckThreshold","result":false,"rules":["value"]}
  {"call":"SaveDeviceHistory","data_id":0,"length":15,"record":"000000000000a041ea070c09030506","time":"2026-12-09 03:05:06","value":20.0}

An events file that held a longer text before holds the events alone:

  $ head -c 5000 /dev/zero | tr '\0' x >events.jsonl
  $ velk-run --clock '2026-12-09 03:05:06' --events events.jsonl 1000 >/dev/null
  $ wc -l <events.jsonl
  7
  $ grep -q x events.jsonl || echo no x left
  no x left

A file the plug-in writes with fprintf() and never closes has its line once the run ends:

  $ echo '{"reading 1": "write a file of its own"}' >own.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config own.json 0 2>/dev/null
  $ cat own.log
  its own line

A plug-in that flushes its own log to a full disk, and reads nothing of the result, does not
hide the loss:

  $ echo '{"reading 1": "log and flush it itself"}' >flush.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config flush.json 0 >/dev/full
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  velk-run: cannot write the plug-in's log to standard output; stopped after 1 reading
  [1]

A child made with _Fork(), which runs no fork handler, writes no events either:

  $ echo '{"reading 1": "_Fork a child that calls the host"}' >underscore_fork.json
  $ velk-run --plugin velk_faulty_misbehaving_device.so --config underscore_fork.json 0
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
