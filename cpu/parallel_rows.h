// The one parallel loop of the system, and the CPU renderer's whole-frame loop built on it.
#pragma once

#include <functional>
#include <vector>

#include "cpu/abort_check.h"
#include "cpu/emitter_matte.h"
#include "cpu/flame_settings.h"

// Runs job(0) ... job(n - 1) on the calling thread plus up to five worker threads started for
// this call and joined before it returns. Below 16 indices everything runs inline, in order.
// Every thread started is joined before anything is thrown, and the first failure reaches the
// caller: an exception from a job (after which no new chunk is begun), or a worker that could not
// be started: std::system_error (resource_unavailable_try_again, "resource unavailable try
// again"), thrown after the threads already running have finished every index.
void parallelFor(int n, const std::function<void(int)>& job);

// The same with the platform's hardware-thread count given, so tests can pin it.
void parallelFor(int n, const std::function<void(int)>& job, unsigned hardwareThreads);

// The frame loop without the shading: renderRow(row) for rows 0 ... height - 1, 24 rows to a
// parallelFor call, with the abort check asked before every band and once at the end (from the
// calling thread only). Returns false as soon as it asks to stop.
bool renderRowBands(uint32_t height, AbortCheckFunction abortCheck, void* abortContext,
                    const std::function<void(int)>& renderRow, unsigned hardwareThreads);

// Renders the whole frame into image (resized to width x height, new pixels zero) in bands of
// 24 rows, asking the abort check before every band and once at the end. Returns false when it
// asked to stop; rows not yet rendered then stay zero. Pixels outside the layer are zero.
bool renderFrameCpu(const FlameSettings& settings, AbortCheckFunction abortCheck,
                    void* abortContext, const EmitterMatte& matte, std::vector<float4>& image);
