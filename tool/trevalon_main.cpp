#include "tool/trevalon_driver.hpp"

int main(int argc, char* argv[]) {
  return trevalon_main(argc, argv);
}
