// Whether code runs in the process that marked itself as the owner of what it writes, or in a
// child that the plug-in forked from it (with fork(), _Fork() or a raw clone: no fork handler
// need run). A child's events and progress are not the run's.
#pragma once

namespace standin {

// Marks the calling process. The first call finds out how to tell, with one child process:
// where the kernel empties a page in a forked child (MADV_WIPEONFORK, Linux 4.14 and later),
// asking is a load of memory; where it does not (qemu-user takes the advice and ignores it),
// a getpid() system call. A process forked after the first call inherits the answer.
void MarkOwnProcess();
bool InOwnProcess();

}  // namespace standin
