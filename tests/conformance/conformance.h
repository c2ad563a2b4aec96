// Conformance checks of the core library, written against coredll.h alone
// so that the same checks run on the simulated handheld and, cross-built,
// on a real Win32 API under Wine. Each failure names its file and line.
#ifndef SAMBREL_TESTS_CONFORMANCE_H
#define SAMBREL_TESTS_CONFORMANCE_H

#include "platform/coredll.h"

// Runs every check; prints a line per failure and the totals last.
// Returns the number of failures.
int RunConformance();

// Shows one line of the report: a failure, or the totals last. Each
// platform's main supplies it.
void ConformanceReport(const char *line);

#endif
