#include "tools/tunesrc/live_source.h"

#include <fstream>
#include <sstream>

#include "tools/tunesrc/compile.h"

namespace tunesrc {

namespace {

constexpr char kMissing[] = "\x01(missing)";

// The names and texts of every file the source reads: comparing the text
// rather than modification times catches two saves within one time stamp.
std::string takeSnapshot(const std::string& path) {
  std::string snapshot;
  for (const std::string& file : sourceFiles(mainFileOf(path))) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    snapshot += file;
    snapshot += '\n';
    snapshot += in ? text.str() : kMissing;
    snapshot += '\0';
  }
  return snapshot;
}

// Keeps the image the player reads and the one on its way in.
void releaseUnused(LiveSource& live, Playback& pb) {
  const bool pending = replacementPending(pb);
  while (live.images.size() > (pending ? 2u : 1u)) {
    if (pending)
      live.images.erase(live.images.begin() + 1);
    else
      live.images.pop_front();
  }
}

}  // namespace

bool startLiveSource(LiveSource& live, Playback& pb, BuildError& error) {
  live.snapshot = takeSnapshot(live.path);
  std::vector<uint8_t> image;
  if (!buildTuneImage(live.path, image, error)) return false;
  ParseResult why;
  if (!playTune(pb, image.data(), image.size(), &why)) {
    error = {SourcePos{mainFileOf(live.path), 0}, why.reason};
    return false;
  }
  // playTune reads the bytes where they are: keep them where they were played from.
  live.images.clear();
  live.images.push_back(std::move(image));
  return true;
}

Refresh refreshLiveSource(LiveSource& live, Playback& pb, BuildError& error) {
  releaseUnused(live, pb);
  std::string snapshot = takeSnapshot(live.path);
  if (snapshot == live.snapshot) return Refresh::Unchanged;
  live.snapshot = std::move(snapshot);
  std::vector<uint8_t> image;
  if (!buildTuneImage(live.path, image, error)) return Refresh::Failed;
  live.images.push_back(std::move(image));
  const std::vector<uint8_t>& added = live.images.back();
  ParseResult why;
  if (!replaceTune(pb, added.data(), added.size(), &why)) {
    live.images.pop_back();
    error = {SourcePos{mainFileOf(live.path), 0}, why.reason};
    return Refresh::Failed;
  }
  releaseUnused(live, pb);
  return Refresh::Rebuilt;
}

}  // namespace tunesrc
