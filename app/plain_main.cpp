// orb2k16-plain: the demo with a cleared surface in place of the shader scene.
// The window and control end-to-end tests run it: on a software renderer a
// scene frame takes a second or more, and the main loop takes one event per
// frame, so clicks and drags would crawl.
#include <cstdlib>

#include "app/command_line.h"
#include "app/demo.h"
#include "app/plain_scene.h"

int main(int argc, char** argv) {
  const int answered =
      answerCommandLine("orb2k16-plain",
                        "Usage: orb2k16-plain [--help | --version]\n"
                        "The demo with a cleared surface in place of the scene, for tests.\n",
                        argc, argv);
  if (answered >= 0) return answered;
#if !defined(_WIN32)
  // The window keeps the demo's class name, by which tests find it.
  setenv("SDL_VIDEO_X11_WMCLASS", "orb2k16", 0);
#endif
  return runDemo(kPlainScene);
}
