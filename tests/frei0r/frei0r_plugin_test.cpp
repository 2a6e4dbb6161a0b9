// Drives the built frei0r plug-ins through their entry points, as a host does, for what the host
// programs cannot show: how the filter's blend modes meet the input, and what a plug-in does with
// input it must not trust.
#include <dlfcn.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <frei0r.h>
}

namespace {

constexpr unsigned width = 32;
constexpr unsigned height = 16;

struct Plugin {
  void* handle = nullptr;
  f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
  void (*destruct)(f0r_instance_t) = nullptr;
  void (*getParamInfo)(f0r_param_info_t*, int) = nullptr;
  void (*getPluginInfo)(f0r_plugin_info_t*) = nullptr;
  void (*setParamValue)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;

  explicit Plugin(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    if (!handle) {
      return;
    }
    construct = reinterpret_cast<decltype(construct)>(dlsym(handle, "f0r_construct"));
    destruct = reinterpret_cast<decltype(destruct)>(dlsym(handle, "f0r_destruct"));
    getParamInfo = reinterpret_cast<decltype(getParamInfo)>(dlsym(handle, "f0r_get_param_info"));
    getPluginInfo = reinterpret_cast<decltype(getPluginInfo)>(dlsym(handle, "f0r_get_plugin_info"));
    setParamValue = reinterpret_cast<decltype(setParamValue)>(dlsym(handle, "f0r_set_param_value"));
    update = reinterpret_cast<decltype(update)>(dlsym(handle, "f0r_update"));
  }

  int paramNamed(const std::string& name) const {
    f0r_plugin_info_t info{};
    getPluginInfo(&info);
    for (int index = 0; index < info.num_params; ++index) {
      f0r_param_info_t param{};
      getParamInfo(&param, index);
      if (name == param.name) {
        return index;
      }
    }
    ADD_FAILURE() << "no parameter " << name;
    return 0;
  }

  void setText(f0r_instance_t instance, const std::string& name, const char* text) const {
    f0r_param_string value = const_cast<char*>(text);
    setParamValue(instance, &value, paramNamed(name));
  }

  void setDouble(f0r_instance_t instance, const std::string& name, double number) const {
    f0r_param_double value = number;
    setParamValue(instance, &value, paramNamed(name));
  }
};

Plugin& filter() {
  static Plugin plugin(VORTELLINE_FREI0R_FILTER_PATH);
  return plugin;
}

Plugin& source() {
  static Plugin plugin(VORTELLINE_FREI0R_SOURCE_PATH);
  return plugin;
}

// An opaque input with every channel value somewhere in the frame.
std::vector<uint32_t> colourfulInput() {
  std::vector<uint32_t> frame(width * height);
  for (unsigned i = 0; i < frame.size(); ++i) {
    const uint32_t red = i * 7 % 256, green = i * 13 % 256, blue = 255 - i % 256;
    frame[i] = red | green << 8 | blue << 16 | 0xFF000000u;
  }
  return frame;
}

std::vector<uint32_t> filtered(const char* blend, const char* alpha, const std::vector<uint32_t>& input) {
  f0r_instance_t instance = filter().construct(width, height);
  filter().setText(instance, "fps", "24");
  filter().setText(instance, "blend", blend);
  filter().setText(instance, "alpha", alpha);
  filter().setText(instance, "Emitter/Source", "Original Volume");
  std::vector<uint32_t> output(input.size());
  filter().update(instance, 0.5, input.data(), output.data());
  filter().destruct(instance);
  return output;
}

uint32_t channel(uint32_t pixel, int index) { return pixel >> (8 * index) & 0xFF; }

uint32_t difference(uint32_t a, uint32_t b) { return std::max(a, b) - std::min(a, b); }

TEST(Frei0rPlugin, BlendModesMeetTheInput) {
  ASSERT_TRUE(filter().handle) << dlerror();
  const std::vector<uint32_t> input = colourfulInput();
  // The volume's own output is opaque, black where there is no fire: over covers the input. With
  // alpha from the light, over keeps what the flames' alpha leaves of it; add lays the light on it;
  // screen lays it on without passing full intensity. Add and screen never darken the input.
  const std::vector<uint32_t> own = filtered("replace", "effect", input);
  EXPECT_EQ(filtered("over", "effect", input), own);
  const std::vector<uint32_t> light = filtered("replace", "auto", input);
  const std::vector<uint32_t> over = filtered("over", "auto", input);
  const std::vector<uint32_t> added = filtered("add", "auto", input);
  const std::vector<uint32_t> screened = filtered("screen", "auto", input);
  int lit = 0;
  for (size_t i = 0; i < input.size(); ++i) {
    SCOPED_TRACE("pixel " + std::to_string(i));
    ASSERT_EQ(channel(own[i], 3), 255u);
    const uint32_t alpha = channel(light[i], 3);
    EXPECT_EQ(alpha, std::max({channel(own[i], 0), channel(own[i], 1), channel(own[i], 2)}));
    EXPECT_EQ(channel(over[i], 3), 255u);
    EXPECT_EQ(channel(added[i], 3), 255u);
    EXPECT_EQ(channel(screened[i], 3), 255u);
    for (int c = 0; c < 3; ++c) {
      const uint32_t overInput = (channel(own[i], c) * 255 + (255 - alpha) * channel(input[i], c) + 127) / 255;
      EXPECT_LE(difference(channel(over[i], c), overInput), 1u);
      const uint32_t sum = std::min(255u, channel(own[i], c) + channel(input[i], c));
      EXPECT_LE(difference(channel(added[i], c), sum), 1u);
      const uint32_t screen =
          channel(own[i], c) + channel(input[i], c) - (channel(own[i], c) * channel(input[i], c) + 127) / 255;
      EXPECT_LE(difference(channel(screened[i], c), screen), 1u);
      EXPECT_GE(channel(screened[i], c), channel(input[i], c));
      EXPECT_GE(channel(added[i], c), channel(input[i], c));
      lit += channel(own[i], c) > 0;
    }
  }
  EXPECT_GT(lit, 0) << "the flames are black: the test shows nothing";
}

// Without fps the host's clock, 120000 ticks a second in 32 bits, ends after 17,895.7 s: later
// times show the frame at its end, and a message says so once. With fps it reaches years further.
TEST(Frei0rPlugin, TimesBeyondTheClockAreSaidOnce) {
  ASSERT_TRUE(source().handle) << dlerror();
  struct Case {
    const char* fps;
    bool sameFrames;
    size_t messages;
  };
  for (const Case& test : {Case{"", true, 1}, Case{"24", false, 0}}) {
    f0r_instance_t instance = source().construct(width, height);
    source().setText(instance, "fps", test.fps);
    source().setText(instance, "Quality", "Draft (64)");
    std::vector<uint32_t> later(width * height), muchLater(width * height);
    testing::internal::CaptureStderr();
    source().update(instance, 17895.0, nullptr, later.data());
    source().update(instance, 18000.0, nullptr, later.data());
    source().update(instance, 30000.0, nullptr, muchLater.data());
    const std::string printed = testing::internal::GetCapturedStderr();
    source().destruct(instance);
    EXPECT_EQ(later == muchLater, test.sameFrames) << "fps " << test.fps;
    size_t messages = 0;
    for (size_t at = printed.find("beyond the effect's 32-bit clock"); at != std::string::npos;
         at = printed.find("beyond the effect's 32-bit clock", at + 1)) {
      ++messages;
    }
    EXPECT_EQ(messages, test.messages) << printed;
    if (test.messages > 0) {
      EXPECT_NE(printed.find("times after 17895.6 s"), std::string::npos) << printed;
    }
  }
}

// A host that hands over megabytes, or a new bad value on every frame, gets a few lines.
TEST(Frei0rPlugin, MessagesAreCutAndBounded) {
  ASSERT_TRUE(filter().handle) << dlerror();
  const std::vector<uint32_t> input = colourfulInput();
  std::vector<uint32_t> output(input.size());
  f0r_instance_t instance = filter().construct(width, height);
  filter().setText(instance, "Quality", "Draft (64)");
  testing::internal::CaptureStderr();
  const std::string huge(16 << 20, 'x');
  filter().setText(instance, "blend", huge.c_str());
  filter().update(instance, 0, input.data(), output.data());
  for (int value = 0; value < 50; ++value) {
    filter().setText(instance, "alpha", ("bad" + std::to_string(value)).c_str());
    filter().update(instance, 0, input.data(), output.data());
  }
  const std::string printed = testing::internal::GetCapturedStderr();
  filter().destruct(instance);
  EXPECT_LT(printed.size(), 20000u);
  EXPECT_NE(printed.find("further messages are not shown"), std::string::npos) << printed;
}

// The frame the host expects (the input, or transparent) but for the failure's notice: an opaque
// box at the bottom left corner, in the notice's two colours, with some text in it.
void expectFrameWithNotice(const std::vector<uint32_t>& output, const std::vector<uint32_t>& expected) {
  constexpr uint32_t text = 0xFF40D6FFu;  // bytes R 255, G 214, B 64, A 255
  constexpr uint32_t box = 0xFF181818u;
  unsigned right = 0;
  unsigned top = height;
  for (unsigned at = 0; at < output.size(); ++at) {
    if (output[at] != expected[at]) {
      right = std::max(right, at % width);
      top = std::min(top, at / width);
    }
  }
  ASSERT_LT(top, height) << "no notice";
  long inked = 0;
  for (unsigned at = 0; at < output.size(); ++at) {
    const bool inBox = at % width <= right && at / width >= top;
    if (inBox) {
      EXPECT_TRUE(output[at] == text || output[at] == box) << "pixel " << at;
      inked += output[at] == text;
    } else {
      EXPECT_EQ(output[at], expected[at]) << "pixel " << at;
    }
  }
  EXPECT_GT(inked, 0);
}

TEST(Frei0rPlugin, UnusableValuesLeaveTheFrameAsTheHostExpectsWithANotice) {
  ASSERT_TRUE(filter().handle && source().handle) << dlerror();
  struct Case {
    const char* param;
    std::string value;
  };
  // A FIFO nobody writes into: a host that opened it would wait forever.
  const std::string fifo = testing::TempDir() + "frei0r_settings_fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << fifo;
  const Case cases[] = {
      {"fps", "twenty-four"}, {"fps", "0"}, {"settings", "/nonexistent/look.json"}, {"settings", fifo}};
  const std::vector<uint32_t> input = colourfulInput();
  for (const Case& bad : cases) {
    SCOPED_TRACE(std::string(bad.param) + "=" + bad.value);
    f0r_instance_t filterInstance = filter().construct(width, height);
    filter().setText(filterInstance, bad.param, bad.value.c_str());
    std::vector<uint32_t> output(input.size(), 0x12345678u);
    filter().update(filterInstance, 1.0, input.data(), output.data());
    // The filter leaves its input, the source a transparent frame.
    expectFrameWithNotice(output, input);
    filter().destruct(filterInstance);

    f0r_instance_t sourceInstance = source().construct(width, height);
    source().setText(sourceInstance, bad.param, bad.value.c_str());
    source().update(sourceInstance, 1.0, nullptr, output.data());
    expectFrameWithNotice(output, std::vector<uint32_t>(input.size(), 0u));
    source().destruct(sourceInstance);
  }
}

struct SliderValue {
  const char* name;
  double value;
};

std::vector<uint32_t> sourceFrame(bool ownValues, std::initializer_list<SliderValue> sliders) {
  f0r_instance_t instance = source().construct(width, height);
  source().setText(instance, "fps", "24");
  source().setText(instance, "Quality", "Draft (64)");
  for (const SliderValue& slider : sliders) {
    source().setDouble(instance, slider.name, slider.value);
  }
  // MLT sets the trailing parameters after the controls.
  source().setDouble(instance, "own_values", ownValues ? 1 : 0);
  std::vector<uint32_t> output(width * height);
  source().update(instance, 1.25, nullptr, output.data());
  source().destruct(instance);
  return output;
}

// Kdenlive gives the controls' own values with own_values on: the frames are those of the same values
// on frei0r's [0, 1], for ranges below 0 and above it, and unset controls keep their defaults.
TEST(Frei0rPlugin, OwnValuesGiveTheFramesOfTheirUnitValues) {
  ASSERT_TRUE(source().handle) << dlerror();
  struct Case {
    std::initializer_list<SliderValue> own;
    std::initializer_list<SliderValue> unit;
  };
  const Case cases[] = {
      {{{"Animation Speed", -1.5}}, {{"Animation Speed", 0.25}}},
      {{{"Emitter/Rise Height", 12}, {"Noise Flow/X", 1}}, {{"Emitter/Rise Height", 0.2}, {"Noise Flow/X", 0.75}}},
      {{{"Tint/Blue", 4.3}, {"Tint/Amount", 0.9}, {"View/Center Y", -2}},
       {{"Tint/Blue", 0.9}, {"Tint/Amount", 0.9}, {"View/Center Y", 0.3}}},
      // Beyond single precision either way: clamped to the same greatest density, not refused.
      {{{"Density", 1e100}}, {{"Density", 1e100}}},
      {{}, {}},
  };
  const std::vector<uint32_t> defaults = sourceFrame(false, {});
  for (const Case& test : cases) {
    SCOPED_TRACE(test.own.size() ? test.own.begin()->name : "no sliders set");
    const std::vector<uint32_t> own = sourceFrame(true, test.own);
    EXPECT_EQ(own, sourceFrame(false, test.unit));
    EXPECT_EQ(own == defaults, test.own.size() == 0) << "the values change the frame, and only they do";
  }
}

// FFmpeg's fields are positional: the finishing controls follow own_values, in the table's order.
// The filter's default emitter key burns a daylight clip's highlights, not the clip.
TEST(Frei0rPlugin, FinishingComesLastAndTheFiltersKeyBurnsOnlyHighlights) {
  ASSERT_TRUE(filter().handle) << dlerror();
  const char* finishing[] = {"Glow/Amount", "Glow/Radius", "Glow/Threshold", "Flicker/Amount", "Flicker/Speed",
                             "Flicker/Tips", "Emitter Key/Key", "Emitter Key/Black Point", "Emitter Key/White Point",
                             "Emitter Key/Threshold", "Emitter Key/Softness"};
  for (Plugin* plugin : {&filter(), &source()}) {
    f0r_plugin_info_t info{};
    plugin->getPluginInfo(&info);
    const int ownValues = plugin->paramNamed("own_values");
    ASSERT_EQ(info.num_params, ownValues + 1 + static_cast<int>(std::size(finishing)));
    for (size_t i = 0; i < std::size(finishing); ++i) {
      f0r_param_info_t param{};
      plugin->getParamInfo(&param, ownValues + 1 + static_cast<int>(i));
      EXPECT_STREQ(param.name, finishing[i]);
    }
  }

  // A sunlit clip: every pixel at 60% luma, a bright sky band of 95% along the top quarter.
  std::vector<uint32_t> sunlit(width * height);
  for (unsigned i = 0; i < sunlit.size(); ++i) {
    const uint32_t level = i / width < height / 4 ? 242 : 153;
    sunlit[i] = level | level << 8 | level << 16 | 0xFF000000u;
  }
  struct Case {
    const char* key;  // nullptr: the plug-in's default
    bool burnsBelowTheSky;
  };
  for (const Case& test : {Case{nullptr, false}, Case{"Threshold", false}, Case{"Off", true}}) {
    f0r_instance_t instance = filter().construct(width, height);
    filter().setText(instance, "fps", "24");
    filter().setText(instance, "blend", "replace");
    if (test.key) {
      filter().setText(instance, "Emitter Key/Key", test.key);
    }
    std::vector<uint32_t> output(sunlit.size());
    filter().update(instance, 1.0, sunlit.data(), output.data());
    filter().destruct(instance);
    // The flames rise above what burns: the bottom rows burn only if the clip's body does.
    int lit = 0;
    for (unsigned i = width * (height - 2); i < output.size(); ++i) {
      lit += channel(output[i], 3) > 0;
    }
    EXPECT_EQ(lit > 0, test.burnsBelowTheSky) << (test.key ? test.key : "default") << ": " << lit;
  }
}

TEST(Frei0rPlugin, SourceNeverReadsTheInputPointer) {
  ASSERT_TRUE(source().handle) << dlerror();
  f0r_instance_t instance = source().construct(width, height);
  source().setText(instance, "Quality", "Draft (64)");
  std::vector<uint32_t> output(width * height), reference(width * height);
  source().update(instance, 0.25, nullptr, reference.data());
  // What MLT passes a source when it slices a frame: an address past nothing.
  const auto* bogus = reinterpret_cast<const uint32_t*>(uintptr_t{width * height * 4});
  source().update(instance, 0.25, bogus, output.data());
  EXPECT_EQ(output, reference);
  source().destruct(instance);
}

// Whether the effect module is mapped into this process.
bool effectModuleLoaded() {
  std::ifstream maps("/proc/self/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str().find("/Vortelline.so") != std::string::npos;
}

// A host unloading the plug-ins (Kdenlive closing a project) gets the effect set down and
// unloaded, with its GPU context; a later init takes it up again and draws the same frame.
TEST(Frei0rPlugin, DeinitLetsGoOfTheEffectAndInitTakesItUpAgain) {
  ASSERT_TRUE(filter().handle && source().handle) << dlerror();
  const std::vector<uint32_t> input = colourfulInput();
  const std::vector<uint32_t> before = filtered("replace", "effect", input);
  EXPECT_TRUE(effectModuleLoaded());
  for (Plugin* plugin : {&filter(), &source()}) {
    reinterpret_cast<void (*)()>(dlsym(plugin->handle, "f0r_deinit"))();
  }
  EXPECT_FALSE(effectModuleLoaded());
  for (Plugin* plugin : {&filter(), &source()}) {
    EXPECT_EQ(reinterpret_cast<int (*)()>(dlsym(plugin->handle, "f0r_init"))(), 1);
  }
  EXPECT_EQ(filtered("replace", "effect", input), before);
}

}  // namespace
