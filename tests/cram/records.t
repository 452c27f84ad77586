Records: 15 bytes (identifier, value, time) given as 30 hex digits, decoded by --decode or
restored into the device by --restore.

--decode writes the record's fields as one JSON object and loads nothing; upper-case digits
are taken, the record is written back in lower case:

  $ velk-run --decode 11000000CDCCA441EA070C08051E16
  {"data_id":17,"record":"11000000cdcca441ea070c08051e16","time":"2026-12-08 05:30:22","value":20.6000004}

Values have nine significant digits, ".0" only where they read as an integer, an exponent
as it comes; those that are not finite, which no JSON number holds, are strings:

  $ velk-run --decode 11000000f9021550ea070c08051e16
  {"data_id":17,"record":"11000000f9021550ea070c08051e16","time":"2026-12-08 05:30:22","value":1e+10}
  $ velk-run --decode 11000000acc52737ea070c08051e16
  {"data_id":17,"record":"11000000acc52737ea070c08051e16","time":"2026-12-08 05:30:22","value":9.99999975e-06}
  $ velk-run --decode 110000000000c07fea070c08051e16
  {"data_id":17,"record":"110000000000c07fea070c08051e16","time":"2026-12-08 05:30:22","value":"NaN"}
  $ velk-run --decode 110000000000807fea070c08051e16
  {"data_id":17,"record":"110000000000807fea070c08051e16","time":"2026-12-08 05:30:22","value":"Infinity"}
  $ velk-run --decode 11000000000080ffea070c08051e16
  {"data_id":17,"record":"11000000000080ffea070c08051e16","time":"2026-12-08 05:30:22","value":"-Infinity"}
  $ velk-run --decode 1100000000000000ea070c08051e16
  {"data_id":17,"record":"1100000000000000ea070c08051e16","time":"2026-12-08 05:30:22","value":0.0}

A record shorter than 15 bytes is a mistake on the command line:

  $ velk-run --decode 11000000
  velk-run: --decode '11000000' is not a record (15 bytes as 30 hex digits) (velk-run --help shows the usage)
  [2]

A decoded record that cannot be written fails the run:

  $ velk-run --decode 11000000cdcca441ea070c08051e16 >/dev/full
  velk-run: cannot write the decoded record: No space left on device
  [1]

The restore is the first round: the device sends the cached value (35.0, identifier 17)
stamped with the time of now, with no reading given:

  $ velk-run --restore 1100000000000c42ea070c08051e16 --events events </dev/null
  rvSize is 1
  $ sed -n 3p events
  {"call":"SendSP","data_id":17,"length":15,"publish":false,"record":"1100000000000c42[0-9a-f]{14}","sp_id":5529,"time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","value":35\.0} (re)

A cached value that no JSON number holds is the string "NaN", its bits kept in the record:

  $ velk-run --restore 110000000000c07fea070c09030506 --events events </dev/null
  rvSize is 1
  $ sed -n 3p events
  {"call":"SendSP","data_id":17,"length":15,"publish":false,"record":"110000000000c07f[0-9a-f]{14}","sp_id":5529,"time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","value":"NaN"} (re)
