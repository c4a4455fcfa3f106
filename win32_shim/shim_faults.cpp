// The fault switch: counts the calls of the file and heap functions and fails the chosen one,
// so that a test can walk a scenario through every point at which a disk, a network share or
// the heap can let the plug-in down.
#include <windows.h>

#include "shim_control.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

long calls_made = 0;
long failing_call = 0;
DWORD failing_error = 0;
bool from_environment = false;
bool environment_read = false;

void report_calls(void) { fprintf(stderr, "win32_shim: %ld calls of the file and heap functions\n", calls_made); }

// A child process such as tollvane-play is set from outside; read once, before the first call.
void read_environment(void)
{
    environment_read = true;
    const char *call = getenv("TOLLVANE_SHIM_FAIL_CALL");
    if (!call) return;
    const char *error = getenv("TOLLVANE_SHIM_FAIL_ERROR");
    failing_call = atol(call);
    failing_error = error ? static_cast<DWORD>(strtoul(error, nullptr, 0)) : 0;
    from_environment = true;
    atexit(report_calls);
}

} // namespace

void shim_fail_call(long call_number, DWORD error)
{
    environment_read = true; // a test in the process decides, not the environment
    calls_made = 0;
    failing_call = call_number;
    failing_error = error;
}

long shim_calls_made(void) { return calls_made; }

bool shim_fault_due(const char *function, DWORD typical_error)
{
    if (!environment_read) read_environment();
    if (++calls_made != failing_call || failing_call <= 0) return false;
    DWORD error = failing_error ? failing_error : typical_error;
    if (from_environment) fprintf(stderr, "win32_shim: call %ld, %s, failed with error %lu\n", calls_made, function,
                                  static_cast<unsigned long>(error));
    SetLastError(error);
    return true;
}
