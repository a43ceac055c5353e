// Weak definitions: where the platform layer defines the cancel request, its definitions are
// the ones linked, and these are not. Without it a request has no job to reach.
#include "shell/jobcancel.h"

__attribute__((weak)) void RequestCancel() {}
__attribute__((weak)) void ClearCancelRequest() {}
