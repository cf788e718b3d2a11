#include "tools/scpecg/batch.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace scpecg {

namespace {

namespace fs = std::filesystem;

// The file a worker is writing, for its signal handler.
char g_partial[4096];

void RemovePartialAndExit(int sig) {
  if (g_partial[0] != '\0') unlink(g_partial);
  signal(sig, SIG_DFL);
  raise(sig);
}

void InstallWorkerSignals() {
  // A worker dies with its parent, and never leaves its file half-written.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, RemovePartialAndExit);
}

std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  // One report stays below the pipe's atomic write size.
  if (s.size() > 2000) s.resize(2000);
  return s;
}

void Report(int fd, size_t index, const ItemResult& r) {
  const std::string line =
      std::to_string(index) + "\t" + std::to_string(static_cast<int>(r.outcome)) + "\t" + OneLine(r.reason) + "\n";
  (void)!write(fd, line.data(), line.size());
}

[[noreturn]] void Worker(const std::vector<BatchItem>& items, std::atomic<size_t>* next, int fd,
                         const std::function<ItemResult(const BatchItem&)>& work) {
  InstallWorkerSignals();
  for (size_t i = next->fetch_add(1); i < items.size(); i = next->fetch_add(1)) {
    ItemResult r;
    try {
      r = work(items[i]);
    } catch (const std::exception& e) {
      r = {Outcome::kFailed, std::string("internal error: ") + e.what()};
    }
    Report(fd, i, r);
  }
  // exit, not _exit: the work's static state (the plug-in session and its
  // log file) ends properly. Nothing is buffered from before the fork.
  std::exit(0);
}

std::string Clock(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

class Progress {
 public:
  explicit Progress(size_t total) : total_(total), tty_(isatty(STDERR_FILENO) == 1) {}

  void Item(size_t done, const BatchItem& item, Outcome outcome) {
    static const char* const kWords[] = {"done", "skipped", "failed"};
    const char* word = kWords[static_cast<int>(outcome)];
    if (!tty_) {
      // The reasons follow in the summary.
      std::fprintf(stderr, "[%zu/%zu] %s: %s\n", done, total_, item.input.c_str(), word);
      return;
    }
    // A bar redrawn at most ten times a second costs nothing beside the work.
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double rate = elapsed > 0 ? done / elapsed : 0;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(kWidth * done / (total_ ? total_ : 1));
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '.');
    std::fprintf(stderr, "\r\033[K[%s] %zu/%zu  %.1f files/s  %s left", bar.c_str(), done, total_, rate,
                 rate > 0 ? Clock((total_ - done) / rate).c_str() : "?");
    std::fflush(stderr);
  }
  void End() {
    if (tty_) std::fprintf(stderr, "\r\033[K");
  }

 private:
  size_t total_;
  bool tty_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), drawn_;
};

}  // namespace

BatchSummary RunBatch(const std::vector<BatchItem>& items, int jobs,
                      const std::function<ItemResult(const BatchItem&)>& work) {
  BatchSummary summary;
  if (items.empty()) return summary;
  const int workers = static_cast<int>(std::min<size_t>(static_cast<size_t>(std::max(jobs, 1)), items.size()));
  void* shared = mmap(nullptr, sizeof(std::atomic<size_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  int fds[2];
  std::vector<ItemResult> results(items.size());
  std::vector<bool> reported(items.size(), false);
  if (shared == MAP_FAILED || pipe(fds) != 0) {
    for (size_t i = 0; i < items.size(); ++i) results[i] = {Outcome::kFailed, "no worker could be started"};
  } else {
    auto* next = new (shared) std::atomic<size_t>(0);
    std::fflush(nullptr);
    std::vector<pid_t> pids;
    for (int w = 0; w < workers; ++w) {
      const pid_t pid = fork();
      if (pid == 0) {
        close(fds[0]);
        Worker(items, next, fds[1], work);
      }
      if (pid > 0) pids.push_back(pid);
    }
    close(fds[1]);
    Progress progress(items.size());
    size_t count = 0;
    std::string pending;
    char buf[8192];
    for (ssize_t got; (got = read(fds[0], buf, sizeof buf)) != 0;) {
      if (got < 0) {
        if (errno == EINTR) continue;
        break;
      }
      pending.append(buf, static_cast<size_t>(got));
      for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1)) {
        const std::string line = pending.substr(0, nl);
        const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        if (t1 == std::string::npos || t2 == std::string::npos) continue;
        const size_t index = std::stoul(line.substr(0, t1));
        if (index >= items.size() || reported[index]) continue;
        reported[index] = true;
        results[index] = {static_cast<Outcome>(std::stoi(line.substr(t1 + 1, t2 - t1 - 1))), line.substr(t2 + 1)};
        progress.Item(++count, items[index], results[index].outcome);
      }
    }
    close(fds[0]);
    for (pid_t pid : pids) waitpid(pid, nullptr, 0);
    progress.End();
    munmap(shared, sizeof(std::atomic<size_t>));
    for (size_t i = 0; i < items.size(); ++i)
      if (!reported[i]) results[i] = {Outcome::kFailed, "the worker stopped while converting it"};
  }
  for (size_t i = 0; i < items.size(); ++i) {
    const ItemResult& r = results[i];
    (r.outcome == Outcome::kDone ? summary.done : r.outcome == Outcome::kSkipped ? summary.skipped : summary.failed)++;
    if (r.outcome != Outcome::kDone) summary.notes.emplace_back(i, r);
  }
  return summary;
}

bool WriteAtomically(const std::string& out, const std::function<bool(const std::string& partial)>& write,
                     std::string* error) {
  std::error_code ec;
  const fs::path target(out);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  const std::string partial = out + ".partial";
  if (partial.size() >= sizeof g_partial) {
    *error = "output path too long";
    return false;
  }
  std::memcpy(g_partial, partial.c_str(), partial.size() + 1);
  bool ok = write(partial);
  if (ok) {
    fs::rename(partial, target, ec);
    if (ec) {
      *error = "cannot be written: " + ec.message();
      ok = false;
    }
  }
  if (!ok) fs::remove(partial, ec);
  g_partial[0] = '\0';
  return ok;
}

bool WriteText(const std::string& path, const std::string& content, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) *error = "cannot be written";
  return static_cast<bool>(out);
}

}  // namespace scpecg
