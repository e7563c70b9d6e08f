#pragma once

// What keeps the library in use: live objects, server locks (IClassFactory::LockServer) and
// references to the class object. DllCanUnloadNow answers from these counts.

namespace tavrelo::helpers {

namespace serverstate {

void objectCreated();
void objectDestroyed();
void lock();
void unlock();
bool inUse();

} // namespace serverstate

} // namespace tavrelo::helpers
