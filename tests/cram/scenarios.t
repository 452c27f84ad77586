velk-run test: each scenario file run in a worker of its own and checked, PASS or FAIL for
each with every difference under it, then the counts; status 0 when all pass, 1 when any fails.
The scenarios are in tests/scenarios/; the faulty plug-ins are here, beside the copies that
name them.

  $ cp "$VELK_SCENARIOS"/*.json "$VELK_EXAMPLES"/scenarios/clamping.json .
  $ ln -s "$VELK_FAULTY_DIR"/velk_faulty_*.so .

Each kind of difference, a step each, named with both values: a value that is another float
(20.06 is not what 1001 gives), a flag, need_report, a log line, an event's member, an event
missing and one extra (shown whole), and answers left unused:

  $ velk-run test differences.json
  FAIL differences.json
    step 1, reading 1001: value: expected 20.06, seen 20.0600014
    step 2, reading 1001: changed: expected true, seen false
    step 3, reading 1001: need_report: expected false, seen true
    step 4, reading 1000: log line 2: expected 'rvSize is 2', seen 'rvSize is 3'
    step 5, reading 1000: event 2 SendSP.data_id: expected 1, seen 0
    step 6, reading 1000: missing event 5: {"call":"CheckAOReport","key":"t1"}
    step 7, reading 1000: extra event 4: {"call":"CheckThreshold","key":"value","level":1,"name":"\xe6\xb8\xa9\xe5\xba\xa6","value":20.0} (esc)
    end: host.DoBatchCheckThreshold has 1 answer left unused, of 8
  0 passed, 1 failed
  [1]

A call past the end of the host's list of answers:

  $ velk-run test past_the_answers.json
  FAIL past_the_answers.json
    step 1, reading 1000: event 7 CheckAOReport: a call past the end of host.CheckAOReport, a list of 1 answer
  0 passed, 1 failed
  [1]

A tolerance makes a near number match, and no more:

  $ velk-run test tolerance.json
  FAIL tolerance.json
    step 2, reading 1001: value: expected 20.1, seen 20.0600014
  0 passed, 1 failed
  [1]

A file that is not a valid scenario, or not JSON, fails with one line that names the file and
the member, or the parser's message and position; the others still run:

  $ velk-run test misspelt.json clamping.json not_json.json
  FAIL misspelt.json
    scenario 'misspelt.json': unknown member 'valeu' in step 1 expect
  PASS clamping.json
  FAIL not_json.json
    scenario 'not_json.json': not JSON: Missing a comma or ']' after an array element. (line 4, column 5)
  1 passed, 2 failed
  [1]

A run that crashes fails its scenario, unless the scenario expects it: the steps it did not
reach, what the step it crashed in showed, and velk-run's lines:

  $ velk-run test crash.json crash_expected.json
  FAIL crash.json
    step 2, reading 0: value: expected 0.0, seen nothing (the step did not end)
    step 3, reading 0: not reached
    end: expected status 0, seen 139
    end: velk-run: the plug-in crashed (SIGSEGV) during step 2, reading 0; the 1 reading before it was processed
  PASS crash_expected.json
  1 passed, 1 failed
  [1]

A worker that says nothing for --timeout seconds is killed, and its scenario fails:

  $ velk-run test --timeout 1 hang.json
  FAIL hang.json
    end: expected status 0, seen 1
    end: velk-run: the plug-in's process said nothing for 1 second, and velk-run killed it during step 1, reading 0; no reading was processed
  0 passed, 1 failed
  [1]

--plugin wins over what a scenario names:

  $ velk-run test elsewhere.json
  FAIL elsewhere.json
    step 1, reading 1000: not reached
    end: expected status 0, seen 1
    end: velk-run: cannot load plug-in './no-such-plugin.so': No such file or directory
  0 passed, 1 failed
  [1]
  $ velk-run test --plugin "$VELK_PLUGIN" elsewhere.json
  PASS elsewhere.json
  1 passed, 0 failed

--update writes what was seen into the expectations: all of them where a step names none, the
ones it names where it does; then the scenario passes, and another --update changes nothing:

  $ velk-run test --update to_fill.json
  UPDATED to_fill.json
  0 passed, 0 failed, 1 updated
  $ cat to_fill.json
  {
    "note": "Steps without expectations, for --update to fill; the second names what it checks.",
    "data_id": 7,
    "host": {
      "ao_keys": ["door"],
      "ao_values": {"door": 1.0},
      "CheckAOReport": [true, false]
    },
    "steps": [
      {
        "reading": 1500,
        "expect": {
          "value": 50.0,
          "changed": true,
          "need_report": true,
          "log": ["VelkTemperature process 1500", "rvSize is 2"],
          "events": [
            {"call": "get_ttime", "time": "2026-01-01 00:00:00"},
            {"call": "SendSP", "data_id": 7, "length": 15, "publish": false, "record": "0700000000004842ea070101000000", "sp_id": 5529, "time": "2026-01-01 00:00:00", "value": 50.0},
            {"call": "Reset"},
            {"call": "CheckThreshold", "key": "value", "level": 1, "name": "\xe6\xb8\xa9\xe5\xba\xa6", "value": 50.0}, (esc)
            {"call": "CheckAOReport", "key": "door", "result": true, "value": 1.0},
            {"call": "CheckThreshold", "key": "door", "level": 1, "name": "", "value": 1.0},
            {"call": "DoBatchCheckThreshold", "result": false, "rules": ["value", "door"]},
            {"call": "SaveDeviceHistory", "data_id": 7, "length": 15, "record": "0700000000004842ea070101000000", "time": "2026-01-01 00:00:00", "value": 50.0}
          ]
        }
      },
      {
        "reading": 2001,
        "expect": {
          "value": 80.0,
          "events": [
            {"call": "get_ttime", "time": "2026-01-01 00:00:00"},
            {"call": "SendSP", "value": 80.0},
            {"call": "Reset"},
            {"call": "CheckThreshold", "key": "value", "level": 1, "name": "\xe6\xb8\xa9\xe5\xba\xa6", "value": 80.0}, (esc)
            {"call": "CheckAOReport", "key": "door", "result": false, "value": 1.0},
            {"call": "CheckThreshold", "key": "door"},
            {"call": "DoBatchCheckThreshold", "result": false, "rules": ["value", "door"]},
            {"call": "SaveDeviceHistory", "data_id": 7, "length": 15, "record": "070000000000a042ea070101000000", "time": "2026-01-01 00:00:00", "value": 80.0}
          ]
        }
      }
    ]
  }
  $ velk-run test to_fill.json
  PASS to_fill.json
  1 passed, 0 failed
  $ velk-run test --update to_fill.json
  PASS to_fill.json
  1 passed, 0 failed, 0 updated

A JUnit report for CI, one testcase a scenario:

  $ velk-run test --junit report.xml tolerance.json clamping.json >/dev/null
  [1]
  $ sed 's/time="[0-9.]*"/time="..."/g' report.xml
  <?xml version="1.0" encoding="UTF-8"?>
  <testsuites tests="2" failures="1" errors="0" skipped="0" time="...">
    <testsuite name="velk-run test" tests="2" failures="1" errors="0" skipped="0" time="...">
      <testcase name="tolerance.json" classname="velk-run test" time="...">
        <failure message="1 difference" type="difference">step 2, reading 1001: value: expected 20.1, seen 20.0600014
  </failure>
      </testcase>
      <testcase name="clamping.json" classname="velk-run test" time="..."/>
    </testsuite>
  </testsuites>

Mistakes on the command line:

  $ velk-run test
  velk-run: velk-run test needs a scenario file (velk-run --help shows the usage)
  [2]
  $ velk-run test --timeout 0 hang.json
  velk-run: --timeout '0' is not a whole number of seconds from 1 to 86400 (velk-run --help shows the usage)
  [2]
  $ velk-run test --frobnicate hang.json
  velk-run: unknown option '--frobnicate' (velk-run --help shows the usage)
  [2]
