#pragma once
// A scene without shaders: the surface is cleared to black every frame.
#include "app/demo.h"

bool preparePlainScene(DemoState& demo, Platform& platform);
void renderPlainFrame(DemoState& demo, Platform& platform);

inline constexpr Scene kPlainScene{preparePlainScene, renderPlainFrame};
