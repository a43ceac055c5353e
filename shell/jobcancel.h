// The window's Cancel and the job's cancel request.
//
// RequestCancel asks the running job to stop: it ends at its next read or write as a failed
// job does (temporary files removed, old files kept, its log saying it did not complete).
// ClearCancelRequest forgets an earlier request before the next job starts. The request is
// the platform layer's, shared with the console's signals.
#pragma once

void RequestCancel();
void ClearCancelRequest();
