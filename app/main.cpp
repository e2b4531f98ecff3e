// orb2k16: the demo. Takes no arguments and always ends with exit code 0.
#include "app/demo.h"
#include "app/frame.h"

int main() {
  return runDemo(kShaderScene);
}
