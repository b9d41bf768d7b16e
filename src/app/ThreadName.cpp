#include "app/ThreadName.h"

#include <sys/prctl.h>

void NameCurrentThread(const char* name) {
    prctl(PR_SET_NAME, name, 0, 0, 0);
}
