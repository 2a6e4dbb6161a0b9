// The OpenFX plug-in in a host built from the OpenFX project's own host library: found on the
// plug-in path through the cache, described, instanced in each context, its parameters set as a
// user sets them, and its frames compared with `vortelline render`'s files byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "media/image_files.h"
#include "ofx/ofx_pixels.h"
#include "ofx_test_host.h"
#include "support/program_runner.h"

namespace {

using testhost::Clip;
using testhost::Effect;
using testhost::PixelBuffer;

constexpr int layerWidth = 96;
constexpr int layerHeight = 64;

// What every comparison sets: quick to render, and the same renderer as the program's.
const std::vector<std::pair<std::string, std::string>> quickRender = {{"Quality", "Draft (64)"},
                                                                      {"Processing", "CPU"}};

std::string scratch() {
  static const std::string folder = makeScratchFolder();
  return folder;
}

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

OFX::Host::ImageEffect::PluginCache& pluginCache() {
  static OFX::Host::ImageEffect::PluginCache& cache = [&]() -> OFX::Host::ImageEffect::PluginCache& {
    // As a compositor finds plug-ins beyond /usr/OFX/Plugins.
    // A path already set (an installed tree under test) wins.
    setenv("OFX_PLUGIN_PATH", VORTELLINE_OFX_PLUGIN_FOLDER, 0);
    return testhost::scanPlugins(scratch() + "/plugin_cache.xml");
  }();
  return cache;
}

OFX::Host::ImageEffect::ImageEffectPlugin* vortelline() { return pluginCache().getPluginById("com.ternwick.Vortelline"); }

int bitsOf(const std::string& depth) {
  return depth == kOfxBitDepthByte ? 8 : depth == kOfxBitDepthShort ? 16 : 32;
}

// An instance in a project of the given size and depth, created as a host creates one.
std::unique_ptr<Effect> makeEffect(const std::string& context, const std::string& depth, double pixelAspect = 1) {
  OFX::Host::ImageEffect::ImageEffectPlugin* plugin = vortelline();
  if (!plugin) {
    ADD_FAILURE() << "the plug-in cache has no com.ternwick.Vortelline";
    return nullptr;
  }
  std::unique_ptr<Effect> effect(dynamic_cast<Effect*>(plugin->createInstance(context, nullptr)));
  if (!effect) {
    ADD_FAILURE() << "the plug-in made no instance in the " << context << " context";
    return nullptr;
  }
  effect->width = layerWidth;
  effect->height = layerHeight;
  effect->bitDepth = depth;
  effect->pixelAspect = pixelAspect;
  EXPECT_EQ(effect->createInstanceAction(), kOfxStatOK);
  EXPECT_TRUE(effect->getClipPreferences());
  return effect;
}

void setParameters(Effect& effect, const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, value] : values) {
    OFX::Host::Param::Instance* param = testhost::parameterLabelled(effect, name);
    ASSERT_NE(param, nullptr) << "no parameter " << name;
    testhost::setByUser(effect, *param, value);
  }
}

// The host's input: an image file as the program reads it, in the clip's depth.
PixelBuffer sourceBuffer(const std::string& path, const std::string& depth) {
  const HostWorld world = hostWorldFromImage(readImageFile(path), bitsOf(depth));
  PixelBuffer buffer;
  buffer.bounds = OfxRectI{0, 0, world.world.width, world.world.height};
  buffer.bytesPerChannel = bitsOf(depth) / 8;
  buffer.bytes.resize(static_cast<size_t>(buffer.rowBytes()) * world.world.height);
  const ImageView view{reinterpret_cast<std::byte*>(buffer.bytes.data()), PixelRect{0, 0, world.world.width, world.world.height},
                       buffer.rowBytes(), bitsOf(depth), true};
  const PixelRect frame{0, 0, world.world.width, world.world.height};
  writeWorldIntoImage(world.world, PF_LRect{0, 0, world.world.width, world.world.height}, frame, view, frame);
  return buffer;
}

void connectSource(Effect& effect, PixelBuffer* source) {
  Clip* clip = dynamic_cast<Clip*>(effect.getClip(kOfxImageEffectSimpleSourceClipName));
  ASSERT_NE(clip, nullptr);
  clip->pixels = source;
  clip->regionOfDefinition = OfxRectD{0, 0, layerWidth * effect.pixelAspect, static_cast<double>(layerHeight)};
}

ImageView viewOf(PixelBuffer& buffer) {
  return ImageView{reinterpret_cast<std::byte*>(buffer.bytes.data()),
                   PixelRect{buffer.bounds.x1, buffer.bounds.y1, buffer.bounds.x2, buffer.bounds.y2}, buffer.rowBytes(),
                   buffer.bytesPerChannel * 8, true};
}

bool handled(OfxStatus status) { return status == kOfxStatOK || status == kOfxStatReplyDefault; }

struct Rendered {
  OfxStatus status = kOfxStatFailed;
  PixelBuffer output;
};

// Renders a frame (or a window of it) into a buffer the size of the effect's region of definition
// at the render scale, filled beforehand with stale bytes.
Rendered render(Effect& effect, double time, std::optional<OfxRectI> window = std::nullopt, PixelBuffer* into = nullptr) {
  const OfxPointD scale{effect.renderScale, effect.renderScale};
  OfxRectD region{};
  EXPECT_EQ(effect.getRegionOfDefinitionAction(time, scale, region), kOfxStatOK);
  Rendered result;
  PixelBuffer& output = into ? *into : result.output;
  if (!into) {
    output.bounds = OfxRectI{static_cast<int>(std::floor(region.x1 * scale.x / effect.pixelAspect)),
                             static_cast<int>(std::floor(region.y1 * scale.y)),
                             static_cast<int>(std::ceil(region.x2 * scale.x / effect.pixelAspect)),
                             static_cast<int>(std::ceil(region.y2 * scale.y))};
    output.bytesPerChannel = bitsOf(effect.bitDepth) / 8;
    output.bytes.assign(static_cast<size_t>(output.rowBytes()) * (output.bounds.y2 - output.bounds.y1), 0x5A);
  }
  Clip* clip = dynamic_cast<Clip*>(effect.getClip(kOfxImageEffectOutputClipName));
  clip->pixels = &output;
  clip->regionOfDefinition = region;
  std::map<OFX::Host::ImageEffect::ClipInstance*, OfxRectD> interests;
  EXPECT_TRUE(handled(effect.getRegionOfInterestAction(time, scale, region, interests)));
  EXPECT_TRUE(handled(effect.beginRenderAction(time, time, 1, false, scale, false, false)));
  result.status = effect.renderAction(time, kOfxImageFieldNone, window.value_or(output.bounds), scale, false, false, false);
  EXPECT_TRUE(handled(effect.endRenderAction(time, time, 1, false, scale, false, false)));
  clip->pixels = nullptr;
  if (into) {
    result.output = *into;
  }
  return result;
}

// The rendered frame written as the program writes its files.
std::string writtenAs(PixelBuffer& buffer, const std::string& path) {
  const PixelRect frame{buffer.bounds.x1, buffer.bounds.y1, buffer.bounds.x2, buffer.bounds.y2};
  const HostWorld world = worldFromImage(viewOf(buffer), frame);
  writeImageFile(path, world.world, buffer.bytesPerChannel * 8);
  return readFile(path);
}

std::string programFrame(const std::vector<std::string>& options, const std::string& path) {
  std::vector<std::string> arguments = {"render", "--quiet", "-o", path};
  arguments.insert(arguments.end(), options.begin(), options.end());
  const ProgramRun run = runProgram(arguments, scratch());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return readFile(path);
}

// An input with flat areas, gradients and transparency: flames rise from its alpha or luma.
std::string inputImage() {
  static const std::string path = [] {
    HostWorld world = makeHostWorld(layerWidth, layerHeight, 8);
    for (int y = 0; y < layerHeight; ++y) {
      for (int x = 0; x < layerWidth; ++x) {
        std::byte* argb = pixelAddress(world.world, x, y, 8);
        const bool inside = x > 20 && x < 76 && y > 36;
        argb[0] = std::byte{static_cast<unsigned char>(inside ? 255 : 0)};
        argb[1] = std::byte{static_cast<unsigned char>(inside ? 200 : 0)};
        argb[2] = std::byte{static_cast<unsigned char>(inside ? (x * 2) & 0xFF : 0)};
        argb[3] = std::byte{static_cast<unsigned char>(inside ? 40 : 0)};
      }
    }
    const std::string file = scratch() + "/input.png";
    writeImageFile(file, world.world, 8);
    return file;
  }();
  return path;
}

struct SameBitsCase {
  const char* name;
  const char* context;
  const char* depth;
  std::vector<std::pair<std::string, std::string>> controls;  // label (group/label) = value
  std::vector<std::string> programOptions;                    // beyond the controls as --set
  double time = 3;
  double scale = 1;
  double pixelAspect = 1;
  bool withInput = false;
};

// Test names in ctest's list: the case's name, not its bytes.
void PrintTo(const SameBitsCase& test, std::ostream* out) { *out << test.name; }

std::vector<SameBitsCase> sameBitsCases() {
  return {
      {"GeneratorFloat", kOfxImageEffectContextGenerator, kOfxBitDepthFloat, {}, {}},
      {"GeneratorByte", kOfxImageEffectContextGenerator, kOfxBitDepthByte, {}, {}},
      {"GeneratorShort", kOfxImageEffectContextGenerator, kOfxBitDepthShort, {{"Density", "1.6"}}, {}},
      {"FilterFloatFromLuma", kOfxImageEffectContextFilter, kOfxBitDepthFloat, {{"Emitter/Source", "Layer Luma"}}, {},
       5, 1, 1, true},
      {"FilterByteFromAlpha", kOfxImageEffectContextFilter, kOfxBitDepthByte, {{"Emitter/Source", "Layer Alpha"}}, {},
       5, 1, 1, true},
      {"FilterShortFromLuma", kOfxImageEffectContextFilter, kOfxBitDepthShort,
       {{"Emitter/Source", "Layer Luma"}, {"Emitter/Rise Height", "20"}}, {}, 5, 1, 1, true},
      {"GeneralWithoutSource", kOfxImageEffectContextGeneral, kOfxBitDepthFloat, {}, {}},
      {"GeneralWithSource", kOfxImageEffectContextGeneral, kOfxBitDepthFloat, {{"Emitter/Source", "Layer Alpha"}}, {},
       2, 1, 1, true},
      {"HalfRenderScale", kOfxImageEffectContextGenerator, kOfxBitDepthFloat, {}, {"--downsample", "2"}, 3, 0.5},
      {"QuarterRenderScaleByte", kOfxImageEffectContextGenerator, kOfxBitDepthByte, {}, {"--downsample", "4"}, 3, 0.25},
      {"WidePixels", kOfxImageEffectContextGenerator, kOfxBitDepthFloat, {}, {"--pixel-aspect", "2"}, 3, 1, 2},
      {"EveryParameterType", kOfxImageEffectContextGenerator, kOfxBitDepthFloat,
       {{"Density", "1.7"},
        {"Inner Color/Hue", "200"},
        {"Smooth Sampling", "off"},
        {"View/Zoom", "1.5"},
        {"Output Alpha", "The effect's own"}},
       {"--alpha", "effect"}},
      {"LaterFrame", kOfxImageEffectContextGenerator, kOfxBitDepthFloat, {{"Animation Speed", "-2"}}, {}, 41},
      // The finishing controls, from the table every host shares.
      {"GlowAndFlicker", kOfxImageEffectContextGenerator, kOfxBitDepthFloat,
       {{"Glow/Amount", "80"}, {"Glow/Radius", "15"}, {"Flicker/Amount", "25"}}, {}, 7},
      {"GlowHalfRenderScaleByte", kOfxImageEffectContextGenerator, kOfxBitDepthByte, {{"Glow/Amount", "100"}},
       {"--downsample", "2"}, 3, 0.5},
      {"EmitterKeyShort", kOfxImageEffectContextFilter, kOfxBitDepthShort,
       {{"Emitter/Source", "Layer Luma"}, {"Emitter Key/Key", "Threshold"}, {"Emitter Key/Threshold", "30"}}, {}, 5, 1,
       1, true},
  };
}

class SameBits : public testing::TestWithParam<SameBitsCase> {};

TEST_P(SameBits, FrameEqualsTheProgramsFile) {
  const SameBitsCase& test = GetParam();
  std::unique_ptr<Effect> effect = makeEffect(test.context, test.depth, test.pixelAspect);
  ASSERT_TRUE(effect);
  PixelBuffer source;
  if (test.withInput) {
    source = sourceBuffer(inputImage(), test.depth);
    connectSource(*effect, &source);
  }
  setParameters(*effect, quickRender);
  setParameters(*effect, test.controls);
  effect->renderScale = test.scale;
  Rendered frame = render(*effect, test.time);
  ASSERT_EQ(frame.status, kOfxStatOK) << effect->persistentMessage;
  EXPECT_EQ(effect->persistentMessage, "");

  const int bits = bitsOf(test.depth);
  const std::string extension = bits == 32 ? ".exr" : ".png";
  std::vector<std::string> options = {"--size", std::to_string(layerWidth) + "x" + std::to_string(layerHeight),
                                      "--frame", std::to_string(static_cast<long>(test.time)), "--depth",
                                      std::to_string(bits)};
  for (const auto& [name, value] : quickRender) {
    options.insert(options.end(), {"--set", name + "=" + value});
  }
  for (const auto& [name, value] : test.controls) {
    if (name != "Output Alpha") {
      options.insert(options.end(), {"--set", name + "=" + value});
    }
  }
  if (test.withInput) {
    options.insert(options.end(), {"--input", inputImage()});
  }
  options.insert(options.end(), test.programOptions.begin(), test.programOptions.end());
  const std::string expected = programFrame(options, scratch() + "/" + test.name + "_program" + extension);
  const std::string actual = writtenAs(frame.output, scratch() + "/" + test.name + "_plugin" + extension);
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(actual == expected) << "the plug-in's frame differs from vortelline render's (" << test.name << ")";
}

INSTANTIATE_TEST_SUITE_P(OpenFx, SameBits, testing::ValuesIn(sameBitsCases()),
                         [](const testing::TestParamInfo<SameBitsCase>& info) { return info.param.name; });

TEST(OpenFxHost, FindsThePluginThroughItsCacheInEveryContext) {
  OFX::Host::ImageEffect::ImageEffectPlugin* plugin = vortelline();
  ASSERT_NE(plugin, nullptr);
  EXPECT_NE(plugin->getBinary()->getFilePath().find("Vortelline.ofx.bundle/Contents/Linux-x86-64/Vortelline.ofx"),
            std::string::npos);
  const std::string cache = readFile(scratch() + "/plugin_cache.xml");
  EXPECT_NE(cache.find("com.ternwick.Vortelline"), std::string::npos);
  for (const char* context :
       {kOfxImageEffectContextFilter, kOfxImageEffectContextGenerator, kOfxImageEffectContextGeneral}) {
    EXPECT_NE(cache.find(context), std::string::npos) << context;
    EXPECT_TRUE(makeEffect(context, kOfxBitDepthFloat)) << context;
  }
}

TEST(OpenFxHost, AboutButtonShowsTheEffectsAboutText) {
  std::unique_ptr<Effect> effect = makeEffect(kOfxImageEffectContextFilter, kOfxBitDepthByte);
  ASSERT_TRUE(effect);
  setParameters(*effect, {{"About", ""}});
  ASSERT_EQ(effect->messages.size(), 1u);
  // The text the effect gives every host without a window of its own.
  const ProgramRun about = runProgram({"about"}, scratch());
  std::string text = about.out;
  while (!text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  ASSERT_FALSE(text.empty());
  EXPECT_NE(effect->messages[0].find(text), std::string::npos) << effect->messages[0];
}

TEST(OpenFxHost, KeyframesInterpolateAsTheProgramsDo) {
  std::unique_ptr<Effect> effect = makeEffect(kOfxImageEffectContextGenerator, kOfxBitDepthFloat);
  ASSERT_TRUE(effect);
  setParameters(*effect, quickRender);
  OFX::Host::Param::Instance* amplitude = testhost::parameterLabelled(*effect, "Noise Amplitude");
  ASSERT_NE(amplitude, nullptr);
  testhost::setByUser(*effect, *amplitude, "3", 0);
  testhost::setByUser(*effect, *amplitude, "12", 8);
  for (long frame : {0L, 4L, 8L}) {
    Rendered rendered = render(*effect, static_cast<double>(frame));
    ASSERT_EQ(rendered.status, kOfxStatOK);
    const std::string name = scratch() + "/keys_" + std::to_string(frame);
    const std::string expected = programFrame(
        {"--size", "96x64", "--frame", std::to_string(frame), "--depth", "32", "--set", "Quality=Draft (64)", "--set",
         "Processing=CPU", "--set", "Noise Amplitude=3@0,12@8"},
        name + "_program.exr");
    EXPECT_TRUE(writtenAs(rendered.output, name + "_plugin.exr") == expected) << "frame " << frame;
  }
}

TEST(OpenFxHost, SettingsFileSetsEveryControl) {
  std::unique_ptr<Effect> effect = makeEffect(kOfxImageEffectContextGenerator, kOfxBitDepthFloat);
  ASSERT_TRUE(effect);
  setParameters(*effect, {{"Density", "0.2"}});  // the file's look replaces it
  setParameters(*effect, {{"Settings File", std::string(VORTELLINE_SOURCE_DIR) + "/presets/magic-green.json"}});
  // Choosing the file changes nothing yet: a project restored sets the path too.
  double density = 0;
  dynamic_cast<OFX::Host::Param::DoubleInstance&>(*testhost::parameterLabelled(*effect, "Density")).get(density);
  EXPECT_EQ(density, 0.2);
  setParameters(*effect, {{"Load Settings File", ""}});
  EXPECT_EQ(effect->persistentMessage, "");
  setParameters(*effect, quickRender);
  Rendered rendered = render(*effect, 6);
  ASSERT_EQ(rendered.status, kOfxStatOK);
  const std::string expected =
      programFrame({"--size", "96x64", "--frame", "6", "--depth", "32", "--preset", "magic-green", "--set",
                    "Quality=Draft (64)", "--processing", "cpu"},
                   scratch() + "/preset_program.exr");
  EXPECT_TRUE(writtenAs(rendered.output, scratch() + "/preset_plugin.exr") == expected);

  setParameters(*effect, {{"Settings File", scratch() + "/missing.json"}, {"Load Settings File", ""}});
  EXPECT_NE(effect->persistentMessage.find("missing.json"), std::string::npos) << effect->persistentMessage;
}

TEST(OpenFxHost, TilesMakeTheWholeFrame) {
  // The glow spreads light across tiles.
  for (const char* glow : {"0", "120"}) {
    std::unique_ptr<Effect> effect = makeEffect(kOfxImageEffectContextGenerator, kOfxBitDepthFloat);
    ASSERT_TRUE(effect);
    setParameters(*effect, quickRender);
    setParameters(*effect, {{"Glow/Amount", glow}});
    Rendered whole = render(*effect, 2);
    ASSERT_EQ(whole.status, kOfxStatOK);
    PixelBuffer tiled = whole.output;
    std::fill(tiled.bytes.begin(), tiled.bytes.end(), 0x5A);
    // Uneven tiles, one reaching past the frame.
    for (const OfxRectI& tile : {OfxRectI{0, 0, 50, 30}, OfxRectI{50, 0, 96, 30}, OfxRectI{0, 30, 33, 64},
                                 OfxRectI{33, 30, 200, 100}}) {
      ASSERT_EQ(render(*effect, 2, tile, &tiled).status, kOfxStatOK);
    }
    EXPECT_TRUE(tiled.bytes == whole.output.bytes) << "glow " << glow;
  }
}

TEST(OpenFxHost, LayerLooksGreyTheVolumesControls) {
  std::unique_ptr<Effect> effect = makeEffect(kOfxImageEffectContextFilter, kOfxBitDepthByte);
  ASSERT_TRUE(effect);
  auto disabled = [&] {
    std::vector<std::string> names;
    for (OFX::Host::Param::Instance* param : effect->getParamList()) {
      if (!param->getEnabled()) {
        names.push_back(param->getName());
      }
    }
    return names;
  };
  const std::vector<std::string> volume = disabled();
  setParameters(*effect, {{"Emitter/Source", "Layer Luma"}});
  const std::vector<std::string> layer = disabled();
  EXPECT_FALSE(volume.empty());
  EXPECT_FALSE(layer.empty());
  for (const std::string& name : layer) {
    EXPECT_EQ(std::count(volume.begin(), volume.end(), name), 0) << name << " is greyed out for both looks";
  }
}

TEST(OpenFxHost, FailedFrameIsTransparentWithAPersistentMessage) {
  std::unique_ptr<Effect> effect = makeEffect(kOfxImageEffectContextGenerator, kOfxBitDepthByte);
  ASSERT_TRUE(effect);
  setParameters(*effect, quickRender);
  setParameters(*effect, {{"Density", "nan"}});
  Rendered failed = render(*effect, 1);
  EXPECT_NE(failed.status, kOfxStatOK);
  EXPECT_TRUE(std::all_of(failed.output.bytes.begin(), failed.output.bytes.end(), [](unsigned char b) { return b == 0; }))
      << "the failed frame keeps stale pixels";
  EXPECT_NE(effect->persistentMessage.find("Density"), std::string::npos) << effect->persistentMessage;

  setParameters(*effect, {{"Density", "1"}});
  Rendered recovered = render(*effect, 1);
  EXPECT_EQ(recovered.status, kOfxStatOK);
  EXPECT_EQ(effect->persistentMessage, "");
}

TEST(OpenFxHost, AbortStopsAtTheEffectsNextCheck) {
  std::unique_ptr<Effect> effect = makeEffect(kOfxImageEffectContextGenerator, kOfxBitDepthFloat);
  ASSERT_TRUE(effect);
  setParameters(*effect, {{"Processing", "CPU"}});  // Original quality: the longest frame
  effect->abortFromCall = 2;
  Rendered stopped = render(*effect, 1);
  EXPECT_NE(stopped.status, kOfxStatOK);
  // The effect asks between bands of rows: once it hears yes it stops, asking at most once more.
  EXPECT_LE(effect->abortCalls.load(), 3);
  EXPECT_TRUE(std::all_of(stopped.output.bytes.begin(), stopped.output.bytes.end(), [](unsigned char b) { return b == 0; }));
  EXPECT_EQ(effect->persistentMessage, "") << "a stop the host asked for is no error";

  effect->abortFromCall = 0;
  EXPECT_EQ(render(*effect, 1).status, kOfxStatOK);
}

TEST(OpenFxHost, InstancesRenderInThreadsAsTheyDoOneAtATime) {
  struct Job {
    const char* context;
    const char* depth;
    std::vector<std::pair<std::string, std::string>> controls;
  };
  const std::vector<Job> jobs = {{kOfxImageEffectContextGenerator, kOfxBitDepthFloat, {{"Density", "1.2"}}},
                                 {kOfxImageEffectContextFilter, kOfxBitDepthByte, {{"Emitter/Source", "Layer Luma"}}},
                                 {kOfxImageEffectContextGenerator, kOfxBitDepthShort, {{"View/Zoom", "2"}}}};
  std::vector<std::unique_ptr<Effect>> effects;
  std::vector<PixelBuffer> sources(jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) {
    effects.push_back(makeEffect(jobs[i].context, jobs[i].depth));
    ASSERT_TRUE(effects.back());
    if (std::string(jobs[i].context) == kOfxImageEffectContextFilter) {
      sources[i] = sourceBuffer(inputImage(), jobs[i].depth);
      connectSource(*effects.back(), &sources[i]);
    }
    setParameters(*effects.back(), quickRender);
    setParameters(*effects.back(), jobs[i].controls);
  }
  constexpr int frames = 3;
  std::vector<std::vector<Rendered>> together(jobs.size(), std::vector<Rendered>(frames));
  std::vector<std::thread> threads;
  for (size_t i = 0; i < jobs.size(); ++i) {
    threads.emplace_back([&, i] {
      for (int frame = 0; frame < frames; ++frame) {
        together[i][frame] = render(*effects[i], frame);
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (size_t i = 0; i < jobs.size(); ++i) {
    for (int frame = 0; frame < frames; ++frame) {
      Rendered alone = render(*effects[i], frame);
      EXPECT_EQ(together[i][frame].status, kOfxStatOK);
      EXPECT_TRUE(together[i][frame].output.bytes == alone.output.bytes) << "job " << i << " frame " << frame;
    }
  }
}

}  // namespace
