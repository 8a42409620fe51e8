#include "common/shared_data.h"

std::recursive_mutex& SharedDataMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}
