#pragma once

#include "core/singleton.hpp"

#include <string>
#include <vector>

#include <sys/types.h>

// The pid of a process whose command name (the text between the first "("
// and the last ")" of /proc/<pid>/stat) equals `name`, or -1. A positive
// `pid` is tried first; then /proc is scanned.
int find_proc_by_name(const char* name, int pid);

// A program to start as a child process, prepared whole in the parent.
// Between fork and exec the child only puts the signals it catches back to
// their default actions, moves a descriptor, writes fixed texts with
// write(2), sleeps, execs and calls _exit: it allocates nothing
// and runs no destructor, since it shares the parent's sessions (a child
// that ran the parent's static destructors would tear them down) and, on
// the simulated board, a copy of a process that has another thread.
struct ChildProgram {
    // The file that is run; argument 0.
    explicit ChildProgram(std::string path) : args{std::move(path)} {}

    std::vector<std::string> args;
    // Become the child's standard input and output when not negative.
    int stdinFd = -1;
    int stdoutFd = -1;
    // The child sleeps this many seconds first when not negative (0 lets
    // the parent run on before the program starts).
    int sleepSeconds = -1;
    // Written to the standard output before the exec.
    std::string banner;
    // Written to the standard output when the exec fails, before the child
    // ends with `failStatus`.
    std::string execFailed;
    int failStatus = 2;
};

// Starts and signals child processes. Tests put their own in place (a
// program cannot fork for every step of a fuzzer).
class ChildSpawner {
public:
    static ChildSpawner& instance() { return Singleton<ChildSpawner>::Get(); }
    static ChildSpawner* UseInstance(ChildSpawner* spawner) { return Singleton<ChildSpawner>::Use(spawner); }

    virtual ~ChildSpawner() = default;
    // fork and exec; the child's pid, or -1 with errno when fork failed. A
    // failed exec shows only as the child's end. A signal sent to the child
    // before its exec acts on it with its default action.
    virtual pid_t Start(ChildProgram const& program);
    // kill(2).
    virtual int Signal(pid_t pid, int sig);
};

// popen(3) for reading, without a shell and without waiting for ever:
// starts `program` with its standard output on a pipe and reads its first
// line as fgets(3) would into a buffer of `maxChars` + 1 (the newline kept).
// The caller's loop stands still meanwhile, so the whole run, the line and
// then the program's close of its output (where pclose(3) would wait for
// its end), takes at most `boundMs` on the monotonic clock; a program still
// running then is killed with SIGKILL. Its exit is left to the child-exit
// service, which reaps it without a report.
struct ChildLine {
    bool started = false; // false: no pipe or no fork (errno set)
    bool line = false;    // a line came before the end of output or the bound
    bool killed = false;  // the bound passed first
    std::string text;
};
ChildLine ReadChildLine(ChildProgram program, std::size_t maxChars, unsigned int boundMs);

namespace Linux {

// The pid file "/var/run/<name>.pid" for the life of the object, held with
// an exclusive flock(2) so that one program runs per root: a second one
// finds the lock taken and leaves the file alone. The lock goes with the
// last descriptor of the open (a daemon's child keeps it across the fork;
// programs started later do not inherit it), so a file left by a crash
// holds no lock and is taken over.
class Run {
public:
    // Makes the file's folder when it is missing, takes the lock and writes
    // this process's pid; when another process holds the lock nothing is
    // written and holder() names it. Neither made() nor taken(): error()
    // tells why (the folder, the file or its lock could not be had), and
    // the caller must not act as the holder.
    explicit Run(const char* name);
    // Removes the file when this object holds its lock.
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // This process's pid again, as a daemon's child has another one. The
    // old text is replaced in place: a reader never finds the file empty.
    // False when it could not be written (error() tells why): the caller
    // must stop; the file is removed with the object.
    bool Write();

    const std::string& path() const { return path_; }
    bool made() const { return fd_ >= 0; }
    // Another process holds the lock: its pid as the file gives it, 0 when
    // the file holds none yet.
    bool taken() const { return taken_; }
    int holder() const { return holder_; }
    // The errno of the step that failed, 0 when none did.
    int error() const { return error_; }

private:
    int fd_ = -1;
    bool taken_ = false;
    int holder_ = 0;
    int error_ = 0;
    std::string path_;
};

} // namespace Linux

namespace Console {
void SwitchToBinaryMode();
void SwitchToNonBlockMode();
} // namespace Console
