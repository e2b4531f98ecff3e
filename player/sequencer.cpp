#include "player/sequencer.h"
