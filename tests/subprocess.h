// Runs a program with a hard time limit, keeping what it writes. It leads a process group of
// its own, so that ending it ends anything it started: no run outlives its test.
#pragma once

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

struct RunResult {
    std::string out, err;
    int exitCode = -1;  // -1 unless it exited by itself
    int signal = 0;     // the signal that ended it, if one did
    double seconds = 0; // from start to exit
};

struct Process {
    using Clock = std::chrono::steady_clock;
    using Seconds = std::chrono::duration<double>;

    // `env` entries are "NAME=value" to set or "NAME" to remove, as env(1) takes them. The
    // output goes to files in memory, which never fill up and block as a pipe would.
    Process(const std::vector<std::string>& argv, const std::string& dir,
            const std::vector<std::string>& env = {}) {
        std::vector<std::string> command = {"env"};
        for (const std::string& change : env) // removals first: env takes no option after a setting
            if (change.find('=') == std::string::npos)
                command.insert(command.begin() + 1, {"-u", change});
            else
                command.push_back(change);
        command.insert(command.end(), argv.begin(), argv.end());
        // Built before fork: a threaded parent's child may only make async-signal-safe calls.
        std::vector<char*> args;
        for (const std::string& word : command) args.push_back(const_cast<char*>(word.c_str()));
        args.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            // Stop signals as a terminal's user sends them, whatever the runner ignores.
            for (int stop : {SIGINT, SIGTERM, SIGHUP}) signal(stop, SIG_DFL);
            dup2(out_, 1);
            dup2(err_, 2);
            dup2(open("/dev/null", O_RDONLY), 0);
            if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
            execvp(args[0], args.data());
            _exit(127);
        }
        setpgid(pid_, pid_); // no race with the child's own call
        reaped_ = pid_ < 0;
    }

    ~Process() {
        Kill();
        close(out_);
        close(err_);
    }

    pid_t pid() const { return pid_; }
    const RunResult& result() const { return result_; }

    // Waits for its output to satisfy `done` (true), or for its end or `limit` (false). Its end
    // is seen without reaping: the group keeps its number until then, so no kill hits a stranger.
    template <class Done> bool ReadUntil(Done done, Seconds limit) {
        for (auto end = Clock::now() + limit;; std::this_thread::sleep_for(Seconds(0.01))) {
            Read();
            if (done(result_)) return true;
            siginfo_t ended{};
            waitid(P_PID, id_t(pid_), &ended, WEXITED | WNOHANG | WNOWAIT);
            if (reaped_ || ended.si_pid == pid_ || Clock::now() > end) return false;
        }
    }

    // Waits for the child to end, or kills it once `limit` has passed.
    const RunResult& Finish(Seconds limit) {
        ReadUntil([](const RunResult&) { return false; }, limit);
        return Kill();
    }

    const RunResult& Kill() {
        if (reaped_) return result_;
        int status = 0;
        kill(-pid_, SIGKILL); // the child if still there, and anything it left behind
        waitpid(pid_, &status, 0);
        reaped_ = true;
        result_.seconds = Seconds(Clock::now() - start_).count();
        if (WIFEXITED(status)) result_.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
        Read();
        return result_;
    }

    void Read() {
        for (auto [fd, into] : {std::pair{out_, &result_.out}, {err_, &result_.err}}) {
            char buffer[65536];
            for (ssize_t got; (got = pread(fd, buffer, sizeof buffer, off_t(into->size()))) > 0;)
                into->append(buffer, size_t(got));
        }
    }

    pid_t pid_ = -1;
    bool reaped_ = true;
    int out_ = memfd_create("out", MFD_CLOEXEC), err_ = memfd_create("err", MFD_CLOEXEC);
    Clock::time_point start_ = Clock::now();
    RunResult result_;
};

inline RunResult RunProgram(const std::vector<std::string>& argv, const std::string& dir,
                            const std::vector<std::string>& env, Process::Seconds limit) {
    return Process(argv, dir, env).Finish(limit);
}
