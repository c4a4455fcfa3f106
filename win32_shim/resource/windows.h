// What the native build's resource compiler sees of <windows.h>: the constants a resource
// script names, and nothing a resource compiler cannot read.
#include "win32_shim/shim_ui_constants.h"
