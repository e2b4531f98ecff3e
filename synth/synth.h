#pragma once
// The synthesizer core's entry points and state record. Filled in by the core.
