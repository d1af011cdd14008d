#pragma once

#include "common/window_handle.h"
#include "setupfile/setup_file.h"
#include "net/download.h"

// Runs the whole install once on the calling (worker) thread: choose the
// channel, download "velnor-setup.exe" reporting to `progress`; on failure the
// download-failed prompt and nothing more (the window stays shown). On
// success hold and check the file, hide the window, start the setup program
// without arguments, wait, delete the file, post WM_CLOSE to `mainWindow`. A failed
// start shows the start-failed prompt, keeps the file, then posts WM_CLOSE.
// A file that no longer holds exactly the bytes received, or (with a
// publisher set at build time) is not signed by it, is a failed start too,
// and its file is deleted.
void InstallWorker(WindowHandle mainWindow, ProgressCallback progress);

// True when the check found a valid signature whose signer's subject is
// exactly `publisher`.
bool IsSignedByPublisher(const SignatureCheck& check, const std::wstring& publisher);
// True when the check failed only for want of the chain's root or an
// intermediate, and its signer is exactly `publisher`: a second try, which may
// fetch them, can tell.
bool IsWorthFetchingChain(const SignatureCheck& check, const std::wstring& publisher);
