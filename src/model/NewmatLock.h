// Newmat keeps global state: every call into it runs under this one lock.
// Hold a NewmatLock for the whole of a use of Newmat objects that another
// thread could reach at the same time.
#pragma once

#include <mutex>

class NewmatLock
{
public:
    NewmatLock();
    ~NewmatLock();
    NewmatLock(const NewmatLock&) = delete;
    NewmatLock& operator=(const NewmatLock&) = delete;

private:
    std::unique_lock<std::recursive_mutex> lock;
};
