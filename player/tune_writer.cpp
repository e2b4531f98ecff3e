#include "player/tune_writer.h"
