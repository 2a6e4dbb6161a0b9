// Rendering through EffectMain as a host drives it: parameter checkout, smart pre-render and
// render, the plain render command, and what each path checks out and back in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host/param_checkout.h"
#include "host/parameter_set.h"
#include "gpu/gpu_operations.h"
#include "render/render_driver.h"
#include "tests/gpu/gpu_test_device.h"
#include "tests/support/test_host.h"
#include "tests/support/without_gpu.h"

namespace {

class RenderCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
    host.in_data.width = 12;
    host.in_data.height = 8;
    host.in_data.current_time = 30;
    host.setValue(kParamQuality, 1);     // "Draft (64)": keeps frames cheap
    host.setValue(kParamProcessing, 3);  // "CPU"
  }

  // A white disc-free emitter: a bright square in the lower half of the layer.
  void giveEmitterLayer(int bitsPerChannel) {
    host.emitterLayer = makeHostWorld({12, 8, bitsPerChannel});
    HostWorld& layer = *host.emitterLayer;
    for (int y = 5; y < 8; ++y) {
      for (int x = 4; x < 8; ++x) {
        uint8_t* pixel = layer.row(y) + x * 4 * (bitsPerChannel / 8);
        for (int c = 0; c < 4; ++c) {
          if (bitsPerChannel == 8) pixel[c] = 255;
          if (bitsPerChannel == 16) reinterpret_cast<uint16_t*>(pixel)[c] = 32768;
          if (bitsPerChannel == 32) reinterpret_cast<float*>(pixel)[c] = 1.0f;
        }
      }
    }
  }

  TestHost host;
};

TEST_F(RenderCommands, PreRenderRectanglesFollowTheDownsampledLayer) {
  host.in_data.width = 1920;
  host.in_data.height = 1080;
  const struct {
    A_long width;
    A_long downsampleDen;
    PF_LRect request;
    PF_LRect result;
    PF_LRect max;
  } cases[] = {
      {1920, 1, {-10, -10, 5000, 5000}, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}},
      {1920, 2, {-10, -10, 5000, 5000}, {0, 0, 960, 540}, {0, 0, 960, 540}},
      {1921, 2, {-10, -10, 5000, 5000}, {0, 0, 961, 540}, {0, 0, 961, 540}},
      {1920, 1, {100, 50, 300, 200}, {100, 50, 300, 200}, {0, 0, 1920, 1080}},
      {1920, 1, {3000, 0, 3100, 100}, {0, 0, 0, 0}, {0, 0, 1920, 1080}},
      // A factor far above 1 is refused later by the render; here it saturates, it never wraps.
      {16384, -1, {0, 0, 100, 100}, {0, 0, 100, 100}, {0, 0, 2147483647, 2147483647}},
  };
  for (const auto& c : cases) {
    host.in_data.width = c.width;
    host.in_data.downsample_x = c.downsampleDen > 0 ? PF_RationalScale{1, A_u_long(c.downsampleDen)}
                                                   : PF_RationalScale{1 << 30, 1};
    host.in_data.downsample_y = host.in_data.downsample_x;
    PreRenderResult result = host.smartPreRender(c.request, 8);
    ASSERT_EQ(result.err, PF_Err_NONE);
    const PF_LRect& r = result.output.result_rect;
    const PF_LRect& m = result.output.max_result_rect;
    EXPECT_EQ((std::vector<A_long>{r.left, r.top, r.right, r.bottom}),
              (std::vector<A_long>{c.result.left, c.result.top, c.result.right, c.result.bottom}));
    EXPECT_EQ((std::vector<A_long>{m.left, m.top, m.right, m.bottom}),
              (std::vector<A_long>{c.max.left, c.max.top, c.max.right, c.max.bottom}));
    EXPECT_NE(result.output.pre_render_data, nullptr);
    EXPECT_NE(result.output.delete_pre_render_data_func, nullptr);
  }
}

TEST_F(RenderCommands, PreRenderReadsEveryParameterOnceAndRequestsTheEmitterOnlyForLayers) {
  PreRenderResult volume = host.smartPreRender({0, 0, 12, 8}, 8);
  ASSERT_EQ(volume.err, PF_Err_NONE);
  EXPECT_EQ(host.paramCheckouts.size(), 36u);
  EXPECT_EQ(host.paramsCheckedOut, 0);
  EXPECT_TRUE(host.layerCheckouts.empty());
  const std::vector<PF_ParamIndex> expectedOrder = {11, 12, 13, 14, 15, 16, 17, 19, 20, 21, 24, 25,
                                                    26, 29, 30, 31, 32, 35, 37, 38, 41, 43, 44, 47,
                                                    49, 50, 53, 54, 55, 56, 2, 3, 4, 6, 8, 9};
  std::vector<PF_ParamIndex> order;
  for (const ParamCheckout& checkout : host.paramCheckouts) {
    order.push_back(checkout.position);
    EXPECT_EQ(checkout.what_time, 30);
    EXPECT_EQ(checkout.time_step, 1);
    EXPECT_EQ(checkout.time_scale, 24u);
  }
  EXPECT_EQ(order, expectedOrder);

  host.setValue(kParamEmitterSource, 2);  // "Layer Alpha"
  ASSERT_EQ(host.smartPreRender({0, 0, 12, 8}, 16).err, PF_Err_NONE);
  ASSERT_EQ(host.layerCheckouts.size(), 1u);
  const LayerCheckout& layer = host.layerCheckouts[0];
  EXPECT_EQ(layer.position, 7);
  EXPECT_EQ(layer.checkout_id, 7);
  EXPECT_EQ((std::vector<A_long>{layer.request.rect.left, layer.request.rect.top, layer.request.rect.right,
                                 layer.request.rect.bottom}),
            (std::vector<A_long>{0, 0, 16384, 16384}));
  EXPECT_EQ(layer.request.channel_mask, PF_ChannelMask_ARGB);
  EXPECT_EQ(layer.request.preserve_rgb_of_zero_alpha, 0);
  EXPECT_EQ(layer.what_time, 30);
  EXPECT_EQ(layer.time_scale, 24u);
}

// Every control reaches its own field, read from the array (plain render) and through checkout
// (smart pre-render) alike: each gets a value no other control has, so two controls read into
// each other's fields, or one read twice, show.
TEST_F(RenderCommands, EveryControlReachesItsOwnField) {
  struct Slider {
    PF_ParamIndex position;
    float FlameParams::*field;
  };
  const Slider sliders[] = {
      {kParamRiseHeight, &FlameParams::riseHeight},
      {kParamRiseSpeed, &FlameParams::riseSpeed},
      {kParamDensity, &FlameParams::density},
      {kParamStepSize, &FlameParams::stepSize},
      {kParamSphereRadius, &FlameParams::sphereRadius},
      {kParamNoiseAmplitude, &FlameParams::noiseAmplitude},
      {kParamNoiseFrequency, &FlameParams::noiseFrequency},
      {kParamAnimationSpeed, &FlameParams::animationSpeed},
      {kParamAnimationOffset, &FlameParams::animationOffset},
      {kParamNoiseDirectionX, &FlameParams::noiseDirectionX},
      {kParamNoiseDirectionY, &FlameParams::noiseDirectionY},
      {kParamNoiseDirectionZ, &FlameParams::noiseDirectionZ},
      {kParamBrightness, &FlameParams::brightness},
      {kParamContrast, &FlameParams::contrast},
      {kParamSaturation, &FlameParams::saturation},
      {kParamTintAmount, &FlameParams::tintAmount},
      {kParamTintRed, &FlameParams::tintRed},
      {kParamTintGreen, &FlameParams::tintGreen},
      {kParamTintBlue, &FlameParams::tintBlue},
      {kParamInnerHue, &FlameParams::innerHue},
      {kParamInnerGain, &FlameParams::innerGain},
      {kParamInnerOpacity, &FlameParams::innerOpacity},
      {kParamMainHue, &FlameParams::mainHue},
      {kParamMainGain, &FlameParams::mainGain},
      {kParamMainOpacity, &FlameParams::mainOpacity},
      {kParamOuterHue, &FlameParams::outerHue},
      {kParamOuterGain, &FlameParams::outerGain},
      {kParamOuterOpacity, &FlameParams::outerOpacity},
      {kParamZoom, &FlameParams::zoom},
      {kParamCenterX, &FlameParams::centerX},
      {kParamCenterY, &FlameParams::centerY},
      {kParamCameraDistance, &FlameParams::cameraDistance},
  };
  for (const Slider& slider : sliders) {
    host.setValue(slider.position, 0.25 + slider.position);  // exact in single precision
  }
  // Popups count from 1: distinct choice codes, none of them its field's default.
  host.setValue(kParamQuality, 1);
  host.setValue(kParamProcessing, 3);
  host.setValue(kParamEmitterSource, 2);
  host.setValue(kParamSmoothSampling, 0);
  for (bool fromArray : {true, false}) {
    const FlameParams read = checkoutFlameParams(&host.in_data, fromArray ? host.paramArray() : nullptr);
    const char* path = fromArray ? "array" : "checkout";
    for (const Slider& slider : sliders) {
      EXPECT_EQ(read.*slider.field, 0.25f + float(slider.position)) << path << ", position " << slider.position;
    }
    EXPECT_EQ(read.quality, 0) << path;
    EXPECT_EQ(read.processing, 2) << path;
    EXPECT_EQ(read.emitterSource, 1) << path;
    EXPECT_EQ(read.smoothSampling, 0) << path;
  }
  EXPECT_EQ(host.paramsCheckedOut, 0);
}

TEST_F(RenderCommands, PreRenderFailuresReturnTheHostsCodeAndFreeTheBlock) {
  host.failCall(HostCallback::CheckoutParam, 20, -42);
  PreRenderResult failed = host.smartPreRender({0, 0, 12, 8}, 8);
  EXPECT_EQ(failed.err, -42);
  EXPECT_EQ(failed.output.pre_render_data, nullptr);  // nothing handed over, nothing leaked
  EXPECT_EQ(host.callCount(HostCallback::CheckoutParam), 20);
  EXPECT_EQ(host.callCount(HostCallback::CheckinParam), 19);

  host.setValue(kParamEmitterSource, 3);  // "Layer Luma"
  host.failCall(HostCallback::CheckoutLayer, 1, 9);
  failed = host.smartPreRender({0, 0, 12, 8}, 8);
  EXPECT_EQ(failed.err, 9);
  EXPECT_EQ(failed.output.pre_render_data, nullptr);
  EXPECT_EQ(failed.output.max_result_rect.right, 0);
}

TEST_F(RenderCommands, SmartRenderChecksTheEmitterBackInOnEveryPath) {
  HostWorld output = makeHostWorld({12, 8, 8});
  EXPECT_EQ(host.smartRender(output, 8), PF_Err_INTERNAL_STRUCT_DAMAGED);  // no pre-render data

  host.setValue(kParamEmitterSource, 2);
  giveEmitterLayer(8);

  host.failCall(HostCallback::CheckoutLayerPixels, 1, 33);
  ASSERT_EQ(host.smartPreRender({0, 0, 12, 8}, 8).err, PF_Err_NONE);
  EXPECT_EQ(host.smartRender(output, 8), 33);
  EXPECT_EQ(host.layerPixelsCheckedOut, 0);

  host.failCall(HostCallback::CheckoutOutput, 1, 44);
  ASSERT_EQ(host.smartPreRender({0, 0, 12, 8}, 8).err, PF_Err_NONE);
  EXPECT_EQ(host.smartRender(output, 8), 44);
  EXPECT_EQ(host.layerPixelsCheckedOut, 0);

  // A described failure from the driver still checks the layer in.
  host.setValue(kParamDensity, std::numeric_limits<double>::quiet_NaN());
  ASSERT_EQ(host.smartPreRender({0, 0, 12, 8}, 8).err, PF_Err_NONE);
  EXPECT_EQ(host.smartRender(output, 8), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_STREQ(host.out_data.return_msg, "Vortelline: Non-finite parameter: Density");
  EXPECT_TRUE(host.out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
  EXPECT_EQ(host.layerPixelsCheckedOut, 0);

  // A cancelled frame is 517, and the layer still goes back.
  host.setValue(kParamDensity, 1.0);
  host.abortFromCall(host.callCount(HostCallback::Abort) + 1);
  ASSERT_EQ(host.smartPreRender({0, 0, 12, 8}, 8).err, PF_Err_NONE);
  EXPECT_EQ(host.smartRender(output, 8), PF_Interrupt_CANCEL);
  EXPECT_EQ(host.layerPixelsCheckedOut, 0);

  host.abortFromCall(0);
  host.failCall(HostCallback::CheckinLayerPixels, host.callCount(HostCallback::CheckinLayerPixels) + 1, 55);
  ASSERT_EQ(host.smartPreRender({0, 0, 12, 8}, 8).err, PF_Err_NONE);
  EXPECT_EQ(host.smartRender(output, 8), 55);  // the check-in's own answer
}

TEST_F(RenderCommands, GpuRequiredFailsWithTheGpuMessage) {
  const WithoutGpu withoutGpu;
  host.setValue(kParamProcessing, 2);  // "GPU required"
  HostWorld output = makeHostWorld({12, 8, 8});
  ASSERT_EQ(host.smartPreRender({0, 0, 12, 8}, 8).err, PF_Err_NONE);
  EXPECT_EQ(host.smartRender(output, 8), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_STREQ(host.out_data.return_msg, "Vortelline: No hardware GPU available");
}

// Global set-down lets go of the GPU context, with its device, table and textures: the host may
// unload the module next. Set up again, the effect makes a new one and draws the same frame.
TEST_F(RenderCommands, GlobalSetdownReleasesTheGpuContext) {
  ACQUIRE_GPU_OR_SKIP(probe);
  probe.reset();
  host.setValue(kParamProcessing, 2);  // "GPU required"
  const auto renderOnTheGpu = [&] {
    HostWorld output = makeHostWorld({12, 8, 32});
    EXPECT_EQ(host.smartPreRender({0, 0, 12, 8}, 32).err, PF_Err_NONE);
    EXPECT_EQ(host.smartRender(output, 32), PF_Err_NONE);
    return output.storage;
  };
  const std::vector<uint8_t> first = renderOnTheGpu();
  const std::weak_ptr<GpuContext> used = acquireSharedGpuContext();
  const int devices = gpuOperationAttempts(GpuOperation::createDevice);
  ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
  EXPECT_TRUE(used.expired()) << "the GPU context outlived set-down";
  ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
  EXPECT_EQ(renderOnTheGpu(), first);
  EXPECT_EQ(gpuOperationAttempts(GpuOperation::createDevice) - devices, 1);
}

// Both render paths, every depth and both emitters produce the driver's own frame.
TEST_F(RenderCommands, SmartAndPlainPathsRenderTheDriversFrame) {
  for (int source : {1, 2, 3}) {
    for (int bits : {8, 16, 32}) {
      host.setValue(kParamEmitterSource, source);
      giveEmitterLayer(bits);

      FlameParams params = checkoutFlameParams(&host.in_data, host.paramArray());
      RenderRequest request = makeRenderRequest(&host.in_data);
      request.abortCheck = nullptr;
      FrameGeometry emitter = geometryFromWorld(&host.emitterLayer->world);
      emitter.depth = bits == 32 ? kDepth32 : bits == 16 ? kDepth16 : kDepth8;
      if (source != 1) request.emitter = &emitter;
      HostWorld expected = makeHostWorld({12, 8, bits});
      FrameGeometry expectedGeometry = geometryFromWorld(&expected.world);
      expectedGeometry.depth = emitter.depth;
      ASSERT_TRUE(renderFlames(expectedGeometry, params, request));

      HostWorld smart = makeHostWorld({12, 8, bits});
      ASSERT_EQ(host.smartPreRender({0, 0, 12, 8}, A_short(bits)).err, PF_Err_NONE);
      ASSERT_EQ(host.smartRender(smart, A_short(bits)), PF_Err_NONE);
      EXPECT_EQ(smart.storage, expected.storage) << "smart, source " << source << ", " << bits << " bits";
      EXPECT_EQ(host.layerPixelsCheckedOut, 0);

      if (bits == 32) continue;  // the plain path has no float worlds
      HostWorld plain = makeHostWorld({12, 8, bits});
      const size_t checkoutsBefore = host.paramCheckouts.size();
      ASSERT_EQ(host.plainRender(plain), PF_Err_NONE);
      EXPECT_EQ(host.paramCheckouts.size(), checkoutsBefore);  // reads the array only
      EXPECT_EQ(plain.storage, expected.storage) << "plain, source " << source << ", " << bits << " bits";
    }
  }
}

TEST_F(RenderCommands, PlainRenderMapsTheOutputOriginAndCancel) {
  HostWorld expected = makeHostWorld({6, 4, 8});
  FlameParams params = checkoutFlameParams(&host.in_data, host.paramArray());
  RenderRequest request = makeRenderRequest(&host.in_data);
  request.abortCheck = nullptr;
  FrameGeometry geometry = geometryFromWorld(&expected.world);
  geometry.originX = 5;
  geometry.originY = 2;
  ASSERT_TRUE(renderFlames(geometry, params, request));

  host.in_data.output_origin_x = -5;
  host.in_data.output_origin_y = -2;
  HostWorld plain = makeHostWorld({6, 4, 8});
  ASSERT_EQ(host.plainRender(plain), PF_Err_NONE);
  EXPECT_EQ(plain.storage, expected.storage);

  // An origin with no 32-bit negation puts the frame outside the layer: clear pixels, no failure.
  host.in_data.output_origin_x = std::numeric_limits<A_long>::min();
  HostWorld farAway = makeHostWorld({6, 4, 8});
  std::fill(farAway.storage.begin(), farAway.storage.end(), uint8_t{0xAB});
  ASSERT_EQ(host.plainRender(farAway), PF_Err_NONE);
  EXPECT_EQ(farAway.storage, std::vector<uint8_t>(farAway.storage.size(), 0));

  host.abortFromCall(1);
  EXPECT_EQ(host.plainRender(plain), PF_Interrupt_CANCEL);
}

// Smart render draws the frame pre-render saw: its time and layer size, whatever PF_InData says
// by then; the output world's own origin places it in the layer.
TEST_F(RenderCommands, SmartRenderUsesThePreRenderTimeAndLayerSizeAndTheOutputOrigin) {
  host.setValue(kParamAnimationSpeed, 5.0);  // so that a different time draws different flames
  const FlameParams params = checkoutFlameParams(&host.in_data, host.paramArray());
  RenderRequest request = makeRenderRequest(&host.in_data);
  request.abortCheck = nullptr;
  // The driver's 32-bit frame of a 6 x 4 output placed at (5, 3) in the layer.
  auto driverFrame = [](const FlameParams& frameParams, const RenderRequest& frameRequest) {
    HostWorld world = makeHostWorld({6, 4, 32});
    FrameGeometry geometry = geometryFromWorld(&world.world);
    geometry.originX = 5;
    geometry.originY = 3;
    geometry.depth = kDepth32;
    EXPECT_TRUE(renderFlames(geometry, frameParams, frameRequest));
    return world.storage;
  };
  const std::vector<uint8_t> expected = driverFrame(params, request);

  ASSERT_EQ(host.smartPreRender({5, 3, 11, 7}, 32).err, PF_Err_NONE);
  host.in_data.current_time = 31;
  host.in_data.width = 24;
  host.in_data.height = 16;
  HostWorld smart = makeHostWorld({6, 4, 32, false, 0, 5, 3});
  ASSERT_EQ(host.smartRender(smart, 32), PF_Err_NONE);
  EXPECT_EQ(smart.storage, expected);

  // The later time and the larger layer each draw another frame, so the comparison above counts.
  FlameParams later = params;
  later.timeSeconds = 31.0 / 24.0;
  RenderRequest larger = request;
  larger.layerWidth = 24;
  larger.layerHeight = 16;
  EXPECT_NE(driverFrame(later, request), expected);
  EXPECT_NE(driverFrame(params, larger), expected);
}

TEST(ParamCheckout, ConvertsHostValues) {
  TestHost host;
  ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
  const struct {
    double popup;
    int32_t code;
  } choices[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 2}, {-2147483648.0, 0}, {2147483647.0, 2}};
  for (auto c : choices) {
    host.setValue(kParamQuality, c.popup);
    host.setValue(kParamEmitterSource, c.popup);
    EXPECT_EQ(checkoutFlameParams(&host.in_data, nullptr).quality, c.code);
    EXPECT_EQ(checkoutFlameParams(&host.in_data, host.paramArray()).emitterSource, c.code);
  }
  host.setValue(kParamSmoothSampling, 7);
  EXPECT_EQ(checkoutFlameParams(&host.in_data, nullptr).smoothSampling, 1);
  host.setValue(kParamRiseSpeed, -2.5);
  host.setValue(kParamRiseHeight, 12.0);
  host.setValue(kParamStepSize, 0.3);  // narrowed from the double
  FlameParams params = checkoutFlameParams(&host.in_data, host.paramArray());
  EXPECT_EQ(params.riseSpeed, -2.5f);
  EXPECT_EQ(params.riseHeight, 12.0f);
  EXPECT_EQ(params.stepSize, 0.3f);

  host.in_data.current_time = 48;
  host.in_data.time_scale = 24;
  EXPECT_EQ(checkoutFlameParams(&host.in_data, nullptr).timeSeconds, 2.0);
  host.in_data.time_scale = 0;
  EXPECT_EQ(checkoutFlameParams(&host.in_data, nullptr).timeSeconds, 0.0);

  host.in_data.downsample_x = {1, 0};
  host.in_data.downsample_y = {-3, 4};
  host.in_data.pixel_aspect_ratio = {10, 11};
  RenderRequest request = makeRenderRequest(&host.in_data);
  EXPECT_EQ(request.downsampleX, 1.0);
  EXPECT_EQ(request.downsampleY, -0.75);
  EXPECT_EQ(request.pixelAspect, 10.0 / 11.0);
  EXPECT_EQ(request.emitter, nullptr);
}

TEST(ParamCheckout, ValuesFollowTheCheckoutTime) {
  TestHost host;
  ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
  host.setValueOverTime(kParamNoiseFrequency, [](A_long t, A_long, A_u_long scale) { return double(t) / scale; });
  host.in_data.current_time = 36;
  host.in_data.time_scale = 24;
  EXPECT_EQ(checkoutFlameParams(&host.in_data, nullptr).noiseFrequency, 1.5f);
}

}  // namespace
