#pragma once

// Limits where the loader takes DLLs from to System32, before any DLL that is
// not loaded at start is needed. Call first thing in the entry point.
void LimitDllSearch();
