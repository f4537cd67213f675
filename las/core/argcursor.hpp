// Walking the shared argument vector: every option parser uses this so that
// blanked (consumed) arguments are skipped and values are never read past
// the end of the vector.
#pragma once

#include <cstdio>
#include <cstring>

class ArgCursor {
 public:
  ArgCursor(int argc, char** argv) : argc_(argc), argv_(argv) {}

  int argc() const { return argc_; }
  char** argv() const { return argv_; }
  const char* operator[](int i) const { return argv_[i]; }
  bool blank(int i) const { return argv_[i][0] == '\0'; }
  bool is(int i, const char* option) const { return strcmp(argv_[i], option) == 0; }
  // At least n arguments follow index i (blank or not).
  bool has(int i, int n) const { return i + n < argc_; }
  // The argument at i exists and starts with a decimal digit.
  bool digit_at(int i) const { return i < argc_ && argv_[i][0] >= '0' && argv_[i][0] <= '9'; }
  // Converts argv[i] with one scanf directive ("%lf", "%f", "%d", "%u", ...).
  template <typename T>
  bool scan(int i, const char* directive, T* value) const {
    return i < argc_ && sscanf(argv_[i], directive, value) == 1;
  }
  // Blanks argv[i] .. argv[i + n].
  void consume(int i, int n = 0) {
    for (int k = i; k <= i + n && k < argc_; k++) argv_[k][0] = '\0';
  }

 private:
  int argc_;
  char** argv_;
};
