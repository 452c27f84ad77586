velk-run's command line. A mistake in it ends the run with status 2 and one line that
points to the usage; nothing is loaded or run, so nothing else is written.

An unknown option:

  $ velk-run --frobnicate
  velk-run: unknown option '--frobnicate' (velk-run --help shows the usage)
  [2]

An option without its value, at the end of the line:

  $ velk-run --config
  velk-run: --config needs a value (velk-run --help shows the usage)
  [2]

A file named by the empty string, as the next argument or after '=':

  $ velk-run --config ''
  velk-run: --config needs a file, not '' (velk-run --help shows the usage)
  [2]
  $ velk-run --config=
  velk-run: --config needs a file, not '' (velk-run --help shows the usage)
  [2]
  $ velk-run --plugin ''
  velk-run: --plugin needs a file, not '' (velk-run --help shows the usage)
  [2]

An option given twice, whichever way each is written:

  $ velk-run --config a.json --config=b.json
  velk-run: --config is given twice (velk-run --help shows the usage)
  [2]

A flag given a value:

  $ velk-run --help=yes
  velk-run: --help takes no value (velk-run --help shows the usage)
  [2]

The data identifier is a number from 0 to 4294967295:

  $ velk-run --data-id -1
  velk-run: --data-id '-1' is not a number from 0 to 4294967295 (velk-run --help shows the usage)
  [2]
  $ velk-run --data-id 4294967296
  velk-run: --data-id '4294967296' is not a number from 0 to 4294967295 (velk-run --help shows the usage)
  [2]

The largest is taken whole, and a value after '=' as well; the settings stamp it into the
records the device sends:

  $ velk-run --data-id 4294967295 --events events 1000
  VelkTemperature process 1000
  rvSize is 1
  $ grep -c '"call":"Reset"' events
  1
  $ grep -o '"call":"SendSP","data_id":[0-9]*,' events
  "call":"SendSP","data_id":4294967295,
  $ velk-run --data-id=17 --events events 1000
  VelkTemperature process 1000
  rvSize is 1
  $ grep -c '"call":"Reset"' events
  1
  $ grep -o '{"call":"SendSP","data_id":[0-9]*,' events
  {"call":"SendSP","data_id":17,

--help, --version and --decode stand alone: anything beside them would be ignored.

  $ velk-run --decode 11000000cdcca441ea070c08051e16 1000
  velk-run: --decode takes no other arguments (velk-run --help shows the usage)
  [2]
  $ velk-run --help 1000
  velk-run: --help takes no other arguments (velk-run --help shows the usage)
  [2]
  $ velk-run --version --data-id 3
  velk-run: --version takes no other arguments (velk-run --help shows the usage)
  [2]

The usage, on standard output:

  $ velk-run -h
  usage: velk-run [OPTION...] [--] [READING...]
         velk-run test [OPTION...] SCENARIO...
         velk-run --decode HEX | --help | --version
  Loads the plug-in as the daemon does, in a worker process that velk-run watches, and drives
  one device: its configuration, a cached record if given, then raw readings (-32768 to 32767),
  those given or else one a line of standard input. The plug-in's log goes to standard output;
  each call it makes into the host, as a JSON line to standard error or the --events file.
    --plugin PATH       plug-in file to load (default: velk_temperature.so beside velk-run,
                        else the installed one,
                        ../lib/dran/plugins/velk_temperature.so from velk-run's directory)
    --data-id N         the device's data identifier, 0 to 4294967295 (default 0)
    --config FILE       the device's JSON configuration (default: an empty object); with -,
                        read from standard input, and the readings are the arguments
    --restore HEX       a cached 15-byte record as 30 hex digits, restored before the readings
    --events FILE       write the events to FILE (created or truncated), not to standard error
    --clock TIME        the local time 'YYYY-MM-DD HH:MM:SS' of the first round (default: now)
    --clock-step N      seconds the clock moves on before each later round (default 0)
    --decode HEX        print a 15-byte record given as 30 hex digits as JSON, load nothing
    -h, --help          print this and exit
    --version           print velk-run's version and exit
    --                  what follows is readings, even where it starts with '-'
  velk-run test runs each scenario file (a device's steps and what each must show) in a worker
  of its own and says PASS or FAIL for each, with every difference:
    --update            rewrite each scenario's expectations with what was seen
    --junit FILE        write a JUnit XML report to FILE as well
    --plugin PATH       the plug-in for every scenario, whatever the scenarios name
    --timeout SECONDS   kill a worker that says nothing for this long (default 30)
  An option's value may also follow it after '=' (--data-id=17); an option may be shortened
  where that names only one (--data=17).
  Exit status: 0 done, 1 a failure while running, 2 a mistake on the command line, 128 + N
  where signal N ended the plug-in's process, which then ends velk-run; velk-run test: 0 when
  every scenario passed, 1 when any failed, 2 a mistake on the command line.
  The whole reference: docs/velk-run.md in the sources, installed as
  share/doc/velk_temperature/velk-run.md.

The version is the project's, on standard output:

  $ velk-run --version >version && sed "s/ $VELK_VERSION\$/ (the project's version)/" version
  velk-run (the project's version)

After '--' every argument is a reading, even one that looks like an option:

  $ velk-run -- --frobnicate
  velk-run: reading '--frobnicate' (argument 1 of the readings) is not an integer from -32768 to 32767; no reading was processed (velk-run --help shows the usage)
  [2]

Reading arguments are all checked before any round runs: each is a whole decimal integer
from -32768 to 32767, nothing else.

  $ velk-run 1000 abc
  velk-run: reading 'abc' (argument 2 of the readings) is not an integer from -32768 to 32767; no reading was processed (velk-run --help shows the usage)
  [2]
  $ velk-run 1000 32768
  velk-run: reading '32768' (argument 2 of the readings) is not an integer from -32768 to 32767; no reading was processed (velk-run --help shows the usage)
  [2]
  $ velk-run 1000 -32769
  velk-run: reading '-32769' (argument 2 of the readings) is not an integer from -32768 to 32767; no reading was processed (velk-run --help shows the usage)
  [2]
  $ velk-run 1000 1.5
  velk-run: reading '1.5' (argument 2 of the readings) is not an integer from -32768 to 32767; no reading was processed (velk-run --help shows the usage)
  [2]
  $ velk-run 1000 0x10
  velk-run: reading '0x10' (argument 2 of the readings) is not an integer from -32768 to 32767; no reading was processed (velk-run --help shows the usage)
  [2]
  $ velk-run 1000 12abc
  velk-run: reading '12abc' (argument 2 of the readings) is not an integer from -32768 to 32767; no reading was processed (velk-run --help shows the usage)
  [2]
  $ velk-run 1000 ' '
  velk-run: reading ' ' (argument 2 of the readings) is not an integer from -32768 to 32767; no reading was processed (velk-run --help shows the usage)
  [2]

The bounds are readings, and so are a plus sign and minus zero:

  $ velk-run --events events 32767
  VelkTemperature process 32767
  rvSize is 1
  $ grep -c '"call":"Reset"' events
  1
  $ velk-run --events events -32768
  VelkTemperature process -32768
  rvSize is 1
  $ grep -c '"call":"Reset"' events
  1
  $ velk-run --events events +7
  VelkTemperature process 7
  rvSize is 1
  $ grep -c '"call":"Reset"' events
  1
  $ velk-run --events events -0
  VelkTemperature process 0
  rvSize is 1
  $ grep -c '"call":"Reset"' events
  1

A cached record to restore is 15 bytes as 30 hex digits:

  $ velk-run --restore '' 1000
  velk-run: --restore '' is not a record (15 bytes as 30 hex digits) (velk-run --help shows the usage)
  [2]
  $ velk-run --restore 1100 1000
  velk-run: --restore '1100' is not a record (15 bytes as 30 hex digits) (velk-run --help shows the usage)
  [2]
  $ velk-run --restore 1100000000000c42ea070c08051e1600 1000
  velk-run: --restore '1100000000000c42ea070c08051e1600' is not a record (15 bytes as 30 hex digits) (velk-run --help shows the usage)
  [2]
  $ velk-run --restore zz 1000
  velk-run: --restore 'zz' is not a record (15 bytes as 30 hex digits) (velk-run --help shows the usage)
  [2]

getopt_long reads the command line: an option may be shortened where that names only one,
an ambiguous one is named with what it could be, and "--=1000", which names none, is no
option (and no "--" either, which would take the reading):

  $ velk-run --data=3 --clock '2026-12-09 03:05:06' 1000 2>&1 >/dev/null | grep -c '"data_id":3,'
  2
  $ velk-run --c x 1000
  velk-run: ambiguous option '--c' (--config, --clock, --clock-step) (velk-run --help shows the usage)
  [2]
  $ velk-run --=1000
  velk-run: unknown option '--=1000' (velk-run --help shows the usage)
  [2]

A value with '=' in it is the value whole, after the first one; a reading of two signs is
none:

  $ echo '{"appSetting": {"b_mode": "2"}}' >a=b.json
  $ velk-run --config=a=b.json 1000 2>/dev/null
  InitSetting 0 b_mode_:2
  VelkTemperature process 1000
  rvSize is 1
  $ velk-run -- +-5
  velk-run: reading '+-5' (argument 1 of the readings) is not an integer from -32768 to 32767; no reading was processed (velk-run --help shows the usage)
  [2]

The configuration on standard input (--config -, as jq and coreutils read "-"); the readings
are the arguments then. A file of that name is ./-:

  $ echo '{"appSetting": {"b_mode": "2"}}' | velk-run --config - 1000 2>/dev/null
  InitSetting 0 b_mode_:2
  VelkTemperature process 1000
  rvSize is 1
  $ echo '{"appSetting": {"b_mode": "4"}}' >-
  $ velk-run --config ./- 1000 2>/dev/null
  InitSetting 0 b_mode_:4
  VelkTemperature process 1000
  rvSize is 1
