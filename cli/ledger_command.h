#pragma once
// k7vconf-cli ledger init | load UNITS.csv | status | export REPORT.csv: the
// shared ledger's tables, rows of values and report, for the engineer who
// runs the benches.

#include "cli/cli_options.h"

// The exit status: 0 done; 1 the ledger cannot be reached or refused (the
// reason on stderr); 2 usage, or a values file refused (nothing loaded).
int RunLedgerCommand(const CliOptions& options);
