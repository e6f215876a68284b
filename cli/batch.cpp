#include "batch.hpp"

#include "batch_plan.hpp"
#include "report.hpp"

#include <dorvane/platform.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dorvane::cli {
namespace {

struct Worker {
    pid_t Process;
    std::size_t Index; // of the source it works on
    int Messages;      // read end of the pipe that carries its standard error
    std::string Text;  // what came through it so far
};

class Progress {
  public:
    Progress(std::size_t total) : Total(total), Shown(::isatty(STDERR_FILENO) == 1) {}

    void Update(std::size_t done) const {
        if (Shown) {
            std::cerr << "\rbmpblur: " << done << '/' << Total << " files" << std::flush;
        }
    }
    // Clears the line so that a message or the shell prompt starts at the left.
    void Clear() const {
        if (Shown) {
            std::cerr << "\r\033[K" << std::flush;
        }
    }

  private:
    std::size_t Total;
    bool Shown;
};

// Starts a child that runs job with its standard error sent into a pipe; false if none started.
bool StartWorker(FileJob job, const std::string& source, const std::string& output,
                 const JobOptions& options, std::size_t index, std::vector<Worker>& workers) {
    int channel[2];
    if (::pipe(channel) != 0) {
        return false;
    }
    std::cout.flush();
    std::cerr.flush();
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // A worker ends with the batch, however the batch ends: a signal to it alone included.
        if (!platform::EndWithParent(parent)) {
            ::_exit(ExitWorkerKilled);
        }
        // The other workers' pipes stay the parent's, so that they see no reader but it.
        for (const Worker& other : workers) {
            ::close(other.Messages);
        }
        ::close(channel[0]);
        ::dup2(channel[1], STDERR_FILENO);
        ::close(channel[1]);
        const ExitCode status = job(source, output, options);
        std::cerr.flush();
        ::_exit(status);
    }
    ::close(channel[1]);
    if (child < 0) {
        ::close(channel[0]);
        return false;
    }
    workers.push_back({child, index, channel[0], ""});
    return true;
}

// Reads what the worker wrote since the last call, waiting for it if there is nothing yet; false
// once the pipe is at its end, the worker having exited.
bool ReadMessages(Worker& worker) {
    char buffer[4096];
    const ssize_t count = ::read(worker.Messages, buffer, sizeof buffer);
    if (count > 0) {
        worker.Text.append(buffer, static_cast<std::size_t>(count));
    }
    return count > 0 || (count < 0 && errno == EINTR);
}

std::string SignalName(int signal) {
    const char* abbreviation = ::sigabbrev_np(signal);
    return abbreviation != nullptr ? std::string("SIG") + abbreviation : std::to_string(signal);
}

// The status of a worker whose pipe is at its end, its messages completed with why it ended when
// that was a signal.
ExitCode Reap(Worker& worker, const std::string& source) {
    ::close(worker.Messages);
    int raw = 0;
    while (::waitpid(worker.Process, &raw, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(raw)) {
        return static_cast<ExitCode>(WEXITSTATUS(raw));
    }
    worker.Text += ReportLine(source, "worker killed by signal " + SignalName(WTERMSIG(raw)));
    return ExitWorkerKilled;
}

} // namespace

FileLookup LookUp(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return {false, std::nullopt, std::error_code(errno, std::generic_category())};
    }
    return {S_ISDIR(status.st_mode),
            std::pair{std::uint64_t{status.st_dev}, std::uint64_t{status.st_ino}},
            {}};
}

ExitCode RunBatch(FileJob job, const std::string& folder, const std::vector<std::string>& sources,
                  std::uint32_t workerCount, bool sync) {
    if (!MakeFolder(folder)) {
        return ExitOutputUnwritable;
    }
    // The workers' statuses are waited for: with SIGCHLD ignored, as a parent may leave it, the
    // system would take them away.
    std::signal(SIGCHLD, SIG_DFL);
    const std::vector<BatchTask> tasks = PlanBatch(folder, sources);
    std::vector<ExitCode> results(sources.size(), ExitOk);
    const std::uint32_t cores = platform::AvailableCores();
    const std::size_t slots = workerCount == 0 ? cores : workerCount;
    // Workers x threads never exceed the cores: workers that fill them keep to one thread each.
    const auto busy = static_cast<std::uint32_t>(std::min(slots, sources.size()));
    const JobOptions options{std::max(1U, cores / std::max(1U, busy)), sync};
    std::vector<Worker> workers;
    const Progress progress(sources.size());
    std::size_t next = 0;
    std::size_t done = 0;
    const auto finish = [&](std::size_t index, ExitCode status, const std::string& messages) {
        results[index] = status;
        progress.Clear();
        std::cerr << messages;
        progress.Update(++done);
    };
    progress.Update(0);
    while (next < sources.size() || !workers.empty()) {
        while (next < sources.size() && workers.size() < slots) {
            const std::size_t index = next++;
            const BatchTask& task = tasks[index];
            if (task.Refusal != ExitOk) {
                finish(index, task.Refusal, task.Message);
            } else if (!StartWorker(job, sources[index], task.Output, options, index, workers)) {
                // No process to spare: do it here.
                progress.Clear();
                finish(index, job(sources[index], task.Output, options), "");
            }
        }
        if (workers.empty()) {
            continue;
        }
        // Every worker's messages are read as they come, so that none waits on a full pipe; when
        // poll fails, a read that waits for each worker in turn is as safe, if slower.
        std::vector<pollfd> pipes;
        for (const Worker& worker : workers) {
            pipes.push_back({worker.Messages, POLLIN, 0});
        }
        const bool polled = ::poll(pipes.data(), pipes.size(), -1) >= 0;
        for (std::size_t slot = pipes.size(); slot-- > 0;) {
            Worker& worker = workers[slot];
            if ((!polled || pipes[slot].revents != 0) && !ReadMessages(worker)) {
                const ExitCode status = Reap(worker, sources[worker.Index]);
                finish(worker.Index, status, worker.Text);
                workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(slot));
            }
        }
    }
    progress.Clear();
    const auto failure =
        std::find_if(results.begin(), results.end(), [](ExitCode c) { return c != ExitOk; });
    return failure == results.end() ? ExitOk : *failure;
}

} // namespace dorvane::cli
