The fixed clock: --clock names the local time of the first round, --clock-step how far it
moves on before each later one. (cram runs every file with TZ=GMT.)

A time not of the form 'YYYY-MM-DD HH:MM:SS' is a mistake on the command line:

  $ velk-run --clock '2026-12-9 03:05:06' 1000
  velk-run: --clock '2026-12-9 03:05:06' is not a local time 'YYYY-MM-DD HH:MM:SS' of the time zone in effect (velk-run --help shows the usage)
  [2]

So is a local time that the zone skips, the hour of the change to summer time:

  $ TZ=CET-1CEST,M3.5.0,M10.5.0/3 velk-run --clock '2026-03-29 02:30:00' 1000
  velk-run: --clock '2026-03-29 02:30:00' is not a local time 'YYYY-MM-DD HH:MM:SS' of the time zone in effect (velk-run --help shows the usage)
  [2]

The step is a whole number of seconds, and needs a clock to move:

  $ velk-run --clock '2026-12-09 03:05:06' --clock-step=1.5 1000
  velk-run: --clock-step '1.5' is not a whole number of seconds from 0 to 2147483647 (velk-run --help shows the usage)
  [2]
  $ velk-run --clock-step 5 1000
  velk-run: --clock-step needs --clock (velk-run --help shows the usage)
  [2]

The restore is the first round; each later round is a step on. The local time the clock
names is the same under any time zone, and so are the bytes of the log and the events:

  $ TZ=UTC0 velk-run --data-id 17 --clock '2026-12-09 03:05:06' --clock-step 61 --restore 1100000000000c42ea070c08051e16 1000 1500 >utc.log 2>utc.events
  $ TZ=VLK-9 velk-run --data-id 17 --clock '2026-12-09 03:05:06' --clock-step 61 --restore 1100000000000c42ea070c08051e16 1000 1500 >vlk.log 2>vlk.events
  $ TZ=CET-1CEST,M3.5.0,M10.5.0/3 velk-run --data-id 17 --clock '2026-12-09 03:05:06' --clock-step 61 --restore 1100000000000c42ea070c08051e16 1000 1500 >cet.log 2>cet.events
  $ grep -o '"call":"get_ttime","time":"[^"]*"' utc.events
  "call":"get_ttime","time":"2026-12-09 03:05:06"
  "call":"get_ttime","time":"2026-12-09 03:06:07"
  "call":"get_ttime","time":"2026-12-09 03:07:08"
  $ grep -o '"record":"110000000000a041ea070c09030607"' utc.events
  "record":"110000000000a041ea070c09030607"
  "record":"110000000000a041ea070c09030607"
  $ cat utc.log
  rvSize is 1
  VelkTemperature process 1000
  rvSize is 1
  VelkTemperature process 1500
  rvSize is 1
  $ cmp utc.log vlk.log && cmp utc.log cet.log
  $ cmp utc.events vlk.events && cmp utc.events cet.events

Text after the time, and a leap second, which Boost's ptime (and so the plug-in's clock) takes
for the second after it, under a zone that has leap seconds:

  $ velk-run --clock '2026-12-09 03:05:06x' 1000
  velk-run: --clock '2026-12-09 03:05:06x' is not a local time 'YYYY-MM-DD HH:MM:SS' of the time zone in effect (velk-run --help shows the usage)
  [2]
  $ TZ=right/UTC velk-run --clock '2016-12-31 23:59:60' 1000
  velk-run: --clock '2016-12-31 23:59:60' is a leap second, which the plug-in's clock takes for the second after it (velk-run --help shows the usage)
  [2]

A clock given alone stands still, also under summer time, where the records hold the local
time given:

  $ TZ=CET-1CEST,M3.5.0,M10.5.0/3 velk-run --clock '2026-07-01 12:00:00' 1000 1500 2>&1 >/dev/null | grep -o '"call":"get_ttime","time":"[^"]*"'
  "call":"get_ttime","time":"2026-07-01 12:00:00"
  "call":"get_ttime","time":"2026-07-01 12:00:00"

Without --clock, the rounds read the machine's clock: the time a record holds is now, to a
few seconds:

  $ now=$(date +%s)
  $ time=$(velk-run 1000 2>&1 >/dev/null | sed -n 's/.*"call":"get_ttime","time":"\([^"]*\)".*/\1/p')
  $ test $(( $(date -d "$time" +%s) - now )) -ge -1 -a $(( $(date -d "$time" +%s) - now )) -le 5 && echo near now
  near now
