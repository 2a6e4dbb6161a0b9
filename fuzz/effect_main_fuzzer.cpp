// EffectMain driven as a host drives it, in any order: the bytes become a sequence of commands
// with their parameter arrays, host values (time, scale, downsampling, layer size, pixel aspect),
// pixel worlds of every layout and depth, abort points and failing callbacks. Processing stays
// on the CPU: the GPU paths need a device and are compared with the CPU by their own tests.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "host/effect_main.h"
#include "host/parameter_set.h"
#include "tests/support/test_host.h"

namespace {

constexpr double kProcessingCpu = 3.0;
// Layers and outputs stay tiny and an input renders a few times at most: what a render does with
// its pixels is the same for 8 pixels as for 8,000, and at these sizes a run takes about a
// millisecond, so the fuzzer spends its time on sequences of commands, not on shading.
constexpr int kLargestSide = 8;
constexpr int kRendersPerInput = 3;

WorldLayout consumeLayout(FuzzedDataProvider& bytes, int bitsPerChannel) {
  WorldLayout layout;
  layout.width = bytes.ConsumeIntegralInRange(0, kLargestSide);
  layout.height = bytes.ConsumeIntegralInRange(0, kLargestSide);
  layout.bitsPerChannel = bitsPerChannel;
  layout.bottomUp = bytes.ConsumeBool();
  layout.rowPadding = bytes.ConsumeIntegralInRange(0, 3) * 4;
  layout.originX = bytes.ConsumeIntegralInRange(-8, 8);
  layout.originY = bytes.ConsumeIntegralInRange(-8, 8);
  return layout;
}

int consumeDepth(FuzzedDataProvider& bytes) { return bytes.PickValueInArray({8, 16, 32}); }

// A layer world whose pixels are the next bytes: any value, including NaN floats.
HostWorld consumeLayer(FuzzedDataProvider& bytes) {
  HostWorld world = makeHostWorld(consumeLayout(bytes, consumeDepth(bytes)));
  const std::vector<uint8_t> pixels = bytes.ConsumeBytes<uint8_t>(world.storage.size());
  std::copy(pixels.begin(), pixels.end(), world.storage.begin());
  return world;
}

double consumeSliderValue(FuzzedDataProvider& bytes) {
  switch (bytes.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return bytes.ConsumeFloatingPoint<double>();
    case 1:
      return bytes.ConsumeFloatingPointInRange(-200.0, 200.0);
    case 2:
      return bytes.PickValueInArray({0.0, -0.0, 1.0, -1.0, 1e-30, 1e30, __builtin_nan(""), __builtin_inf(), -__builtin_inf()});
    default:
      return static_cast<double>(bytes.ConsumeIntegralInRange(-4, 300));
  }
}

void setParameter(TestHost& host, FuzzedDataProvider& bytes) {
  const PF_ParamIndex position = bytes.ConsumeIntegralInRange<PF_ParamIndex>(1, kParamCount - 1);
  switch (host.values[position].param_type) {
    case PF_Param_FLOAT_SLIDER:
      host.setValue(position, consumeSliderValue(bytes));
      break;
    case PF_Param_POPUP:
    case PF_Param_CHECKBOX:
      // Hosts hand out the declared choices; a little beyond them tests the clamps.
      host.setValue(position, bytes.ConsumeIntegralInRange(-1, 5));
      break;
    case PF_Param_ANGLE:
      host.setValue(position, bytes.ConsumeIntegral<int32_t>());
      break;
    default:
      break;
  }
  host.setValue(kParamProcessing, kProcessingCpu);
}

void setHostValues(TestHost& host, FuzzedDataProvider& bytes) {
  PF_InData& in = host.in_data;
  in.current_time = bytes.ConsumeIntegral<A_long>();
  in.time_step = bytes.ConsumeIntegralInRange<A_long>(-2, 1001);
  in.time_scale = bytes.ConsumeIntegralInRange<A_u_long>(0, 120000);
  in.total_time = bytes.ConsumeIntegral<A_long>();
  in.width = bytes.ConsumeIntegralInRange<A_long>(-1, kLargestSide);
  in.height = bytes.ConsumeIntegralInRange<A_long>(-1, kLargestSide);
  in.downsample_x = {bytes.ConsumeIntegralInRange<A_long>(0, 2), bytes.ConsumeIntegralInRange<A_u_long>(0, 8)};
  in.downsample_y = {bytes.ConsumeIntegralInRange<A_long>(0, 2), bytes.ConsumeIntegralInRange<A_u_long>(0, 8)};
  in.pixel_aspect_ratio = {bytes.ConsumeIntegralInRange<A_long>(-1, 250), bytes.ConsumeIntegralInRange<A_u_long>(0, 12)};
}

void failACallback(TestHost& host, FuzzedDataProvider& bytes) {
  const auto callback = static_cast<HostCallback>(
      bytes.ConsumeIntegralInRange<int>(0, static_cast<int>(HostCallback::GetPlatformData)));
  const PF_Err code = bytes.PickValueInArray<PF_Err>({PF_Err_OUT_OF_MEMORY, PF_Err_INTERNAL_STRUCT_DAMAGED,
                                                      PF_Err_BAD_CALLBACK_PARAM, PF_Interrupt_CANCEL, -1});
  host.failCall(callback, bytes.ConsumeIntegralInRange(1, 6), code);
}

void smartRender(TestHost& host, FuzzedDataProvider& bytes) {
  PF_LRect request;
  request.left = bytes.ConsumeIntegralInRange(-50, 60);
  request.top = bytes.ConsumeIntegralInRange(-50, 60);
  request.right = bytes.ConsumeIntegralInRange(-50, 60);
  request.bottom = bytes.ConsumeIntegralInRange(-50, 60);
  const int depth = consumeDepth(bytes);
  const PreRenderResult pre = host.smartPreRender(request, static_cast<A_short>(depth));
  if (pre.err != PF_Err_NONE || bytes.ConsumeBool()) {
    return;
  }
  // The host's output matches the result rectangle, or at times any other size.
  const PF_LRect& result = pre.output.result_rect;
  WorldLayout layout = consumeLayout(bytes, depth);
  if (bytes.ConsumeBool()) {
    layout.width = result.right - result.left;
    layout.height = result.bottom - result.top;
  }
  if (layout.width < 0 || layout.height < 0 || layout.width > kLargestSide * 2 || layout.height > kLargestSide * 2) {
    return;
  }
  HostWorld output = makeHostWorld(layout);
  host.smartRender(output, static_cast<A_short>(depth));
}

void runCommand(TestHost& host, FuzzedDataProvider& bytes, int& renders) {
  int command = bytes.ConsumeIntegralInRange(0, 10);
  if ((command == 3 || command == 4) && ++renders > kRendersPerInput) {
    command = 0;
  }
  switch (command) {
    case 0:
    case 1:
      setParameter(host, bytes);
      break;
    case 2:
      setHostValues(host, bytes);
      break;
    case 3: {
      HostWorld output = makeHostWorld(consumeLayout(bytes, bytes.PickValueInArray({8, 16})));
      host.plainRender(output);
      break;
    }
    case 4:
      smartRender(host, bytes);
      break;
    case 5:
      host.emitterLayer.reset();
      if (bytes.ConsumeBool()) {
        host.emitterLayer = consumeLayer(bytes);
      }
      break;
    case 6:
      host.inputLayer.reset();
      if (bytes.ConsumeBool()) {
        host.inputLayer = consumeLayer(bytes);
      }
      break;
    case 7:
      host.abortFromCall(bytes.ConsumeIntegralInRange(0, 40));
      break;
    case 8:
      failACallback(host, bytes);
      break;
    case 9: {
      PF_UserChangedParamExtra changed{bytes.ConsumeIntegralInRange<PF_ParamIndex>(-1, kParamCount)};
      host.command(PF_Cmd_USER_CHANGED_PARAM, &changed);
      break;
    }
    default:
      host.command(bytes.PickValueInArray<PF_Cmd>({PF_Cmd_UPDATE_PARAMS_UI, static_cast<PF_Cmd>(2),
                                                   static_cast<PF_Cmd>(99)}));
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider bytes(data, size);
  // The fast kernels build a table of noise corners for each new time, which costs as much as a
  // thousand tiny renders: one input in eight renders with them, the rest with the reference.
  if (bytes.ConsumeIntegralInRange(0, 7) == 0) {
    unsetenv("VORTELLINE_CPU_KERNEL");
  } else {
    setenv("VORTELLINE_CPU_KERNEL", "reference", 1);
  }
  TestHost host;
  if (host.globalSetup() != PF_Err_NONE || host.paramsSetup() != PF_Err_NONE) {
    __builtin_trap();
  }
  host.in_data.width = 8;
  host.in_data.height = 6;
  host.setValue(kParamQuality, 1.0);
  host.setValue(kParamProcessing, kProcessingCpu);
  int renders = 0;
  for (int command = 0; command < 24 && bytes.remaining_bytes() > 0; ++command) {
    runCommand(host, bytes, renders);
  }
  host.globalSetdown();
  return 0;
}
