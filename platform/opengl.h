#pragma once
// The system's OpenGL headers: OpenGL 1.1 and the typedefs of the later entry
// points, which are resolved by name at run time with glProcAddress.
#if defined(_WIN32)
// The GL header needs these two from the system headers; defining them here
// keeps the rest of the system headers out of the program's sources.
#ifndef APIENTRY
#define APIENTRY __stdcall
#endif
#ifndef WINGDIAPI
#define WINGDIAPI __declspec(dllimport)
#endif
#include <GL/gl.h>
#include <GL/glext.h>
#else
#include <SDL2/SDL_opengl.h>
#endif

// Address of an OpenGL entry point for the current context; null when the
// name does not resolve.
void* glProcAddress(const char* name);
