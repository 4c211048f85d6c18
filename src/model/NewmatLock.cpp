#include "NewmatLock.h"

namespace {

std::recursive_mutex& NewmatMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

} // namespace

NewmatLock::NewmatLock()
    : lock(NewmatMutex())
{
}

NewmatLock::~NewmatLock() = default;
