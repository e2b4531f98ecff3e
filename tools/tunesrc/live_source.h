#pragma once
// A tune source played while it is edited: every change to any of its files
// is rebuilt, and a good build takes over from the same bar and tick while
// the music plays on; a bad one is reported and the last good build keeps
// playing.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "player/playback.h"
#include "tools/tunesrc/source.h"

namespace tunesrc {

struct LiveSource {
  std::string path;      // a folder holding main.tune, or a source file
  std::string snapshot;  // the text of every file the source read at the last build
  // The image playing first; the last one may still be on its way in. Every
  // image stays here while the player may read it.
  std::deque<std::vector<uint8_t>> images;
};

enum class Refresh {
  Unchanged,  // no file changed since the last build
  Rebuilt,    // rebuilt and handed to the player
  Failed,     // the build failed: the last good tune plays on
};

// Builds the source and starts it on `pb` (playTune): the player is active
// and Stopped until it is told where to play from. False with the error.
bool startLiveSource(LiveSource& live, Playback& pb, BuildError& error);

// Rebuilds when any file of the source changed since the last build (first
// call after start: only if something changed). A good build is handed to
// the player with replaceTune; a failed one leaves the player as it was and
// reports `FILE:LINE: message` in `error`. Images the player no longer reads
// are released.
Refresh refreshLiveSource(LiveSource& live, Playback& pb, BuildError& error);

}  // namespace tunesrc
