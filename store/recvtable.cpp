#include "config/mysetting.h"

// Placeholder until the store lands: a store that never opens.
bool MySetting::openLocalDb()
{
    return false;
}

void MySetting::closeLocalDb()
{
    localDbOpen = false;
}
