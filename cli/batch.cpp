#include "batch.hpp"

#include "platform.hpp"
#include "report.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace dorvane::cli {
namespace {

namespace fs = std::filesystem;

struct Worker {
    std::size_t Index; // of the source it works on
    int Messages;      // read end of the pipe that carries its standard error
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

std::string DrainPipe(int descriptor) {
    std::string text;
    char buffer[512];
    for (ssize_t count; (count = ::read(descriptor, buffer, sizeof buffer)) != 0;) {
        if (count < 0 && errno != EINTR) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    }
    ::close(descriptor);
    return text;
}

// Starts a child that runs job with its standard error sent into a pipe; false if none started.
bool StartWorker(FileJob job, const std::string& source, const std::string& output,
                 std::uint32_t threads, std::size_t index, std::map<pid_t, Worker>& workers) {
    int channel[2];
    if (::pipe(channel) != 0) {
        return false;
    }
    std::cout.flush();
    std::cerr.flush();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        ::dup2(channel[1], STDERR_FILENO);
        ::close(channel[1]);
        const ExitCode status = job(source, output, threads);
        std::cerr.flush();
        ::_exit(status);
    }
    ::close(channel[1]);
    if (child < 0) {
        ::close(channel[0]);
        return false;
    }
    workers.emplace(child, Worker{index, channel[0]});
    return true;
}

// Creates folder and its parents where missing, as mkdir -p does; false, reported, when it fails.
bool MakeFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        Report(folder, error.message());
        return false;
    }
    return true;
}

} // namespace

ExitCode RunBatch(FileJob job, const std::string& folder, const std::vector<std::string>& sources,
                  std::uint32_t workerCount) {
    if (!MakeFolder(folder)) {
        return ExitOutputUnwritable;
    }
    std::vector<ExitCode> results(sources.size(), ExitOk);
    std::set<std::string> names;
    const std::uint32_t cores = platform::AvailableCores();
    const std::size_t slots = workerCount == 0 ? cores : workerCount;
    // Workers x threads never exceed the cores: workers that fill them keep to one thread each.
    const auto busy = static_cast<std::uint32_t>(std::min(slots, sources.size()));
    const std::uint32_t threads = std::max(1U, cores / std::max(1U, busy));
    std::map<pid_t, Worker> workers;
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
            const std::string name = fs::path(sources[index]).filename().string();
            if (name.empty() || !names.insert(name).second) {
                finish(index, ExitInvalidArgument,
                       ReportLine(sources[index], "another source has the same file name"));
            } else if (!StartWorker(job, sources[index], (fs::path(folder) / name).string(),
                                    threads, index, workers)) {
                // No process to spare: do it here.
                finish(index, job(sources[index], (fs::path(folder) / name).string(), threads), "");
            }
        }
        int raw = 0;
        const pid_t child = ::waitpid(-1, &raw, 0);
        if (child < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        const auto worker = workers.find(child);
        if (worker != workers.end()) {
            const Worker finished = worker->second;
            workers.erase(worker);
            std::string messages = DrainPipe(finished.Messages);
            if (WIFEXITED(raw)) {
                finish(finished.Index, static_cast<ExitCode>(WEXITSTATUS(raw)), messages);
            } else {
                messages += ReportLine(sources[finished.Index], "worker stopped by a signal");
                finish(finished.Index, ExitSourceUnreadable, messages);
            }
        }
    }
    progress.Clear();
    const auto failure =
        std::find_if(results.begin(), results.end(), [](ExitCode c) { return c != ExitOk; });
    return failure == results.end() ? ExitOk : *failure;
}

} // namespace dorvane::cli
