// orb2k16: the demo. Takes no arguments and always ends with exit code 0.
#include <cstdio>
#include <cstdlib>

#include "app/demo.h"
#include "app/plain_scene.h"

int main() {
  const int code = runDemo(kPlainScene);
  // End the process the way the music expects: its worker thread is never
  // joined, so no static destructors may run while it still renders.
  std::fflush(nullptr);
  std::_Exit(code);
}
