// How velk-run tells the worker's end, without a process: its status as waitpid gives it (on
// Linux, an exit status in the second byte, or the signal with 0x80 for a core) and its progress
// page, classified, then worded as the line a person reads.
#include <signal.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "host_standin/own_process.h"
#include "runner/ending.h"

namespace {

using velk_run::Ending;
using velk_run::Progress;

int Exited(int code) { return code << 8; }
int Killed(int signal, bool core = false) { return signal | (core ? 0x80 : 0); }

// Only the process that marked itself writes a progress page.
Progress::Seen Page(bool in_step, const std::string& where, int finished = -1) {
  standin::MarkOwnProcess();
  Progress progress;
  progress.Say(in_step, where);
  if (finished >= 0) progress.Finish(finished);
  return progress.Read();
}

TEST(EndingTest, EachEndIsToldAsWhatItIs) {
  const Progress::Seen reading = Page(true, "during step 2, reading 1");
  const Progress::Seen between = Page(false, "between steps");
  const Progress::Seen at_exit = Page(true, "during its static destructors at exit", 0);
  struct Row {
    int status;
    Progress::Seen page;
    int sent;
    int silent;
    int run_status;
    std::string line;
  } rows[] = {
      {Exited(0), at_exit, 0, 0, 0, ""},
      {Exited(1), Page(false, "after the plug-in was unloaded", 1), 0, 0, 1, ""},
      // An exit with a status of its own at the process's end is not the run's.
      {Exited(3), at_exit, 0, 0, 1,
       "the plug-in's process exited with status 3 during its static destructors at exit"},
      {Exited(0), reading, 0, 0, 1,
       "the plug-in's process exited with status 0 during step 2, reading 1"},
      {Killed(SIGSEGV), reading, 0, 0, 128 + SIGSEGV,
       "the plug-in crashed (SIGSEGV) during step 2, reading 1"},
      {Killed(SIGBUS, true), reading, 0, 0, 128 + SIGBUS,
       "the plug-in crashed (SIGBUS, core dumped) during step 2, reading 1"},
      {Killed(SIGSEGV), between, 0, 0, 128 + SIGSEGV,
       "the plug-in's process was killed by SIGSEGV between steps"},
      {Killed(SIGUSR1), reading, 0, 0, 128 + SIGUSR1,
       "the plug-in's process was killed by SIGUSR1 during step 2, reading 1"},
      {Killed(SIGRTMIN + 1), reading, 0, 0, 128 + SIGRTMIN + 1,
       "the plug-in's process was killed by signal " + std::to_string(SIGRTMIN + 1) +
           " during step 2, reading 1"},
      {Killed(SIGTERM), reading, SIGTERM, 0, 128 + SIGTERM,
       "SIGTERM, sent to velk-run and passed on, ended the plug-in's process during step 2, "
       "reading 1"},
      {Killed(SIGKILL), reading, 0, 0, 128 + SIGKILL,
       "the plug-in's process was killed by SIGKILL (from outside, or by the kernel when memory "
       "ran out) during step 2, reading 1"},
      {Killed(SIGKILL), reading, 0, 30, 1,
       "the plug-in's process said nothing for 30 seconds, and velk-run killed it during step 2, "
       "reading 1"},
  };
  for (const Row& row : rows) {
    const Ending ending = velk_run::Classify(row.status, row.page, row.sent, row.silent);
    EXPECT_EQ(ending.RunStatus(), row.run_status) << row.line;
    EXPECT_EQ(velk_run::Worded(ending), row.line);
  }
}

// Whatever the plug-in wrote over the page, velk-run reads no more than the page can hold and
// believes none of it: it says less.
TEST(EndingTest, AnOverwrittenPageIsNotBelieved) {
  const auto garbled = [](void (*spoil)(Progress&)) {
    standin::MarkOwnProcess();
    Progress progress;
    progress.Say(true, "during step 2, reading 1");
    progress.Finish(0);
    spoil(progress);
    return progress.Read();
  };
  const Progress::Seen pages[] = {
      garbled([](Progress& p) { std::memset(static_cast<void*>(&p), 0xff, sizeof(p)); }),
      garbled([](Progress& p) { p.current = 2; }),
      garbled([](Progress& p) { p.slots[p.current].size = sizeof(p.slots[0].text) + 1; }),
      garbled([](Progress& p) { p.slots[p.current].in_step = 7; }),
      garbled([](Progress& p) { p.slots[p.current].text[3] = '\n'; }),
      garbled([](Progress& p) { p.finished = 9; }),
  };
  for (const Progress::Seen& page : pages) {
    const Ending ending = velk_run::Classify(Killed(SIGSEGV), page, 0, 0);
    EXPECT_EQ(velk_run::Worded(ending),
              "the plug-in's process was killed by SIGSEGV; where in its run cannot be told (its "
              "progress page was overwritten)");
    EXPECT_EQ(velk_run::Classify(Exited(0), page, 0, 0).kind, Ending::Kind::kExited);
  }
}

}  // namespace
