Readings on standard input, one a line, when none are given as arguments. The events go to
a file here, whose Reset events count the rounds: one a reading.

Blank lines and comments are skipped, blanks around a reading allowed; without --config the
device still gets a configuration, which stamps the identifier into every record:

  $ printf '# counts\n1000\n\n  1500  \n' | velk-run --data-id 5 --events events
  VelkTemperature process 1000
  rvSize is 1
  VelkTemperature process 1500
  rvSize is 1
  $ grep -c '"call":"SaveDeviceHistory"' events
  2
  $ grep -o '"data_id":[0-9]*' events | sort -u
  "data_id":5

A line that is no reading stops the run; the readings before it had their rounds:

  $ printf '1000\n# fine\n1500\nwarm\n2000\n' | velk-run --events events
  VelkTemperature process 1000
  rvSize is 1
  VelkTemperature process 1500
  rvSize is 1
  velk-run: line 4 of standard input: 'warm' is not a reading (an integer from -32768 to 32767); the 2 readings before it were processed
  [1]
  $ grep -c '"call":"Reset"' events
  2

A line is shown escaped: a NUL byte, the DEL byte, a terminal's escape sequence, each byte
as \xNN; and cut after 40 bytes:

  $ printf '5\000garbage\n2000\n' | velk-run --events events
  velk-run: line 1 of standard input: '5\x00garbage' is not a reading (an integer from -32768 to 32767); no reading was processed
  [1]
  $ cat events
  {"call":"InitSetting","result":true}
  $ printf '1\177\n' | velk-run
  {"call":"InitSetting","result":true}
  velk-run: line 1 of standard input: '1\x7f' is not a reading (an integer from -32768 to 32767); no reading was processed
  [1]
  $ printf '1000\n\033[2Jxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n2000\n' | velk-run --events events
  VelkTemperature process 1000
  rvSize is 1
  velk-run: line 2 of standard input: '\x1b[2Jxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...' (64 bytes) is not a reading (an integer from -32768 to 32767); the 1 reading before it was processed
  [1]

A line of 40 bytes, the most shown, is shown whole, with no mark of a cut:

  $ printf 'y%.0s' $(seq 40) | velk-run --events events
  velk-run: line 1 of standard input: 'yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy' is not a reading (an integer from -32768 to 32767); no reading was processed
  [1]
  $ grep -c '"call":"Reset"' events
  0
  [1]

A reading is an integer from -32768 to 32767:

  $ printf '32767\n-32768\n' | velk-run --events events
  VelkTemperature process 32767
  rvSize is 1
  VelkTemperature process -32768
  rvSize is 1
  $ grep -c '"call":"Reset"' events
  2
  $ echo 32768 | velk-run
  {"call":"InitSetting","result":true}
  velk-run: line 1 of standard input: '32768' is not a reading (an integer from -32768 to 32767); no reading was processed
  [1]
  $ echo -32769 | velk-run
  {"call":"InitSetting","result":true}
  velk-run: line 1 of standard input: '-32769' is not a reading (an integer from -32768 to 32767); no reading was processed
  [1]

The last line needs no newline:

  $ printf '1000\n1500' | velk-run --events events
  VelkTemperature process 1000
  rvSize is 1
  VelkTemperature process 1500
  rvSize is 1
  $ grep -c '"call":"Reset"' events
  2

A line of 4096 bytes, the limit, is read; one longer is refused before it is whole:

  $ printf '1000%4092s\n' '' | velk-run --events events
  VelkTemperature process 1000
  rvSize is 1
  $ grep -c '"call":"Reset"' events
  1
  $ printf '1000\n1000%4093s\n2000\n' '' | velk-run --events events
  VelkTemperature process 1000
  rvSize is 1
  velk-run: line 2 of standard input is longer than 4096 bytes, the limit; the 1 reading before it was processed
  [1]
  $ grep -c '"call":"Reset"' events
  1

Standard input that cannot be read is told from its end: non-blocking with nothing to read
yet (a pipe whose writing end stays open), a directory, closed:

  $ python3 -c '
  > import os
  > read_end, write_end = os.pipe()
  > os.write(write_end, b"1000\n")
  > os.set_blocking(read_end, False)
  > os.dup2(read_end, 0)
  > os.set_inheritable(write_end, True)
  > os.execlp("velk-run", "velk-run", "--events", "events")
  > '
  VelkTemperature process 1000
  rvSize is 1
  velk-run: cannot read line 2 of standard input: Resource temporarily unavailable; the 1 reading before it was processed
  [1]
  $ grep -c '"call":"Reset"' events
  1
  $ velk-run --events events </
  velk-run: cannot read line 1 of standard input: Is a directory; no reading was processed
  [1]
  $ cat events
  {"call":"InitSetting","result":true}
  $ velk-run --events events <&-
  velk-run: cannot read line 1 of standard input: Bad file descriptor; no reading was processed
  [1]
  $ cat events
  {"call":"InitSetting","result":true}

A signal that the plug-in leaves behind (one every 10 ms, from the first reading on)
interrupts the reads of standard input, which are tried again until the next line comes:

  $ ln -s "$VELK_FAULTY_DIR/velk_faulty_misbehaving_device.so" .
  $ echo '{"reading 1": "interrupt reads"}' >interrupt.json
  $ (echo 1; sleep 1; echo 0) | velk-run --plugin velk_faulty_misbehaving_device.so --config interrupt.json
  {"call":"Reset"}
  {"call":"InitSetting","result":true}
  {"call":"Reset"}
  {"call":"Reset"}
