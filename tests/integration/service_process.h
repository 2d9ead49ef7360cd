#pragma once
// `kovira --service` as a process of its own, for the tests that kill it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

namespace kv::test {

// Starts `exe --service` with its standard output and error in `log`
// (appended, or the file started afresh) and its lock folder under `runtimeDir`.
inline pid_t SpawnService(const std::filesystem::path& exe, const std::filesystem::path& log,
                          const std::filesystem::path& runtimeDir, bool appendLog = false) {
    pid_t pid = fork();
    if (pid == 0) {
        int out = ::open(log.c_str(), O_WRONLY | O_CREAT | (appendLog ? O_APPEND : O_TRUNC), 0644);
        dup2(out, 1);
        dup2(out, 2);
        setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        execl(exe.c_str(), exe.c_str(), "--service", static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// `rounds` times: start a service and kill it with SIGKILL after a random
// minMs .. minMs + spreadMs.
inline void KillAtRandomMoments(const std::function<pid_t()>& spawn, int rounds, unsigned seed, int minMs,
                                int spreadMs) {
    std::mt19937 rng(seed);
    for (int round = 0; round < rounds; ++round) {
        pid_t pid = spawn();
        std::this_thread::sleep_for(std::chrono::milliseconds(minMs + rng() % spreadMs));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

}  // namespace kv::test
