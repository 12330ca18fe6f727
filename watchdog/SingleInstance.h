// One watchdog per logon session, through the existence of a named mutex.
#pragma once

// Main thread. True when no object of that name existed before, so that this process is the
// first: it then keeps the mutex until ReleaseSingleInstance. False when another process holds the
// name. Raises EOSError when the mutex can be neither created nor opened (for example when the name
// belongs to an object of another kind).
bool ClaimSingleInstance(const char* name);

// Closes the mutex claimed, if any. The mutex is never owned: only its existence counts.
void ReleaseSingleInstance() noexcept;
