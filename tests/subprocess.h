// Runs a program as a child process with a hard time limit, capturing what it
// writes. The child leads a process group of its own, so that killing it also
// kills anything it started, and no run can outlive its test.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

struct RunResult {
    std::string out, err;
    int exitCode = -1; // -1 unless it exited by itself
    int signal = 0;    // the signal that ended it, if one did
    bool timedOut = false;
    double seconds = 0;    // from start to exit
    double cpuSeconds = 0; // user and system time the child used
};

class Process {
  public:
    using Clock = std::chrono::steady_clock;

    // `env` entries are "NAME=value" to set or "NAME" to remove.
    Process(const std::vector<std::string>& argv, const std::string& dir,
            const std::vector<std::string>& env = {}) {
        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0) return;
        if (pipe2(errPipe, O_CLOEXEC) != 0) {
            close(outPipe[0]);
            close(outPipe[1]);
            return;
        }
        // Everything the child needs is built before fork: only async-signal-safe
        // calls may follow it in a threaded parent.
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) environment.emplace_back(*e);
        for (const std::string& change : env) {
            std::string name = change.substr(0, change.find('='));
            std::erase_if(environment, [&](const std::string& entry) {
                return entry.compare(0, name.size() + 1, name + "=") == 0;
            });
            if (change.find('=') != std::string::npos) environment.push_back(change);
        }
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        start_ = Clock::now();
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            dup2(outPipe[1], 1);
            dup2(errPipe[1], 2);
            int null = open("/dev/null", O_RDONLY);
            if (null >= 0) dup2(null, 0);
            if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
            execvpe(args[0], args.data(), envp.data());
            _exit(127);
        }
        if (pid_ > 0) setpgid(pid_, pid_); // no race with the child's own call
        close(outPipe[1]);
        close(errPipe[1]);
        outFd_ = outPipe[0];
        errFd_ = errPipe[0];
        if (pid_ < 0) Drop();
    }

    ~Process() {
        if (pid_ > 0 && !reaped_) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        Drop();
    }

    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }
    const RunResult& result() const { return result_; }

    // Reads what the child writes until `done` says so, the child closes its
    // output or `limit` passes. True if `done` said so.
    template <class Done> bool ReadUntil(Done done, std::chrono::duration<double> limit) {
        auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
        while (!done(result_)) {
            if (outFd_ < 0 && errFd_ < 0) return false;
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
            int ready = poll(fds, 2, static_cast<int>(std::min<long>(left.count(), 100)));
            if (ready < 0 && errno != EINTR) return false;
            if (ready <= 0) continue;
            Take(fds[0], outFd_, result_.out);
            Take(fds[1], errFd_, result_.err);
        }
        return true;
    }

    // Waits for the child to end, killing its group once `limit` has passed
    // since the start.
    const RunResult& Finish(std::chrono::duration<double> limit) {
        if (pid_ <= 0 || reaped_) return result_;
        result_.timedOut = !WaitUntil(start_ + std::chrono::duration_cast<Clock::duration>(limit));
        return Reap();
    }

    // Asks the child's group to end, as a session ending would, and kills it
    // if it has not within `grace`.
    const RunResult& Stop(std::chrono::duration<double> grace = std::chrono::seconds(5)) {
        if (pid_ <= 0 || reaped_) return result_;
        kill(-pid_, SIGTERM);
        WaitUntil(Clock::now() + std::chrono::duration_cast<Clock::duration>(grace));
        return Reap();
    }

    // Ends the child and everything it started, at once.
    const RunResult& Kill() {
        if (pid_ <= 0 || reaped_) return result_;
        return Reap();
    }

  private:
    // True once the child has ended, reading its output meanwhile.
    bool WaitUntil(Clock::time_point deadline) {
        const auto never = [](const RunResult&) { return false; };
        while (Clock::now() < deadline) {
            // Noticed without reaping: the group keeps its number until the
            // leader is reaped, so no later kill can hit a stranger.
            siginfo_t info{};
            if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == pid_)
                return true;
            if (outFd_ < 0 && errFd_ < 0) usleep(10'000);
            ReadUntil(never, std::chrono::milliseconds(10));
        }
        return false;
    }

    const RunResult& Reap() {
        int status = 0;
        rusage usage{};
        kill(-pid_, SIGKILL); // the child if still there, and anything it left behind
        wait4(pid_, &status, 0, &usage);
        result_.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        result_.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        reaped_ = true;
        if (WIFEXITED(status)) result_.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
        // What is still in the pipes.
        ReadUntil([](const RunResult&) { return false; }, std::chrono::seconds(2));
        Drop();
        return result_;
    }

    static void Take(const pollfd& polled, int& fd, std::string& into) {
        if (fd < 0 || !(polled.revents & (POLLIN | POLLHUP | POLLERR))) return;
        char buffer[4096];
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            close(fd);
            fd = -1;
        }
    }

    void Drop() {
        if (outFd_ >= 0) close(outFd_);
        if (errFd_ >= 0) close(errFd_);
        outFd_ = errFd_ = -1;
    }

    pid_t pid_ = -1;
    bool reaped_ = false;
    int outFd_ = -1, errFd_ = -1;
    Clock::time_point start_;
    RunResult result_;
};

// Runs `argv` in `dir` to its end or to `limit`, whichever comes first.
inline RunResult RunProgram(const std::vector<std::string>& argv, const std::string& dir,
                            const std::vector<std::string>& env,
                            std::chrono::duration<double> limit) {
    Process process(argv, dir, env);
    return process.Finish(limit);
}
