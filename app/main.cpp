// orb2k16: the demo. No arguments but --help and --version.
#include "app/command_line.h"
#include "app/demo.h"
#include "app/frame.h"

namespace {

constexpr const char* kUsage =
    "Usage: orb2k16 [--help | --version]\n"
    "\n"
    "A real-time audiovisual demo: a borderless 1024x480 window shows a ray-marched\n"
    "scene drawn by a GLSL fragment shader while a software synthesizer plays the\n"
    "tune built into the program, repeating it for as long as the demo runs.\n"
    "\n"
    "Controls: drag the window by its title strip; the close button (x) at the\n"
    "top right ends the demo. Close requests from the desktop are ignored;\n"
    "Ctrl+C or SIGTERM end it.\n"
    "\n"
    "Needs a display with OpenGL 2.0; without a sound device it runs silently.\n"
    "\n"
    "Options:\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 when the close button ended the demo or when there is no\n"
    "shader support (after its message); 1 when there is no display; 2 for\n"
    "any argument other than these options.\n";

}  // namespace

int main(int argc, char** argv) {
  const int answered = answerCommandLine("orb2k16", kUsage, argc, argv);
  if (answered >= 0) return answered;
  return runDemo(kShaderScene);
}
