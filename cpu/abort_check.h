#pragma once

// The host's stop request as the renderers see it: a callback with its context, or none.
typedef bool (*AbortCheckFunction)(void* context);

inline bool stopRequested(AbortCheckFunction abortCheck, void* abortContext) {
  return abortCheck != nullptr && abortCheck(abortContext);
}
