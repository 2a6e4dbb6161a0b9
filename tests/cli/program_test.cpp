// End-to-end runs of the vortelline program on tiny frames.
#include <gtest/gtest.h>

#include <QRect>

extern "C" {
#include <libavformat/avformat.h>
}

#include <ImfChannelList.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>

#include <sys/stat.h>

#include "authoring/emitter_text_style.h"
#include "drawing/emitter_text.h"
#include "media/image_files.h"
#include "session/host_session.h"
#include "session/program_errors.h"
#include "tests/support/program_runner.h"

namespace {

// 32 x 18 pixels at 64 steps: a few milliseconds of rendering.
const std::vector<std::string> tinyFrame{"--size", "32x18", "--set", "Quality=Draft (64)", "--quiet"};

std::vector<std::string> renderArguments(std::vector<std::string> extra) {
  std::vector<std::string> arguments{"render"};
  arguments.insert(arguments.end(), tinyFrame.begin(), tinyFrame.end());
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return arguments;
}

std::string fileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct PngHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitDepth = 0;
  int colorType = 0;
};

PngHeader pngHeader(const std::string& path) {
  std::string bytes = fileBytes(path);
  PngHeader header;
  if (bytes.size() < 26) {
    return header;
  }
  auto big32 = [&](size_t at) {
    return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
           (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
  };
  header.width = big32(16);
  header.height = big32(20);
  header.bitDepth = uint8_t(bytes[24]);
  header.colorType = uint8_t(bytes[25]);
  return header;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch = makeScratchFolder();
    frames = scratch + "/frames";
    std::filesystem::create_directory(frames);
  }
  void TearDown() override { std::filesystem::remove_all(scratch); }

  ProgramRun run(const std::vector<std::string>& arguments) { return runProgram(arguments, scratch); }

  // Renders with the tiny frame settings plus extra; the run must succeed.
  std::string render(const std::string& name, std::vector<std::string> extra) {
    std::string path = frames + "/" + name;
    extra.insert(extra.end(), {"-o", path});
    ProgramRun result = run(renderArguments(extra));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return path;
  }

  std::vector<std::string> framesFolderEntries() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(frames)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  std::string scratch;
  std::string frames;
};

// The effect's own 32-bit output for the tiny frame, through the same host code as the program.
HostWorld effectFloatOutput(RenderPath path) {
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  session->layerWidth = 32;
  session->layerHeight = 18;
  session->bitDepth = 32;
  setParamTrack(*session, parseAssignment(session->params, "Quality=Draft (64)"));
  session->layers.push_back(std::make_shared<const HostWorld>(makeHostWorld(32, 18, 32)));
  HostWorld output = renderFrame(*session, 0, path);
  endSession(*session);
  return output;
}

float hostFloat(const HostWorld& world, int x, int y, int channel) {
  float value;
  std::memcpy(&value, pixelAddress(world.world, x, y, 32) + channel * 4, 4);
  return value;
}

TEST_F(ProgramTest, FilesHaveTheRequestedSizeDepthAndTheEffectsValues) {
  // The effect's own alpha: the default takes it from the light where the frame is opaque.
  std::string exr = render("frame.exr", {"--alpha", "effect"});
  std::string png8 = render("frame8.png", {"--alpha", "effect"});
  std::string png16 = render("frame16.png", {"--depth", "16", "--alpha", "effect"});
  std::string halfSize = render("half.png", {"--downsample", "2", "--alpha", "effect"});

  struct Expected {
    std::string path;
    uint32_t width, height;
    int bitDepth;
  };
  for (const Expected& expected : {Expected{png8, 32, 18, 8}, Expected{png16, 32, 18, 16}, Expected{halfSize, 16, 9, 8}}) {
    PngHeader header = pngHeader(expected.path);
    EXPECT_EQ(header.width, expected.width) << expected.path;
    EXPECT_EQ(header.height, expected.height) << expected.path;
    EXPECT_EQ(header.bitDepth, expected.bitDepth) << expected.path;
    EXPECT_EQ(header.colorType, 6) << expected.path << " is not RGBA";
  }

  Imf::InputFile exrFile(exr.c_str());
  const Imath::Box2i window = exrFile.header().dataWindow();
  EXPECT_EQ(window.max.x - window.min.x + 1, 32);
  EXPECT_EQ(window.max.y - window.min.y + 1, 18);
  int channels = 0;
  for (auto channel = exrFile.header().channels().begin(); channel != exrFile.header().channels().end(); ++channel) {
    EXPECT_EQ(channel.channel().type, Imf::FLOAT) << channel.name();
    EXPECT_TRUE(std::string("RGBA").find(channel.name()) != std::string::npos) << channel.name();
    ++channels;
  }
  EXPECT_EQ(channels, 4);

  // The EXR holds the effect's float output exactly; the PNGs hold it quantised the way the
  // effect quantises 8 and 16 bits (16-bit host values rescaled from 32768 to 65535).
  HostWorld effect = effectFloatOutput(RenderPath::smart);
  RgbaImage fromExr = readImageFile(exr);
  RgbaImage from8 = readImageFile(png8);
  RgbaImage from16 = readImageFile(png16);
  int differences = 0;
  for (int y = 0; y < 18; ++y) {
    for (int x = 0; x < 32; ++x) {
      for (int channel = 0; channel < 4; ++channel) {
        size_t index = (static_cast<size_t>(y) * 32 + x) * 4 + channel;
        float value = hostFloat(effect, x, y, (channel + 1) % 4);
        auto host8 = static_cast<uint32_t>(value * 255.0f + 0.5f);
        auto host16 = static_cast<uint32_t>(value * 32768.0f + 0.5f);
        uint32_t file16 = (host16 * 65535u + 16384u) / 32768u;
        differences += fromExr.rgba[index] != value;
        differences += static_cast<uint32_t>(std::lround(from8.rgba[index] * 255.0f)) != host8;
        differences += static_cast<uint32_t>(std::lround(from16.rgba[index] * 65535.0f)) != file16;
      }
    }
  }
  EXPECT_EQ(differences, 0);
}

TEST_F(ProgramTest, SmartAndPlainPathsWriteIdenticalFiles) {
  std::string disc = frames + "/emitter.png";
  HostWorld emitter = makeHostWorld(32, 18, 8);
  for (int y = 8; y < 14; ++y) {
    for (int x = 10; x < 20; ++x) {
      std::memset(pixelAddress(emitter.world, x, y, 8), 255, 4);
    }
  }
  writeImageFile(disc, emitter.world, 8);

  struct Case {
    std::string name;
    std::vector<std::string> options;
  };
  for (const Case& test : {Case{"volume8.png", {"--depth", "8"}}, Case{"volume16.png", {"--depth", "16"}},
                           Case{"volume16.exr", {"--depth", "16"}},
                           Case{"alpha8.png", {"--depth", "8", "--set", "Source=Layer Alpha", "--emitter", disc}},
                           Case{"luma16.png", {"--depth", "16", "--set", "Source=Layer Luma", "--input", disc}}}) {
    std::vector<std::string> smart = test.options;
    smart.insert(smart.end(), {"--path", "smart"});
    std::vector<std::string> plain = test.options;
    plain.insert(plain.end(), {"--path", "plain"});
    std::string smartFile = render("smart_" + test.name, smart);
    std::string plainFile = render("plain_" + test.name, plain);
    EXPECT_FALSE(fileBytes(smartFile).empty()) << test.name;
    EXPECT_EQ(fileBytes(smartFile), fileBytes(plainFile)) << test.name;
  }
}

TEST_F(ProgramTest, EmitterDiscSendsFlamesUpFromTheDiscOnly) {
  // A white disc of radius 10 centred at (48, 70) in a 96 x 96 layer.
  HostWorld disc = makeHostWorld(96, 96, 8);
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 96; ++x) {
      if ((x - 48) * (x - 48) + (y - 70) * (y - 70) <= 100) {
        std::memset(pixelAddress(disc.world, x, y, 8), 255, 4);
      }
    }
  }
  std::string discPath = frames + "/disc.png";
  writeImageFile(discPath, disc.world, 8);

  std::string output = frames + "/flames.png";
  ProgramRun result = run({"render", "--size", "96x96", "--set", "Quality=Draft (64)", "--set", "Source=Layer Alpha",
                           "--emitter", discPath, "-q", "-o", output});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  RgbaImage flames = readImageFile(output);
  float strongestAbove = 0.0f;
  float strongestBelow = 0.0f;
  float strongestBeside = 0.0f;
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 96; ++x) {
      float alpha = flames.rgba[(static_cast<size_t>(y) * 96 + x) * 4 + 3];
      if (x < 30 || x > 66) {
        strongestBeside = std::max(strongestBeside, alpha);
      } else if (y < 60) {
        strongestAbove = std::max(strongestAbove, alpha);
      } else if (y > 81) {
        strongestBelow = std::max(strongestBelow, alpha);
      }
    }
  }
  EXPECT_GT(strongestAbove, 0.5f);
  EXPECT_EQ(strongestBelow, 0.0f);
  EXPECT_EQ(strongestBeside, 0.0f);
}

TEST_F(ProgramTest, KeyframedValuesReachTheEffectAtEachFramesTime) {
  struct Case {
    std::string name;
    std::vector<std::string> keyed;
    std::vector<std::string> constant;
  };
  const std::vector<Case> cases{
      // Halfway between keys at frames 0 and 10.
      {"density_halfway", {"--set", "Density=0.2@0,1@10", "--frame", "5"}, {"--set", "Density=0.6", "--frame", "5"}},
      // On a key, and held after the last key.
      {"density_on_key", {"--set", "Density=0.2@0,1@10", "--frame", "0"}, {"--set", "Density=0.2", "--frame", "0"}},
      {"density_after", {"--set", "Density=0.2@0,1@10", "--frame", "14"}, {"--set", "Density=1", "--frame", "14"}},
      // Keys are frame numbers whatever the rate.
      {"density_12fps",
       {"--set", "Density=0.2@0,1@10", "--frame", "5", "--fps", "12"},
       {"--set", "Density=0.6", "--frame", "5", "--fps", "12"}},
      // A colour's Hue drives the hidden slider that the render reads.
      {"hue", {"--set", "Inner Color/Hue=100@0,200@10", "--frame", "5"}, {"--set", "Inner Color/Hue=150", "--frame", "5"}},
      // Popups hold each key until the next one.
      {"quality_hold",
       {"--set", "Quality=Draft@0,Balanced@4", "--frame", "3"},
       {"--set", "Quality=Draft", "--frame", "3"}},
      // Frame 10 at 24 fps and frame 5 at 12 fps are the same moment.
      {"same_time", {"--fps", "24", "--frame", "10"}, {"--fps", "12", "--frame", "5"}},
  };
  for (const Case& test : cases) {
    std::string keyed = render(test.name + "_keyed.png", test.keyed);
    std::string constant = render(test.name + "_constant.png", test.constant);
    EXPECT_FALSE(fileBytes(keyed).empty()) << test.name;
    EXPECT_EQ(fileBytes(keyed), fileBytes(constant)) << test.name;
  }

  // And the values do change the picture: the time, and the keyed value.
  EXPECT_NE(fileBytes(render("t0.png", {"--frame", "0"})), fileBytes(render("t10.png", {"--frame", "10"})));
  EXPECT_NE(fileBytes(render("d5.png", {"--set", "Density=0.2@0,1@10", "--frame", "5"})),
            fileBytes(render("d_constant.png", {"--set", "Density=0.2", "--frame", "5"})));
}

TEST_F(ProgramTest, NotesPointOutSettingsThatCannotShow) {
  std::string disc = frames + "/emitter.png";
  writeImageFile(disc, makeHostWorld(32, 18, 8).world, 8);
  struct Case {
    std::vector<std::string> options;
    std::string note;  // empty: no note at all
  };
  const std::vector<Case> cases{
      {{"--set", "Source=Layer Alpha"}, "neither --emitter nor --input"},
      {{"--set", "Source=Original@0,Layer Luma@5"}, "neither --emitter nor --input"},
      {{"--emitter", disc}, "the emitter is used with --set \"Source=Layer Alpha\""},
      {{"--set", "Source=Layer Alpha", "--input", disc}, ""},
      {{"--set", "Source=Layer Alpha", "--emitter", disc}, ""},
      {{"--set", "Step Size=0.3", "--set", "Source=Layer Luma", "--emitter", disc},
       "greys out \"Step Size\" while \"Source\" is \"Layer Luma\""},
      {{"--set", "Rise Speed=2"}, "greys out \"Emitter/Rise Speed\" while \"Source\" is \"Original Volume\""},
      {{"--set", "Rise Speed=2", "--set", "Source=Layer Alpha", "--emitter", disc}, ""},
      {{"--set", "Step Size=0.3"}, ""},
      {{}, ""},
  };
  for (const Case& test : cases) {
    std::vector<std::string> options = test.options;
    options.insert(options.end(), {"--alpha", "effect", "-o", frames + "/note.png"});
    ProgramRun result = run(renderArguments(options));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    if (test.note.empty()) {
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_NE(result.err.find("note: "), std::string::npos) << result.err;
      EXPECT_NE(result.err.find(test.note), std::string::npos) << result.err;
    }
  }
}

TEST_F(ProgramTest, SequencesAreNamedByFrameNumber) {
  ProgramRun result = run(renderArguments({"--frames", "8-10", "-o", frames + "/seq/flames_###.png"}));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  for (const char* name : {"flames_008.png", "flames_009.png", "flames_010.png"}) {
    EXPECT_TRUE(std::filesystem::exists(frames + "/seq/" + name)) << name;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(frames + "/seq"), std::filesystem::directory_iterator()),
            3);
}

// Files are written while the next frame renders: a failed write still ends the run with its
// message, and no later frame is written.
TEST_F(ProgramTest, AFailedWriteStopsTheSequenceAtThatFrame) {
  std::filesystem::create_directories(frames + "/seq/flames_009.png");
  ProgramRun result = run(renderArguments({"--frames", "8-11", "-o", frames + "/seq/flames_###.png"}));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("cannot write"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("flames_009.png"), std::string::npos) << result.err;
  EXPECT_TRUE(std::filesystem::exists(frames + "/seq/flames_008.png"));
  EXPECT_FALSE(std::filesystem::exists(frames + "/seq/flames_010.png"));
  EXPECT_FALSE(std::filesystem::exists(frames + "/seq/flames_011.png"));
}

timespec folderTime(const std::string& folder) {
  struct stat status {};
  stat(folder.c_str(), &status);
  return status.st_mtim;
}

// A frame write makes its temporary file in the folder and removes it when the write fails: the
// folder then has changed and holds no temporary file. A fixed sleep instead raced a slow
// (sanitized, loaded) program that had not yet reached the write.
void waitUntilAWriteWasTriedAndCleanedUp(const std::string& folder, timespec before) {
  for (int tries = 0; tries < 6000; ++tries) {
    const timespec now = folderTime(folder);
    const bool changed = now.tv_sec != before.tv_sec || now.tv_nsec != before.tv_nsec;
    const bool temporaryLeft = std::any_of(std::filesystem::directory_iterator(folder), {},
                                           [](const auto& entry) { return entry.path().filename().string()[0] == '.'; });
    if (changed && !temporaryLeft) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "no write was tried in " << folder;
}

// A write that fails while the next frame renders is reported even when that frame fails or is
// cancelled too, and decides the exit status: a full disk must not look like a user's cancel.
TEST_F(ProgramTest, AFailedWriteIsReportedWhenTheNextFrameFailsOrIsCancelled) {
  struct Case {
    std::string name;
    std::vector<std::string> options;
    int signal;  // sent while frame 1 renders; 0: none
    std::string laterFailure;
  };
  // Frame 0 has no layer to take flames from, so it is done at once; frame 1 keeps the reference
  // kernel busy for seconds.
  const std::vector<Case> cases{
      {"failed", {"--set", "Density=1@0,nan@1"}, 0, "Vortelline: Non-finite parameter: Density\n"},
      {"cancelled",
       {"--size", "400x400", "--set", "Quality=Original (256)", "--set", "Source=Layer Alpha@0,Original Volume@1"},
       SIGINT,
       "vortelline: cancelled\n"},
  };
  setenv("VORTELLINE_CPU_KERNEL", "reference", 1);
  for (const Case& test : cases) {
    const std::string folder = frames + "/" + test.name;
    std::filesystem::create_directories(folder + "/f_0.png");
    std::vector<std::string> options = test.options;
    options.insert(options.end(), {"--frames", "0-1", "-o", folder + "/f_#.png"});
    const timespec beforeRun = folderTime(folder);
    RunningProgram running = startProgram(renderArguments(options), scratch);
    if (test.signal != 0) {
      waitUntilProgramCatchesInterrupt(running.pid);
      waitUntilAWriteWasTriedAndCleanedUp(folder, beforeRun);
      kill(running.pid, test.signal);
    }
    ProgramRun result = finishProgram(running);
    EXPECT_EQ(result.exitCode, 1) << test.name << ": " << result.err;
    // In the order they happened.
    const size_t writeFailure = result.err.find("vortelline: cannot write " + folder + "/f_0.png");
    EXPECT_NE(writeFailure, std::string::npos) << test.name << ": " << result.err;
    EXPECT_NE(result.err.find(test.laterFailure, writeFailure), std::string::npos) << test.name << ": " << result.err;
    EXPECT_FALSE(std::filesystem::exists(folder + "/f_1.png")) << test.name;
  }
  unsetenv("VORTELLINE_CPU_KERNEL");
}

// What identifies the file itself: a file written again gets a new inode (atomic rename) or a new time.
std::string fileIdentity(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return "missing";
  }
  return std::to_string(status.st_ino) + "@" + std::to_string(status.st_mtim.tv_sec) + "." +
         std::to_string(status.st_mtim.tv_nsec);
}

TEST_F(ProgramTest, TaskSharesAndResumedRunsWriteTheFramesOfAFullRun) {
  ProgramRun full = run(renderArguments({"--frames", "0-6", "-o", frames + "/full/f_#.png"}));
  ASSERT_EQ(full.exitCode, 0) << full.err;
  for (const char* task : {"0/3", "1/3", "2/3"}) {
    ProgramRun share = run(renderArguments({"--frames", "0-6", "--task", task, "-o", frames + "/tasks/f_#.png"}));
    EXPECT_EQ(share.exitCode, 0) << share.err;
  }
  std::string alone = render("alone.png", {"--frame", "5"});

  // A resumed run renders only what is missing: one share is there, and a file that is not even an
  // image stands in for a frame, so that rendering it again would show.
  ProgramRun before = run(renderArguments({"--frames", "0-6", "--task", "1/3", "-o", frames + "/resumed/f_#.png"}));
  ASSERT_EQ(before.exitCode, 0) << before.err;
  std::ofstream(frames + "/resumed/f_6.png") << "kept as it is";
  std::vector<std::string> identities;
  for (int frame : {3, 4, 6}) {
    identities.push_back(fileIdentity(frames + "/resumed/f_" + std::to_string(frame) + ".png"));
  }
  ProgramRun resumed = run(renderArguments({"--frames", "0-6", "--skip-existing", "-o", frames + "/resumed/f_#.png"}));
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_NE(resumed.err.find("skipping 3 of 7 frames"), std::string::npos) << resumed.err;
  std::vector<std::string> identitiesAfter;
  for (int frame : {3, 4, 6}) {
    identitiesAfter.push_back(fileIdentity(frames + "/resumed/f_" + std::to_string(frame) + ".png"));
  }
  EXPECT_EQ(identitiesAfter, identities);
  EXPECT_EQ(fileBytes(frames + "/resumed/f_6.png"), "kept as it is");

  for (int frame = 0; frame <= 6; ++frame) {
    std::string name = "/f_" + std::to_string(frame) + ".png";
    EXPECT_FALSE(fileBytes(frames + "/full" + name).empty()) << name;
    EXPECT_EQ(fileBytes(frames + "/tasks" + name), fileBytes(frames + "/full" + name)) << name;
    if (frame != 6) {
      EXPECT_EQ(fileBytes(frames + "/resumed" + name), fileBytes(frames + "/full" + name)) << name;
    }
  }
  EXPECT_EQ(fileBytes(alone), fileBytes(frames + "/full/f_5.png"));
  for (const char* folder : {"/tasks", "/resumed"}) {
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(frames + folder), std::filesystem::directory_iterator()),
              7)
        << folder;
  }
}

TEST_F(ProgramTest, UsageErrorsExitWithTwoAndAHelpfulMessage) {
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> expectedTexts;
    std::string output = "usage.png";
  };
  const std::vector<Case> cases{
      {{"--set", "Densty=1"}, {"--set: unknown control \"Densty\"", "\"Density\""}},
      {{"--set", "Noise Freq=2"}, {"\"Noise Frequency\""}},
      // A control's own name is matched without its group.
      {{"--set", "Rise Hieght=30"}, {"\"Emitter/Rise Height\""}},
      {{"--set", "Gain=120"}, {"\"Inner Color/Gain\"", "\"Main Color/Gain\"", "\"Outer Color/Gain\""}},
      {{"--set", "Quality=Fast"}, {"\"Draft (64)\"", "\"Balanced (128)\"", "\"Original (256)\""}},
      {{"--set", "Quality=4"}, {"from 1 to 3"}},
      {{"--set", "Smooth Sampling=maybe"}, {"on or off"}},
      {{"--set", "Density=lots"}, {"\"lots\" is not a number"}},
      {{"--set", "Density=1@0,2"}, {"VALUE@FRAME"}},
      {{"--set", "Density"}, {"Name=VALUE"}},
      {{"--set", "Emitter Layer=1"}, {"--emitter"}},
      {{"--frames", "5-2"}, {"FIRST-LAST"}},
      // Unset shell variables: each would otherwise render the default and report success.
      {{"--frames", ""}, {"--frames is empty"}},
      {{"--preset", ""}, {"--preset is empty"}},
      {{"--loop", ""}, {"--loop is empty"}},
      // "--frames=$FRAMES" with FRAMES unset: the next argument is not its value.
      {{"--frames=", "--quiet"}, {"--frames is empty"}},
      {{"--quality="}, {"--quality is empty"}, "usage.mp4"},
      {{"--emitter-scale=", "--set", "Density=1"}, {"--emitter-scale is empty"}},
      {{"--quiet"}, {".png or .exr", ".mov, .mkv, .webm or .mp4"}, "usage.gif"},
      {{"--size", "0x10"}, {"WIDTHxHEIGHT"}},
      {{"--size", "16385x10"}, {"16384"}},
      {{"--fps", "0"}, {"--fps", "30000/1001"}},
      {{"--pixel-aspect", "0"}, {"--pixel-aspect", "10/11"}},
      // An EXR holds the effect's float values unless 16 bits are asked for.
      {{"--path", "plain"}, {"--depth 16", "--path smart"}, "usage.exr"},
      {{"--depth", "32"}, {".exr"}},
      {{"--depth", "12"}, {"--depth"}},
      {{"--frames", "0-2"}, {"#"}},
      // Every task of a sequence would write the same file.
      {{"--frames", "0-2", "--task", "0/3"}, {"#"}},
      {{"--task", "4/4"}, {"less than COUNT (4)"}},
      {{"--task", "0/0"}, {"at least 1"}},
      {{"--task", "/"}, {"INDEX/COUNT"}},
      {{"--processing", "fast"}, {"--processing"}},
      {{"--pixel-aspect", "101"}, {"--pixel-aspect", "up to 100"}},
      // Movies: encoders the container takes, one file for all frames, written whole by one run.
      {{"--codec", "nonesuch"}, {"--codec nonesuch", "prores_ks", "qtrle"}, "usage.mov"},
      {{"--codec", "qtrle"}, {"does not fit a .mp4", "libx264"}, "usage.mp4"},
      // FFmpeg's list for QuickTime names VP8 and VP9, which its muxer then refuses to write.
      {{"--codec", "libvpx"}, {"does not fit a .mov", "prores_ks"}, "usage.mov"},
      {{"--codec", "libvpx-vp9"}, {"does not fit a .mov", "prores_ks"}, "usage.mov"},
      {{"--quality", "5"}, {"--quality", "ffv1"}, "usage.mkv"},
      {{"--quality", "52"}, {"0 (best) to 51"}, "usage.mp4"},
      {{"--codec", "png"}, {"movie files"}},
      {{"--frames", "0-2", "--task", "0/2"}, {"in shares", "ffmpeg"}, "usage.mov"},
      {{"--skip-existing"}, {"written whole"}, "usage.webm"},
      {{"--frames", "0-2"}, {"leave the frame number"}, "usage_#.mov"},
  };
  for (const Case& test : cases) {
    std::vector<std::string> options = test.options;
    options.insert(options.end(), {"-o", frames + "/" + test.output});
    ProgramRun result = run(renderArguments(options));
    EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(test.options) << ": " << result.err;
    for (const std::string& text : test.expectedTexts) {
      EXPECT_NE(result.err.find(text), std::string::npos) << "missing " << text << " in: " << result.err;
    }
  }
  EXPECT_TRUE(framesFolderEntries().empty());
}

TEST_F(ProgramTest, EffectFailureExitsWithOneAndTheEffectsMessage) {
  for (const char* value : {"nan", "inf", "0.5@0,inf@4"}) {
    ProgramRun result =
        run(renderArguments({"--set", std::string("Density=") + value, "--frame", "4", "-o", frames + "/bad.exr"}));
    EXPECT_EQ(result.exitCode, 1) << value;
    EXPECT_EQ(result.err, "Vortelline: Non-finite parameter: Density\n") << value;
  }
  EXPECT_TRUE(framesFolderEntries().empty());
}

TEST_F(ProgramTest, UnreadableImagesExitWithOneNamingTheFile) {
  std::string notAnImage = frames + "/notes.png";
  std::ofstream(notAnImage) << "not an image";
  std::string truncated = frames + "/truncated.png";
  writeImageFile(truncated, makeHostWorld(32, 18, 8).world, 8);
  std::filesystem::resize_file(truncated, 40);
  for (const std::string& path : {frames + "/missing.png", notAnImage, truncated}) {
    for (const char* option : {"--emitter", "--input"}) {
      ProgramRun result = run(renderArguments({option, path, "-o", frames + "/out.png"}));
      EXPECT_EQ(result.exitCode, 1) << path;
      EXPECT_NE(result.err.find(path), std::string::npos) << result.err;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(frames + "/out.png"));
}

// A settings file fails as an image does: whether it cannot be read or holds the wrong thing.
TEST_F(ProgramTest, SettingsFilesThatFailExitWithOneNamingTheFile) {
  const std::string unknownControl = scratch + "/unknown.json";
  std::ofstream(unknownControl) << R"({"vortelline_settings": 1, "controls": {"Densty": 1}})";
  const std::string badField = scratch + "/field.json";
  std::ofstream(badField) << R"({"vortelline_settings": 1, "frame": -1})";
  const std::string notSettings = scratch + "/notes.json";
  std::ofstream(notSettings) << "notes";
  for (const std::string& path : {scratch + "/missing.json", notSettings, badField, unknownControl,
                                  std::string("/dev/zero")}) {
    ProgramRun result = run(renderArguments({"--settings", path, "-o", frames + "/out.png"}));
    EXPECT_EQ(result.exitCode, 1) << path << ": " << result.err;
    EXPECT_NE(result.err.find(path), std::string::npos) << result.err;
  }
  EXPECT_TRUE(framesFolderEntries().empty());
}

// A settings file with a loop renders its timeline as the studio does, the loop's cross-fade
// included: the same files as the loop typed on the command line. Frames on the command line win;
// a single image gets the frame on show. Each run says what it renders.
TEST_F(ProgramTest, SettingsFilesRenderTheirTimelineAndLoop) {
  const std::string loop = scratch + "/loop.json";
  std::ofstream(loop) << R"json({"vortelline_settings": 1, "layer": {"width": 32, "height": 18}, "fps": "24", "frame": 2,
                                 "last_frame": 5, "loop": 6, "controls": {"Quality": "Draft (64)"}})json";
  struct Case {
    std::vector<std::string> options;
    std::string output;
    std::vector<long> frames;     // rendered, each equal to the typed loop's
    std::string said;
  };
  const std::vector<Case> cases{
      {{}, "seq_#.png", {0, 1, 2, 3, 4, 5}, "rendering frames 0-5, its timeline, in a seamless loop of 6 frames"},
      {{"--frames", "4-5"}, "part_#.png", {4, 5}, ""},
      {{}, "still.png", {2}, "rendering frame 2, the frame on show (its timeline, frames 0-5, needs a #"},
  };
  for (const Case& test : cases) {
    std::vector<std::string> options{"render", "--quiet", "--settings", loop, "-o", frames + "/" + test.output};
    options.insert(options.end(), test.options.begin(), test.options.end());
    ProgramRun result = run(options);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find(test.said), std::string::npos) << result.err;
    if (test.said.empty()) {
      EXPECT_EQ(result.err.find("rendering"), std::string::npos) << result.err;
    }
    for (long frame : test.frames) {
      std::string rendered = frames + "/" + test.output;
      if (size_t number = rendered.find('#'); number != std::string::npos) {
        rendered.replace(number, 1, std::to_string(frame));
      }
      const std::string expected = render("typed_" + std::to_string(frame) + ".png",
                                          {"--loop", "6", "--loop-fade", "3", "--frame", std::to_string(frame)});
      EXPECT_TRUE(fileBytes(rendered) == fileBytes(expected)) << test.output << " frame " << frame;
    }
  }
  const std::string movie = frames + "/loop.mkv";
  ASSERT_EQ(run({"render", "--quiet", "--settings", loop, "-o", movie}).exitCode, 0);
  AVFormatContext* format = nullptr;
  ASSERT_GE(avformat_open_input(&format, movie.c_str(), nullptr, nullptr), 0);
  AVPacket* packet = av_packet_alloc();
  int packets = 0;
  for (; av_read_frame(format, packet) >= 0; ++packets) {
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&format);
  EXPECT_EQ(packets, 6);
}

// The part of the layer a text image covers, as fractions of its width and height.
struct Coverage {
  double left = 1, top = 1, right = 0, bottom = 0;
};

Coverage coverageOf(const RgbaImage& image) {
  Coverage box;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (image.rgba[(size_t(y) * image.width + x) * 4 + 3] > 0.5f) {
        box = Coverage{std::min(box.left, double(x) / image.width), std::min(box.top, double(y) / image.height),
                       std::max(box.right, double(x + 1) / image.width),
                       std::max(box.bottom, double(y + 1) / image.height)};
      }
    }
  }
  return box;
}

// A settings file's text is drawn for the size rendered: the same part of the layer as in the
// file's own, whether its size was fitted or set in pixels, and never its saved image of the
// file's size. Rendered at another size, it gives the frames of the text drawn at that size.
TEST_F(ProgramTest, TextEmittersAreDrawnForTheSizeRendered) {
  for (int pixelSize : {0, 30}) {
    const std::string look = scratch + "/text" + std::to_string(pixelSize) + ".json";
    EmitterTextStyle style;
    style.pixelSize = pixelSize;
    const RgbaImage saved = drawEmitterText("EMBERS", 192, 108, style);
    writeImageFile(look + ".png", hostWorldFromImage(saved, 8).world, 8);
    std::ofstream(look) << R"json({"vortelline_settings": 1, "layer": {"width": 192, "height": 108},
                                   "controls": {"Quality": "Draft (64)", "Source": "Layer Alpha"},
                                   "emitter": ")json" << look + ".png" << R"json(", "emitter_text": "EMBERS",
                                   "emitter_text_style": {"size": )json" << pixelSize << "}}";
    for (const auto& [width, height] : {std::pair{96, 54}, std::pair{384, 216}}) {
      SCOPED_TRACE("size " + std::to_string(pixelSize) + " at " + std::to_string(width) + "x" + std::to_string(height));
      const std::string size = std::to_string(width) + "x" + std::to_string(height);
      const EmitterTextStyle scaled = emitterTextStyleForLayer(style, 192, 108, width, height);
      const RgbaImage drawn = drawEmitterText("EMBERS", width, height, scaled);
      const Coverage own = coverageOf(saved);
      const Coverage there = coverageOf(drawn);
      for (auto [a, b] : {std::pair{own.left, there.left}, {own.top, there.top}, {own.right, there.right},
                          {own.bottom, there.bottom}}) {
        EXPECT_NEAR(a, b, 0.03);
      }
      // The text drawn at this size, given as the emitter image, renders the same frame.
      const std::string image = scratch + "/drawn_" + size + ".png";
      writeImageFile(image, hostWorldFromImage(drawn, 8).world, 8);
      const std::string fromFile = frames + "/file_" + std::to_string(pixelSize) + "_" + size + ".png";
      const std::string fromImage = frames + "/image_" + std::to_string(pixelSize) + "_" + size + ".png";
      ASSERT_EQ(run({"render", "--quiet", "--settings", look, "--size", size, "-o", fromFile}).exitCode, 0);
      ASSERT_EQ(run({"render", "--quiet", "--settings", look, "--size", size, "--emitter", image, "-o", fromImage})
                    .exitCode,
                0);
      EXPECT_TRUE(fileBytes(fromFile) == fileBytes(fromImage));
    }
  }
}

TEST_F(ProgramTest, InterruptStopsTheRenderAndLeavesNoFile) {
  // The reference kernel keeps the first frame busy for seconds, so the signal arrives during it
  // however fast the machine's SIMD path is.
  setenv("VORTELLINE_CPU_KERNEL", "reference", 1);
  for (int signal : {SIGINT, SIGHUP}) {
    RunningProgram running = startProgram(
        {"render", "--size", "96x1200", "--frames", "0-9", "--quiet", "-o", frames + "/long_#.exr"}, scratch);
    // Signal only once the program catches SIGINT, however slowly it starts on a busy machine.
    waitUntilProgramCatchesInterrupt(running.pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(running.pid, signal);
    ProgramRun result = finishProgram(running);
    EXPECT_EQ(result.exitCode, 128 + signal) << result.err;
    EXPECT_NE(result.err.find("cancelled"), std::string::npos) << result.err;
    EXPECT_TRUE(framesFolderEntries().empty());
  }
  unsetenv("VORTELLINE_CPU_KERNEL");
}

// What the process waits for in the kernel, such as "wait_for_partner" while it opens a FIFO.
std::string kernelWait(int pid) {
  std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
  std::string name;
  std::getline(wchan, name);
  return name;
}

TEST_F(ProgramTest, InterruptWhileOpeningAFifoInputIsACancel) {
  struct Case {
    const char* option;
    int signal;
  };
  const Case cases[] = {{"--input", SIGINT}, {"--settings", SIGINT}, {"--settings", SIGTERM}};
  for (const Case& c : cases) {
    std::string fifo = scratch + "/fifo" + c.option + std::to_string(c.signal);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunningProgram running = startProgram(renderArguments({c.option, fifo, "-o", frames + "/out.png"}), scratch);
    bool waiting = false;
    for (int wait = 0; wait < 2000 && !(waiting = kernelWait(running.pid) == "wait_for_partner"); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(waiting) << c.option << ": never saw the program open the FIFO";
    kill(running.pid, c.signal);
    ProgramRun result = finishProgram(running);
    EXPECT_EQ(result.exitCode, 128 + c.signal) << c.option << ": " << result.err;
    EXPECT_NE(result.err.find("cancelled"), std::string::npos) << result.err;
  }
}

TEST_F(ProgramTest, ParamsListsTheDeclaredControls) {
  ProgramRun result = run({"params"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  for (const char* row : {"15   5   Noise Frequency", "1.5", "0.01 .. 20", "0.1 .. 5",
                          "1 Draft (64), 2 Balanced (128), 3 Original (256)", "Inner Color/Hue", "148 %"}) {
    EXPECT_NE(result.out.find(row), std::string::npos) << row;
  }
  // Positions 0 to 57, one line each, under a heading, then the host's eleven finishing controls.
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 59 + 11);
  EXPECT_NE(result.out.find("Glow/Radius                  host's float"), std::string::npos) << result.out;
}

TEST_F(ProgramTest, AboutPrintsTheEffectsText) {
  ProgramRun result = run({"about"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out.rfind("Vortelline\nmake by Ternwick\n", 0), 0u) << result.out;
}

TEST_F(ProgramTest, BannerDrawsTheControlOpaqueGreyWhereTheBannerGoes) {
  struct Case {
    std::vector<std::string> size;
    int width, height;
    QRect banner;  // where opaque pixels are; transparent elsewhere
  };
  const Case cases[] = {
      {{}, 240, 60, QRect(0, 0, 240, 60)},
      {{"--size", "120x60"}, 120, 60, QRect(0, 15, 120, 30)},
      {{"--size", "480x120"}, 480, 120, QRect(0, 0, 240, 60)},
  };
  for (const Case& c : cases) {
    std::string path = frames + "/banner.png";
    std::vector<std::string> arguments{"banner", "-o", path};
    arguments.insert(arguments.end(), c.size.begin(), c.size.end());
    ProgramRun result = run(arguments);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    RgbaImage image = readImageFile(path);
    ASSERT_EQ(image.width, c.width);
    ASSERT_EQ(image.height, c.height);
    int light = 0;
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        const float* pixel = &image.rgba[(size_t(y) * image.width + x) * 4];
        ASSERT_EQ(pixel[3], c.banner.contains(x, y) ? 1.0f : 0.0f) << c.width << ": " << x << "," << y;
        ASSERT_TRUE(pixel[0] == pixel[1] && pixel[1] == pixel[2]) << x << "," << y;
        light += pixel[0] > 0.3f;
      }
    }
    EXPECT_GT(light, c.banner.width() * c.banner.height() / 100) << c.width;
  }
  ProgramRun exr = run({"banner", "-o", frames + "/banner.exr"});
  EXPECT_EQ(exr.exitCode, 2);
  EXPECT_NE(exr.err.find(".png"), std::string::npos) << exr.err;
}

// Output names and folders: render and banner name the same faults the same way, and both
// create the folders they write into.
TEST_F(ProgramTest, OutputNamesAndFoldersAreCheckedAndMade) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string said;     // on stderr
    std::string notSaid;  // a misleading text
  };
  // Creating folders here fails with the error of the folder itself (EPERM here, EROFS on a
  // read-only file system), not with a missing folder.
  const std::string unwritable = "/sys/vortelline-test-folder";
  const Case cases[] = {
      {renderArguments({"-o", frames + "/.png"}), 2, "names no file", ".png or .exr"},
      {renderArguments({"-o", ".EXR"}), 2, "names no file", ".png or .exr"},
      {{"banner", "-o", frames + "/x.jpg"}, 2, "ending in .png", ".exr"},
      {{"banner", "-o", frames + "/a/b/c.png"}, 0, "", "cannot"},
      {renderArguments({"-o", frames + "/d/e/f.png"}), 0, "", "cannot"},
      {renderArguments({"-o", unwritable + "/out.png"}), 1, "cannot create the folder " + unwritable,
       "No such file"},
      {{"banner", "-o", unwritable + "/out.png"}, 1, "cannot create the folder " + unwritable, "No such file"},
  };
  for (const Case& c : cases) {
    const std::string output = c.arguments.back();
    ProgramRun result = run(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << output << ": " << result.err;
    EXPECT_NE(result.err.find(c.said), std::string::npos) << output << ": " << result.err;
    EXPECT_EQ(result.err.find(c.notSaid), std::string::npos) << output << ": " << result.err;
    EXPECT_EQ(std::filesystem::exists(output), c.exitCode == 0) << output;
  }
}

TEST_F(ProgramTest, MissingOrForeignModulesExitWithOne) {
  std::string notAModule = frames + "/notes.so";
  std::ofstream(notAModule) << "not a module";
  struct Case {
    std::string module;
    std::string expected;
  };
  for (const Case& test : {Case{frames + "/none.so", "No such file"}, Case{notAModule, "not a 64-bit little-endian ELF"},
                           Case{VORTELLINE_PROGRAM_PATH, "no registration resource"}}) {
    ProgramRun result = run({"about", "--module", test.module});
    EXPECT_EQ(result.exitCode, 1) << test.module;
    EXPECT_NE(result.err.find(test.expected), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(test.module), std::string::npos) << result.err;
  }
}

}  // namespace
