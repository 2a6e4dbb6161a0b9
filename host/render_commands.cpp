#include "host/render_commands.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "host/param_checkout.h"
#include "host/parameter_set.h"
#include "render/render_driver.h"
#include "render/flame_settings_build.h"

namespace {

// The largest layer the effect renders; the emitter is requested whole.
constexpr A_long kEmitterRequestSize = 16384;

void deletePreRenderData(void* data) { delete static_cast<PreRenderData*>(data); }

int32_t depthFromBitDepth(A_short bitdepth) {
  if (bitdepth == 32) return kDepth32;
  if (bitdepth == 16) return kDepth16;
  return kDepth8;
}

PF_Err renderResult(bool rendered) { return rendered ? PF_Err_NONE : PF_Interrupt_CANCEL; }

// The frame size at the current downsampling as a host rectangle coordinate. Pre-render runs
// before any geometry check, so a nonsensical downsample factor saturates instead of overflowing.
A_long frameExtent(int32_t fullSize, double downsample) {
  const double extent = downsampledSize(fullSize, downsample);
  return A_long(std::clamp(extent, double(std::numeric_limits<A_long>::min()),
                           double(std::numeric_limits<A_long>::max())));
}

// The plain path's output origin is the layer position negated; INT_MIN has no negation in
// 32 bits and saturates (the frame then lies outside the layer either way).
int32_t negatedOrigin(A_long outputOrigin) {
  return int32_t(std::min<int64_t>(-int64_t{outputOrigin}, std::numeric_limits<int32_t>::max()));
}

// Checks the emitter layer back in on every path that checked it out, exceptions included.
class EmitterCheckout {
 public:
  EmitterCheckout(PF_SmartRenderCallbacks* callbacks, PF_ProgPtr effect_ref)
      : callbacks_(callbacks), effect_ref_(effect_ref) {}
  ~EmitterCheckout() {
    if (checkedOut_) callbacks_->checkin_layer_pixels(effect_ref_, kEmitterCheckoutId);
  }
  EmitterCheckout(const EmitterCheckout&) = delete;
  EmitterCheckout& operator=(const EmitterCheckout&) = delete;

  PF_Err checkout(PF_EffectWorld** world) {
    PF_Err err = callbacks_->checkout_layer_pixels(effect_ref_, kEmitterCheckoutId, world);
    checkedOut_ = err == PF_Err_NONE;
    return err;
  }
  // Checks in now and returns the host's answer; 0 when nothing was checked out.
  PF_Err checkin() {
    if (!checkedOut_) return PF_Err_NONE;
    checkedOut_ = false;
    return callbacks_->checkin_layer_pixels(effect_ref_, kEmitterCheckoutId);
  }

 private:
  PF_SmartRenderCallbacks* callbacks_;
  PF_ProgPtr effect_ref_;
  bool checkedOut_ = false;
};

}  // namespace

PF_Err handleRender(PF_InData* in_data, PF_ParamDef* params[], PF_EffectWorld* output) {
  if (in_data == nullptr || params == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  FrameGeometry outputGeometry = geometryFromWorld(output);
  outputGeometry.originX = negatedOrigin(in_data->output_origin_x);
  outputGeometry.originY = negatedOrigin(in_data->output_origin_y);
  outputGeometry.depth = output != nullptr && (output->world_flags & PF_WorldFlag_DEEP) ? kDepth16 : kDepth8;

  const FlameParams flameParams = checkoutFlameParams(in_data, params);
  RenderRequest request = makeRenderRequest(in_data);
  FrameGeometry emitterGeometry;
  if (flameParams.emitterSource != 0) {
    if (params[kParamEmitterLayer] != nullptr) emitterGeometry = geometryFromWorld(&params[kParamEmitterLayer]->u.ld);
    emitterGeometry.depth = outputGeometry.depth;
    request.emitter = &emitterGeometry;
  }
  return renderResult(renderFlames(outputGeometry, flameParams, request));
}

PF_Err handleSmartPreRender(PF_InData* in_data, PF_PreRenderExtra* extra) {
  if (in_data == nullptr || extra == nullptr || extra->input == nullptr || extra->output == nullptr) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  auto data = std::make_unique<PreRenderData>();
  data->params = checkoutFlameParams(in_data, nullptr);
  data->layerWidth = in_data->width;
  data->layerHeight = in_data->height;
  const RenderRequest request = makeRenderRequest(in_data);

  if (data->params.emitterSource != 0) {
    if (extra->cb == nullptr || extra->cb->checkout_layer == nullptr) return PF_Err_INVALID_CALLBACK;
    PF_RenderRequest layerRequest = extra->input->output_request;
    layerRequest.rect = PF_LRect{0, 0, kEmitterRequestSize, kEmitterRequestSize};
    layerRequest.channel_mask = PF_ChannelMask_ARGB;
    layerRequest.preserve_rgb_of_zero_alpha = 0;
    PF_CheckoutResult checkoutResult{};
    PF_Err err = extra->cb->checkout_layer(in_data->effect_ref, kParamEmitterLayer, kEmitterCheckoutId, &layerRequest,
                                           in_data->current_time, in_data->time_step, in_data->time_scale,
                                           &checkoutResult);
    if (err != PF_Err_NONE) return err;
  }

  const A_long frameWidth = frameExtent(data->layerWidth, request.downsampleX);
  const A_long frameHeight = frameExtent(data->layerHeight, request.downsampleY);
  const PF_LRect& wanted = extra->input->output_request.rect;
  PF_PreRenderOutput& out = *extra->output;
  out.max_result_rect = PF_LRect{0, 0, frameWidth, frameHeight};
  out.result_rect = PF_LRect{std::max<A_long>(wanted.left, 0), std::max<A_long>(wanted.top, 0),
                             std::min(wanted.right, frameWidth), std::min(wanted.bottom, frameHeight)};
  if (out.result_rect.right < out.result_rect.left || out.result_rect.bottom < out.result_rect.top) {
    out.result_rect = PF_LRect{0, 0, 0, 0};
  }
  out.pre_render_data = data.release();
  out.delete_pre_render_data_func = deletePreRenderData;
  return PF_Err_NONE;
}

PF_Err handleSmartRender(PF_InData* in_data, PF_SmartRenderExtra* extra) {
  if (in_data == nullptr || extra == nullptr || extra->input == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  const PreRenderData* data = static_cast<const PreRenderData*>(extra->input->pre_render_data);
  if (data == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;
  PF_SmartRenderCallbacks* callbacks = extra->cb;
  if (callbacks == nullptr || callbacks->checkout_output == nullptr ||
      (data->params.emitterSource != 0 &&
       (callbacks->checkout_layer_pixels == nullptr || callbacks->checkin_layer_pixels == nullptr))) {
    return PF_Err_INVALID_CALLBACK;
  }
  const int32_t depth = depthFromBitDepth(extra->input->bitdepth);

  EmitterCheckout emitter(callbacks, in_data->effect_ref);
  FrameGeometry emitterGeometry;
  if (data->params.emitterSource != 0) {
    PF_EffectWorld* emitterWorld = nullptr;
    PF_Err err = emitter.checkout(&emitterWorld);
    if (err != PF_Err_NONE) return err;
    emitterGeometry = geometryFromWorld(emitterWorld);
    if (emitterWorld != nullptr) {
      emitterGeometry.originX = emitterWorld->origin_x;
      emitterGeometry.originY = emitterWorld->origin_y;
    }
    emitterGeometry.depth = depth;
  }

  PF_EffectWorld* outputWorld = nullptr;
  PF_Err err = callbacks->checkout_output(in_data->effect_ref, &outputWorld);
  if (err != PF_Err_NONE) return err;
  FrameGeometry outputGeometry = geometryFromWorld(outputWorld);
  if (outputWorld != nullptr) {
    outputGeometry.originX = outputWorld->origin_x;
    outputGeometry.originY = outputWorld->origin_y;
  }
  outputGeometry.depth = depth;

  RenderRequest request = makeRenderRequest(in_data);
  request.layerWidth = data->layerWidth;
  request.layerHeight = data->layerHeight;
  if (data->params.emitterSource != 0) request.emitter = &emitterGeometry;

  const bool rendered = renderFlames(outputGeometry, data->params, request);
  const PF_Err checkinErr = emitter.checkin();
  return rendered ? checkinErr : PF_Interrupt_CANCEL;
}
