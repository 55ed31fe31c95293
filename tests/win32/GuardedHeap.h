#pragma once
// A guarded heap for this test program: while it is switched on, every operator new gets pages
// of its own, and operator delete takes the pages away but keeps their addresses, so that any
// later use of the freed object faults at once instead of reading whatever the heap put there.
// A fault on such pages ends the program with a message that names it. Switched off, operator
// new and delete are malloc and free.

namespace tarvex::testing {

// Any thread.
void GuardFreedMemory(bool on);

// Switches the guard on for one scope.
class CGuardedHeapScope {
public:
    CGuardedHeapScope() { GuardFreedMemory(true); }
    ~CGuardedHeapScope() { GuardFreedMemory(false); }
    CGuardedHeapScope(const CGuardedHeapScope&) = delete;
    CGuardedHeapScope& operator=(const CGuardedHeapScope&) = delete;
};

}  // namespace tarvex::testing
