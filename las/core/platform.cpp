#include "las/core/platform.hpp"

#include <fcntl.h>
#include <glob.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

extern char** environ;

namespace platform {

bool seek(FILE* file, I64 position, int whence) {
  return fseeko(file, static_cast<off_t>(position), whence) == 0;
}

I64 tell(FILE* file) {
  return static_cast<I64>(ftello(file));
}

FILE* open_file(const char* name, const char* mode) {
  return fopen(name, mode);
}

FILE* create_exclusive(const char* name) {
  int fd = ::open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "w+b");
  if (!file) {
    ::close(fd);
    ::unlink(name);
  }
  return file;
}

bool truncate_file(FILE* file, I64 length) {
  if (!file || length < 0 || fflush(file) != 0) return false;
  return ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}

bool has_wildcard(const std::string& pattern) {
  return pattern.find_first_of("*?[") != std::string::npos;
}

std::vector<std::string> glob_files(const std::string& pattern) {
  std::vector<std::string> names;
  glob_t g;
  memset(&g, 0, sizeof(g));
  if (glob(pattern.c_str(), 0, nullptr, &g) == 0) {
    for (size_t i = 0; i < g.gl_pathc; i++) {
      if (!is_directory(g.gl_pathv[i])) names.emplace_back(g.gl_pathv[i]);
    }
  }
  globfree(&g);
  std::sort(names.begin(), names.end());
  return names;
}

bool is_directory(const char* path) {
  struct stat st;
  return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool file_exists(const char* path) {
  struct stat st;
  return path && stat(path, &st) == 0;
}

bool same_file(const char* a, const char* b) {
  struct stat sa, sb;
  if (!a || !b || stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int process_id() {
  return static_cast<int>(getpid());
}

double elapsed_seconds() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

PipeProcess::~PipeProcess() {
  close();
}

bool PipeProcess::start(const std::vector<std::string>& argv) {
  if (argv.empty() || out_) return false;
  int fds[2];
  if (pipe(fds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return false;
  }
  out_ = fdopen(fds[0], "rb");
  if (!out_) {
    ::close(fds[0]);
    waitpid(pid, nullptr, 0);
    return false;
  }
  pid_ = pid;
  return true;
}

int PipeProcess::close() {
  if (out_) {
    fclose(out_);
    out_ = nullptr;
  }
  if (pid_ < 0) return -1;
  int status = 0;
  pid_t pid = static_cast<pid_t>(pid_);
  pid_ = -1;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace platform
