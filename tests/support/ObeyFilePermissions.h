#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <thread>

// Runs fn on a thread of its own that obeys file permissions even as root: its effective
// CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH are dropped (capabilities belong to a thread, and
// threads it starts inherit them, e.g. a server's). The caller's thread keeps its own.
template <typename Fn>
void RunObeyingFilePermissions(Fn fn) {
    std::thread thread([&fn] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (syscall(SYS_capget, &header, data) == 0) {
            for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
                data[cap / 32].effective &= ~(1u << (cap % 32));
            syscall(SYS_capset, &header, data);
        }
        fn();
    });
    thread.join();
}
