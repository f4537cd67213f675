// Runs the built tool as a user would, without a shell: arguments relative
// to a test directory, standard input from a text, standard error captured.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

struct RunResult {
  int code = -1;
  std::string err;
};

inline RunResult run_tool(const std::vector<std::string>& args, const std::string& dir,
                          const std::string& input = "") {
  RunResult result;
  const std::string err_path = dir + "/stderr.txt";
  const std::string in_path = dir + "/stdin.txt";
  {
    std::ofstream in(in_path);
    in << input;
  }
  std::vector<std::string> words = {TREVALON_BINARY};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = -1;
  char old_cwd[4096];
  if (getcwd(old_cwd, sizeof(old_cwd)) && chdir(dir.c_str()) == 0) {
    rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    if (chdir(old_cwd) != 0) rc = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(err_path);
  std::stringstream text;
  text << err.rdbuf();
  result.err = text.str();
  return result;
}
