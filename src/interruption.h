#ifndef CORVANE_INTERRUPTION_H
#define CORVANE_INTERRUPTION_H

// An interrupt (SIGINT) or a request to end (SIGTERM) is only noted when it
// arrives: the handler stores the signal's number and does nothing else, since
// almost nothing is safe inside a handler. The run looks at the note between
// its stages and between bootstrap replicates, and then ends through its usual
// error stop, so that its files are closed and its record completed as on any
// other stop. A second signal of the same kind ends the process at once.

// Installs the handlers for SIGINT and SIGTERM, unless the signal is ignored.
void note_interruptions();

// The signal that asked the run to end, or 0.
int interrupting_signal();

// "SIGINT" or "SIGTERM" ("a signal" for any other).
const char* signal_name(int signal_number);

#endif
