// Entry point of zolctl.
#include "ctl/zolctl.h"

int main(int argc, char** argv) {
  return zol::ctl::RunZolctl(argc, argv);
}
