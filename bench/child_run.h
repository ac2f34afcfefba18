// One measured separation, run in a process of its own so that its peak
// resident memory is its own.
#pragma once

// Loads the models of model_dir, separates input into all stems under
// out_dir, prints the RunResult line on stdout, removes the written files
// and releases the models. Returns the process exit status.
int child_run(const char *model_dir, const char *input, const char *out_dir);
