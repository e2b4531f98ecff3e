#include "player/tune_image.h"
