#pragma once

// COM for the whole process, locked down before any object crosses a process
// boundary: the installer is elevated, and the programs it calls through COM
// (the desktop shell) may be any program of the user's.

// Joins the calling thread (the UI thread) to a single-threaded apartment for
// the whole process and sets the process's COM security. False when a step
// failed: COM then keeps its defaults.
bool LockDownCom();

// Whether LockDownCom took. Read after it ran (before the worker started).
bool IsComLockedDown();
