// The one place where failures become host results; no exception ever leaves the module.
#pragma once

#include <cstdio>
#include <exception>
#include <new>

#include "sdk/effect_sdk.h"

// Runs the handler and maps what it raises, in this order: a failed host callback's own code
// (a plain PF_Err), allocation failure, described failures (shown to the user as
// "Vortelline: <text>"), anything else, including PF_ErrorCode values raised by handlers, which
// deliberately report 512 without a message.
template <typename Handler>
PF_Err reportFailures(PF_OutData* out_data, Handler&& handler) noexcept {
  try {
    return handler();
  } catch (PF_Err code) {
    return code;
  } catch (const std::bad_alloc&) {
    return PF_Err_OUT_OF_MEMORY;
  } catch (const std::exception& failure) {
    if (out_data != nullptr) {
      std::snprintf(out_data->return_msg, sizeof out_data->return_msg, "Vortelline: %s", failure.what());
      out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    }
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  } catch (...) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
}
