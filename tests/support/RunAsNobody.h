#pragma once

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs fn in a child process that is not root (it gives root up for nobody when it has it) and
// gives the child's exit status: fn's result, 3 when root could not be given up, -1 when the
// child could not be made or did not exit by itself. fn must not return through a test
// assertion: the child ends with _exit.
template <typename Fn>
int RunAsNobody(Fn fn) {
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0))
            _exit(3);
        _exit(fn());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
