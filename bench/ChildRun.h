#pragma once
// Runs a program as a child of the benchmark and measures it: wall-clock time, time to its first
// output, peak memory and exit status.

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct ChildRun
{
    double ms = -1;      // start to exit: the last line written
    double firstMs = -1; // start to the first byte of output (when read through a pipe)
    double peakMb = 0;   // the child's peak RSS
    int status = -1;
    qint64 lines = 0;
};

// Runs the program with its output to /dev/null, or through a pipe that is read and counted.
inline ChildRun runChild(const QStringList &arguments, bool throughPipe)
{
    std::vector<QByteArray> bytes;
    for (const QString &argument : arguments)
        bytes.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (throughPipe && pipe(pipeFds) != 0)
        return {};
    ChildRun run;
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child == 0) {
        const int out = throughPipe ? pipeFds[1] : open("/dev/null", O_WRONLY);
        dup2(out, STDOUT_FILENO);
        if (throughPipe)
            close(pipeFds[0]);
        execvp(argv[0], argv.data()); // a name without a slash is looked for in PATH
        _exit(127);
    }
    if (throughPipe) {
        close(pipeFds[1]);
        char buffer[1 << 16];
        ssize_t n;
        while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
            if (run.firstMs < 0)
                run.firstMs = timer.nsecsElapsed() / 1e6;
            run.lines += std::count(buffer, buffer + n, '\n');
        }
        close(pipeFds[0]);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run.ms = timer.nsecsElapsed() / 1e6;
    run.peakMb = usage.ru_maxrss / 1024.0;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
