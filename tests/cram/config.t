The device's configuration, --config FILE: read whole and parsed as JSON before the plug-in
is loaded. A file that cannot be had fails the run with status 1.

Not JSON, with the parser's own position and message:

  $ printf '{\n  "appSetting": {"b_mode": 3 "x"}\n}\n' >broken.json
  $ velk-run --config broken.json 1000
  velk-run: config 'broken.json' is not valid JSON: Line 2, Column 30: Missing ',' or '}' in object declaration
  [1]

Missing, or named to forge a line of velk-run's own on a terminal: the name is shown escaped:

  $ velk-run --config /nonexistent/velk.json 1000
  velk-run: cannot read config '/nonexistent/velk.json': No such file or directory
  [1]
  $ velk-run --config "$(printf '/nonexistent/\033[31m\nvelk-run: forged')" 1000
  velk-run: cannot read config '/nonexistent/\x1b[31m\x0avelk-run: forged': No such file or directory
  [1]

Two values, or anything after the value, is not one configuration; nor is text after a NUL
byte, where a parser of C strings would stop:

  $ printf '{"appSetting": {"b_mode": 3}}\n{"appSetting": {}}\n' >two_values.json
  $ velk-run --config two_values.json 1000
  velk-run: config 'two_values.json' is not valid JSON: Line 2, Column 1: Extra non-whitespace after JSON value.
  [1]
  $ printf '{}\n\000{"appSetting": 3}' >after_nul.json
  $ velk-run --config after_nul.json 1000
  velk-run: config 'after_nul.json' is not valid JSON: Line 2, Column 1: a NUL byte
  [1]

A directory:

  $ mkdir settings.d
  $ velk-run --config settings.d 1000
  velk-run: cannot read config 'settings.d': Is a directory
  [1]

A file is at most 16 MiB, refused before it is read whole: an endless one, and one a byte
past the limit; the limit itself is taken.

  $ velk-run --config /dev/zero 1000
  velk-run: config '/dev/zero' is larger than 16777216 bytes, the limit
  [1]
  $ (printf '{"x":"'; head -c 16777208 /dev/zero | tr '\000' a; printf '"}') >16MiB.json
  $ velk-run --config 16MiB.json --events events 1000
  VelkTemperature process 1000
  rvSize is 1
  $ grep -c '"call":"Reset"' events
  1
  $ (printf '{"x":"'; head -c 16777209 /dev/zero | tr '\000' a; printf '"}') >16MiB_and_a_byte.json
  $ velk-run --config 16MiB_and_a_byte.json 1000
  velk-run: config '16MiB_and_a_byte.json' is larger than 16777216 bytes, the limit
  [1]
