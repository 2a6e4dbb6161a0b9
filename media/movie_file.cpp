#include "media/movie_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "media/image_files.h"
#include "session/cancellation.h"
#include "session/host_pixels.h"
#include "session/program_errors.h"

namespace {

struct ContainerTraits {
  MovieContainer container;
  const char* extension;
  const char* muxer;  // FFmpeg's name for it: the file's own name is temporary while it is written
  const char* defaultCodec;
};

// ProRes 4444 is what editors and compositors take with alpha; FFV1 archives losslessly; VP9
// plays on the web with alpha; H.264 plays everywhere, without alpha.
constexpr ContainerTraits containers[] = {
    {MovieContainer::mov, ".mov", "mov", "prores_ks"},
    {MovieContainer::mkv, ".mkv", "matroska", "ffv1"},
    {MovieContainer::webm, ".webm", "webm", "libvpx-vp9"},
    {MovieContainer::mp4, ".mp4", "mp4", "libx264"},
};

const ContainerTraits& traitsOf(MovieContainer container) {
  return *std::find_if(std::begin(containers), std::end(containers),
                       [&](const ContainerTraits& traits) { return traits.container == container; });
}

// The one quality knob of an encoder: lower is better for all three.
struct QualityKnob {
  const char* codec;
  const char* option;  // a private option of the encoder; nullptr: the quantiser in global_quality
  int lowest;
  int highest;
  std::optional<int> usual;  // none: the encoder's own rate control
};

// CRF 18 is close to visually lossless for H.264; CRF 30 is what VP9's makers suggest for HD on the
// web. ProRes keeps its profile's data rate unless a quantiser is asked for.
constexpr QualityKnob qualityKnobs[] = {
    {"libx264", "crf", 0, 51, 18},
    {"libvpx-vp9", "crf", 0, 63, 30},
    {"prores_ks", nullptr, 1, 64, std::nullopt},
};

const QualityKnob* qualityKnobOf(const std::string& codec) {
  for (const QualityKnob& knob : qualityKnobs) {
    if (codec == knob.codec) {
      return &knob;
    }
  }
  return nullptr;
}

std::string ffmpegError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Planar YUV alpha lives in a plane of its own, which we fill from the effect's alpha after
// swscale has written colour.
bool alphaHasItsOwnPlane(const AVPixFmtDescriptor& desc) {
  for (int component = 0; component < 3; ++component) {
    if (desc.comp[component].plane == desc.comp[3].plane) {
      return false;
    }
  }
  return true;
}

// RGB formats are filled sample by sample, exactly; YUV ones take colour from swscale.
bool canWritePixelFormat(AVPixelFormat format) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  constexpr uint64_t unwritable = AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL |
                                  AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER;
  if (!desc || (desc->flags & unwritable) || desc->nb_components < 3 || std::strncmp(desc->name, "xyz", 3) == 0) {
    return false;
  }
  if (desc->flags & AV_PIX_FMT_FLAG_RGB) {
    // A whole pixel in one byte (3:3:2, 1:2:1): FFmpeg's description of where each colour lies
    // is not what its encoders (GIF) read, so the colours would come out scrambled.
    return desc->comp[0].step > 1 || desc->comp[0].plane != desc->comp[1].plane;
  }
  return sws_isSupportedOutput(format) && (!(desc->flags & AV_PIX_FMT_FLAG_ALPHA) || alphaHasItsOwnPlane(*desc));
}

bool hasAlpha(AVPixelFormat format) { return av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_ALPHA; }

// The pixel format frames of sampleBits (8 or 16) bits per channel are encoded in; NONE when the
// encoder takes none we can write.
AVPixelFormat choosePixelFormat(const AVCodec& encoder, int sampleBits) {
  std::vector<AVPixelFormat> offered;
  for (const AVPixelFormat* format = encoder.pix_fmts; format && *format != AV_PIX_FMT_NONE; ++format) {
    if (canWritePixelFormat(*format)) {
      offered.push_back(*format);
    }
  }
  const bool deep = sampleBits > 8;
  // The defaults are chosen, not left to FFmpeg's least-loss rule: that picks 4:4:4 for H.264,
  // which few players decode, and would drop ProRes' alpha.
  std::vector<AVPixelFormat> wanted;
  const std::string name = encoder.name;
  if (name == "prores_ks") {
    wanted = {deep ? AV_PIX_FMT_YUVA444P12LE : AV_PIX_FMT_YUVA444P10LE, AV_PIX_FMT_YUVA444P10LE};
  } else if (name == "ffv1") {
    wanted = {deep ? AV_PIX_FMT_RGBA64LE : AV_PIX_FMT_BGRA};
  } else if (name == "libvpx-vp9") {
    wanted = {AV_PIX_FMT_YUVA420P};
  } else if (name == "libx264") {
    wanted = {AV_PIX_FMT_YUV420P};
  }
  for (AVPixelFormat format : wanted) {
    if (std::find(offered.begin(), offered.end(), format) != offered.end()) {
      return format;
    }
  }
  if (offered.empty()) {
    return AV_PIX_FMT_NONE;
  }
  offered.push_back(AV_PIX_FMT_NONE);
  return avcodec_find_best_pix_fmt_of_list(offered.data(), deep ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGBA, 1, nullptr);
}

// Silences FFmpeg's log while it lives: in a trial, a refusal is an answer, not an error to show.
class QuietFfmpegLog {
 public:
  QuietFfmpegLog() { av_log_set_level(AV_LOG_QUIET); }
  ~QuietFfmpegLog() { av_log_set_level(level_); }
  QuietFfmpegLog(const QuietFfmpegLog&) = delete;
  QuietFfmpegLog& operator=(const QuietFfmpegLog&) = delete;

 private:
  int level_ = av_log_get_level();
};

// Whether the muxer starts a stream of the encoder's codec: its list of codecs names some that it
// then refuses to write (VP8 and VP9 in QuickTime), so the muxer's own set-up is asked.
bool containerTakes(MovieContainer container, const AVCodec& encoder) {
  const AVOutputFormat* muxer = av_guess_format(traitsOf(container).muxer, nullptr, nullptr);
  if (!muxer || avformat_query_codec(muxer, encoder.id, FF_COMPLIANCE_NORMAL) != 1) {
    return false;
  }
  AVFormatContext* context = nullptr;
  if (avformat_alloc_output_context2(&context, muxer, nullptr, nullptr) < 0) {
    throw std::bad_alloc();
  }
  AVStream* stream = avformat_new_stream(context, nullptr);
  if (!stream || avio_open_dyn_buf(&context->pb) < 0) {
    avformat_free_context(context);
    throw std::bad_alloc();
  }
  stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  stream->codecpar->codec_id = encoder.id;
  stream->codecpar->width = 64;
  stream->codecpar->height = 64;
  stream->time_base = AVRational{1, 24};
  const QuietFfmpegLog quiet;
  const bool takes = avformat_init_output(context, nullptr) >= 0;
  uint8_t* written = nullptr;
  avio_close_dyn_buf(context->pb, &written);
  av_free(written);
  context->pb = nullptr;
  avformat_free_context(context);
  return takes;
}

bool fitsContainer(MovieContainer container, const AVCodec& encoder) {
  // Hardware encoders need a device that a render machine seldom has.
  constexpr int unsuitable = AV_CODEC_CAP_EXPERIMENTAL | AV_CODEC_CAP_HARDWARE | AV_CODEC_CAP_HYBRID;
  return av_codec_is_encoder(&encoder) && encoder.type == AVMEDIA_TYPE_VIDEO && !(encoder.capabilities & unsuitable) &&
         containerTakes(container, encoder) && choosePixelFormat(encoder, 8) != AV_PIX_FMT_NONE;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    text += (text.empty() ? "" : ", ") + name;
  }
  return text;
}

// A write to the temporary file, resuming after short writes and signals. FFmpeg's callback.
int writeToFile(void* opaque, uint8_t* data, int size);
int64_t seekInFile(void* opaque, int64_t offset, int whence);

}  // namespace

std::optional<MovieContainer> movieContainerForPath(const std::string& path) {
  const std::string extension = lowercaseExtension(path);
  for (const ContainerTraits& traits : containers) {
    if (extension == traits.extension) {
      return traits.container;
    }
  }
  return std::nullopt;
}

std::vector<std::string> movieCodecsFor(MovieContainer container) {
  std::vector<std::string> names{traitsOf(container).defaultCodec};
  void* iteration = nullptr;
  while (const AVCodec* encoder = av_codec_iterate(&iteration)) {
    if (fitsContainer(container, *encoder) && std::find(names.begin(), names.end(), encoder->name) == names.end()) {
      names.push_back(encoder->name);
    }
  }
  std::sort(names.begin() + 1, names.end());
  return names;
}

std::optional<MovieQualityRange> movieQualityRange(const std::string& codec) {
  const QualityKnob* knob = qualityKnobOf(codec);
  return knob ? std::optional(MovieQualityRange{knob->lowest, knob->highest}) : std::nullopt;
}

std::string chooseMovieCodec(MovieContainer container, const MovieCodecChoice& choice) {
  const ContainerTraits& traits = traitsOf(container);
  const std::string codec = choice.codec.empty() ? traits.defaultCodec : choice.codec;
  const AVCodec* encoder = avcodec_find_encoder_by_name(codec.c_str());
  if (!encoder || !fitsContainer(container, *encoder)) {
    throw UsageError("--codec " + codec + (encoder ? " does not fit" : " is not an encoder FFmpeg has for") + " a " +
                     traits.extension + " file; it takes " + joined(movieCodecsFor(container)));
  }
  if (choice.quality) {
    const QualityKnob* knob = qualityKnobOf(codec);
    if (!knob) {
      throw UsageError("--quality sets the quality of libx264 (CRF), libvpx-vp9 (CRF) and prores_ks (quantiser); " +
                       codec + " has no such setting");
    }
    if (*choice.quality < knob->lowest || *choice.quality > knob->highest) {
      throw UsageError("--quality for " + codec + " is from " + std::to_string(knob->lowest) + " (best) to " +
                       std::to_string(knob->highest) + ", got " + std::to_string(*choice.quality));
    }
  }
  return codec;
}

// Everything FFmpeg needs for one movie, freed however the movie ends.
struct MovieFile::Encoder {
  std::string path;
  std::string temporary;
  int descriptor = -1;
  int writeError = 0;  // errno of the first failed write
  bool finished = false;
  MovieFrames frames;
  AVFormatContext* muxer = nullptr;
  AVIOContext* file = nullptr;
  AVCodecContext* codec = nullptr;
  AVStream* stream = nullptr;
  AVFrame* picture = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* colourConversion = nullptr;  // YUV formats only
  int64_t nextFrame = 0;

  ~Encoder() {
    sws_freeContext(colourConversion);
    av_packet_free(&packet);
    av_frame_free(&picture);
    avcodec_free_context(&codec);
    avformat_free_context(muxer);
    if (file) {
      av_freep(&file->buffer);
      avio_context_free(&file);
    }
    if (descriptor >= 0) {
      close(descriptor);
    }
    if (!finished && !temporary.empty()) {
      std::remove(temporary.c_str());
      setTemporaryFileInProgress(nullptr);
    }
  }

  // Throws for a failed call (code < 0) or a failed write to the file since the last check.
  void check(int code) const {
    if (code >= 0 && muxer && muxer->pb && muxer->pb->error < 0) {
      code = muxer->pb->error;
    }
    if (code < 0) {
      // FFmpeg reports a failed write as the code we returned; errno says it in the user's words.
      throw RunError("cannot write " + path + ": " + (writeError != 0 ? std::strerror(writeError) : ffmpegError(code)));
    }
  }

  // Sends a frame (nullptr: the end) and writes every packet the encoder has ready.
  void encode(const AVFrame* frame) {
    check(avcodec_send_frame(codec, frame));
    while (true) {
      int received = avcodec_receive_packet(codec, packet);
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
        return;
      }
      check(received);
      // Every packet is one frame of 1/fps; encoders that leave it out would leave the last
      // frame without a duration, and the movie a frame short.
      if (packet->duration == 0) {
        packet->duration = 1;
      }
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      check(av_interleaved_write_frame(muxer, packet));
    }
  }
};

namespace {

int writeToFile(void* opaque, uint8_t* data, int size) {
  auto& encoder = *static_cast<MovieFile::Encoder*>(opaque);
  int left = size;
  while (left > 0) {
    ssize_t count = write(encoder.descriptor, data, static_cast<size_t>(left));
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      encoder.writeError = encoder.writeError != 0 ? encoder.writeError : (count < 0 ? errno : EIO);
      return AVERROR(encoder.writeError);
    }
    data += count;
    left -= static_cast<int>(count);
  }
  return size;
}

int64_t seekInFile(void* opaque, int64_t offset, int whence) {
  auto& encoder = *static_cast<MovieFile::Encoder*>(opaque);
  if (whence == AVSEEK_SIZE) {
    struct stat status {};
    return fstat(encoder.descriptor, &status) == 0 ? status.st_size : AVERROR(errno);
  }
  off_t position = lseek(encoder.descriptor, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return position < 0 ? AVERROR(errno) : position;
}

void setOption(AVCodecContext& codec, const char* name, const std::string& value) {
  av_opt_set(codec.priv_data, name, value.c_str(), 0);
}

void createTemporaryFile(MovieFile::Encoder& encoder) {
  const TemporaryFile created = createTemporaryFileFor(encoder.path);
  encoder.descriptor = created.descriptor;
  encoder.temporary = created.name;
}

void openEncoder(MovieFile::Encoder& encoder, const std::string& codecName, const MovieCodecChoice& choice) {
  const AVCodec* found = avcodec_find_encoder_by_name(codecName.c_str());
  const int sampleBits = encoder.frames.bitDepth == 8 ? 8 : 16;
  const AVPixelFormat pixelFormat = choosePixelFormat(*found, sampleBits);
  const AVPixFmtDescriptor& desc = *av_pix_fmt_desc_get(pixelFormat);
  const PF_RationalScale fps = encoder.frames.framesPerSecond;

  AVCodecContext& codec = *(encoder.codec = avcodec_alloc_context3(found));
  codec.width = encoder.frames.width;
  codec.height = encoder.frames.height;
  codec.pix_fmt = pixelFormat;
  // Frame n has time n in a time base of exactly 1/fps: 1001/30000 for 29.97.
  codec.time_base = AVRational{static_cast<int>(fps.den), static_cast<int>(fps.num)};
  codec.framerate = AVRational{static_cast<int>(fps.num), static_cast<int>(fps.den)};
  codec.color_primaries = AVCOL_PRI_BT709;
  codec.color_trc = AVCOL_TRC_BT709;
  const bool rgb = desc.flags & AV_PIX_FMT_FLAG_RGB;
  codec.colorspace = rgb ? AVCOL_SPC_RGB : AVCOL_SPC_BT709;
  codec.color_range = rgb ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
  if (encoder.muxer->oformat->flags & AVFMT_GLOBALHEADER) {
    codec.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (codecName == "prores_ks") {
    setOption(codec, "profile", "4444");
  } else if (codecName == "ffv1") {
    // Level 3 checks every slice with a CRC; every frame a key frame, so that damage to an
    // archive costs one frame and an editor can cut anywhere.
    codec.level = 3;
    codec.gop_size = 1;
  } else if (codecName == "libvpx-vp9") {
    // Constant quality (no target bit rate), rows in parallel, a speed that suits full HD.
    codec.bit_rate = 0;
    setOption(codec, "row-mt", "1");
    setOption(codec, "cpu-used", "4");
  } else if (codecName == "libvpx") {
    // VP8 keeps alpha only without alternate reference frames; with them it refuses to open.
    setOption(codec, "auto-alt-ref", "0");
  } else if (codecName == "hap") {
    // Plain Hap (DXT1) drops alpha; Hap Alpha keeps it.
    setOption(codec, "format", "hap_alpha");
  } else if (codecName == "dnxhd") {
    // The DNxHD profiles take only broadcast sizes and 4:2:2; DNxHR 444 takes any size from
    // 256x120 and the RGB this encoder is given.
    setOption(codec, "profile", "dnxhr_444");
  }
  if (const QualityKnob* knob = qualityKnobOf(codecName)) {
    if (std::optional<int> quality = choice.quality ? choice.quality : knob->usual) {
      if (knob->option) {
        setOption(codec, knob->option, std::to_string(*quality));
      } else {
        codec.global_quality = *quality * FF_QP2LAMBDA;
      }
    }
  }
  int opened = avcodec_open2(&codec, found, nullptr);
  if (opened == AVERROR_ENCODER_NOT_FOUND) {
    // FFmpeg lists encoders that wrap a system library or device (OpenMAX) it then cannot find.
    throw RunError("cannot write " + encoder.path + ": the " + codecName +
                   " encoder cannot be used on this machine: " + ffmpegError(opened));
  }
  if (opened < 0) {
    throw RunError("cannot write " + encoder.path + ": the " + codecName + " encoder does not take " +
                   std::to_string(codec.width) + "x" + std::to_string(codec.height) + " frames at " + desc.name + ": " +
                   ffmpegError(opened));
  }
  if (!rgb) {
    encoder.colourConversion =
        sws_getContext(codec.width, codec.height, sampleBits == 8 ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGBA64, codec.width,
                       codec.height, pixelFormat, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr,
                       nullptr, nullptr);
    if (!encoder.colourConversion) {
      throw std::bad_alloc();
    }
    // Full-range RGB in, BT.709 video range out: what the stream's tags say.
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(encoder.colourConversion, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
  }
}

// Fills one component line (0..3: red, green, blue, alpha) of an RGB picture, or the alpha of a
// YUV one, from 8- or 16-bit samples scaled to the component's depth.
void writeComponentLine(AVFrame& picture, const AVPixFmtDescriptor& desc, const RgbaSamples& samples, int y,
                        int component, int channel, std::vector<uint16_t>& line) {
  const uint64_t sourceFull = (1u << samples.bitDepth) - 1;
  const uint64_t targetFull = (1u << desc.comp[component].depth) - 1;
  const uint16_t* source = samples.values.data() + static_cast<size_t>(y) * samples.width * 4 + channel;
  for (int x = 0; x < samples.width; ++x) {
    const uint64_t value = source[x * 4];
    line[x] = static_cast<uint16_t>(sourceFull == targetFull ? value
                                                             : (value * targetFull * 2 + sourceFull) / (sourceFull * 2));
  }
  av_write_image_line2(line.data(), picture.data, picture.linesize, &desc, 0, y, component, samples.width, 2);
}

void clearPlane(AVFrame& picture, int plane, int rows) {
  std::memset(picture.data[plane], 0, static_cast<size_t>(picture.linesize[plane]) * rows);
}

void fillPicture(MovieFile::Encoder& encoder, const RgbaSamples& samples) {
  AVFrame& picture = *encoder.picture;
  const AVPixFmtDescriptor& desc = *av_pix_fmt_desc_get(encoder.codec->pix_fmt);
  const int chromaRows = AV_CEIL_RSHIFT(samples.height, desc.log2_chroma_h);
  std::vector<uint16_t> line(static_cast<size_t>(samples.width));
  const bool alpha = desc.flags & AV_PIX_FMT_FLAG_ALPHA;
  if (!encoder.colourConversion) {
    // Samples are or-ed into their place: the picture starts at zero.
    for (int plane = 0; plane < av_pix_fmt_count_planes(encoder.codec->pix_fmt); ++plane) {
      clearPlane(picture, plane, plane == 1 || plane == 2 ? chromaRows : samples.height);
    }
    for (int y = 0; y < samples.height; ++y) {
      for (int component = 0; component < desc.nb_components; ++component) {
        writeComponentLine(picture, desc, samples, y, component, component, line);
      }
    }
    return;
  }
  std::vector<uint8_t> bytes;
  const uint8_t* source = reinterpret_cast<const uint8_t*>(samples.values.data());
  int sourceStride = samples.width * 8;
  if (samples.bitDepth == 8) {
    bytes.assign(samples.values.begin(), samples.values.end());
    source = bytes.data();
    sourceStride = samples.width * 4;
  }
  sws_scale(encoder.colourConversion, &source, &sourceStride, 0, samples.height, picture.data, picture.linesize);
  if (alpha) {
    // swscale moves alpha by a code value now and then; the effect's own alpha goes in exactly.
    clearPlane(picture, desc.comp[3].plane, samples.height);
    for (int y = 0; y < samples.height; ++y) {
      writeComponentLine(picture, desc, samples, y, 3, 3, line);
    }
  }
}

}  // namespace

namespace {

// Opens the muxer and the encoder: what they refuse is known before a file is made.
void openMovie(MovieFile::Encoder& encoder, MovieContainer container, const std::string& codecName,
               const MovieCodecChoice& choice) {
  if (avformat_alloc_output_context2(&encoder.muxer, nullptr, traitsOf(container).muxer, nullptr) < 0 ||
      !(encoder.picture = av_frame_alloc()) || !(encoder.packet = av_packet_alloc())) {
    throw std::bad_alloc();
  }
  openEncoder(encoder, codecName, choice);
  encoder.stream = avformat_new_stream(encoder.muxer, nullptr);
  if (!encoder.stream) {
    throw std::bad_alloc();
  }
  encoder.stream->time_base = encoder.codec->time_base;
  encoder.stream->avg_frame_rate = encoder.codec->framerate;
  encoder.check(avcodec_parameters_from_context(encoder.stream->codecpar, encoder.codec));

  encoder.picture->format = encoder.codec->pix_fmt;
  encoder.picture->width = encoder.frames.width;
  encoder.picture->height = encoder.frames.height;
  // Some encoders (ProRes) write the tags of each frame into its header.
  encoder.picture->color_primaries = encoder.codec->color_primaries;
  encoder.picture->color_trc = encoder.codec->color_trc;
  encoder.picture->colorspace = encoder.codec->colorspace;
  encoder.picture->color_range = encoder.codec->color_range;
  encoder.check(av_frame_get_buffer(encoder.picture, 0));
}

// Writes the movie's header into encoder.descriptor.
void startMovie(MovieFile::Encoder& encoder) {
  constexpr int bufferBytes = 1 << 16;
  auto* buffer = static_cast<unsigned char*>(av_malloc(bufferBytes));
  encoder.file = buffer ? avio_alloc_context(buffer, bufferBytes, 1, &encoder, nullptr, writeToFile, seekInFile)
                        : nullptr;
  if (!encoder.file) {
    av_free(buffer);
    throw std::bad_alloc();
  }
  encoder.muxer->pb = encoder.file;
  // No dates, random identifiers or version strings: the same frames make the same file.
  encoder.muxer->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;
  // QuickTime keeps colour tags in a 'colr' atom, written only when asked for, and the movie's
  // duration in a time scale of its own, milliseconds unless told: frames of 1/fps fit it exactly.
  // (Matroska counts in milliseconds whatever it is told.)
  AVDictionary* muxerOptions = nullptr;
  av_dict_set(&muxerOptions, "movflags", "+write_colr", 0);
  av_dict_set_int(&muxerOptions, "movie_timescale", encoder.frames.framesPerSecond.num, 0);
  int header = avformat_write_header(encoder.muxer, &muxerOptions);
  av_dict_free(&muxerOptions);
  encoder.check(header);
}

void addSamples(MovieFile::Encoder& encoder, const RgbaSamples& samples) {
  encoder.check(av_frame_make_writable(encoder.picture));
  fillPicture(encoder, samples);
  encoder.picture->pts = encoder.nextFrame++;
  encoder.encode(encoder.picture);
}

void endMovie(MovieFile::Encoder& encoder) {
  encoder.encode(nullptr);
  encoder.check(av_write_trailer(encoder.muxer));
  avio_flush(encoder.file);
  encoder.check(0);
}

int readFromFile(void* opaque, uint8_t* data, int size) {
  auto& encoder = *static_cast<MovieFile::Encoder*>(opaque);
  while (true) {
    ssize_t count = read(encoder.descriptor, data, static_cast<size_t>(size));
    if (count < 0 && errno == EINTR) {
      continue;
    }
    return count < 0 ? AVERROR(errno) : count == 0 ? AVERROR_EOF : static_cast<int>(count);
  }
}

// The alpha of the middle row of the first frame the movie in encoder.descriptor decodes to, in
// eighths of full (0..8): its left half (written clear) and its right half (written opaque); none
// when the decoded frames have no alpha. An encoder whose library has a decoder of the same name
// decodes with it: FFmpeg's own VP9 decoder drops the alpha that libvpx and the browsers read.
std::optional<std::pair<int, int>> decodedAlphaHalves(MovieFile::Encoder& written, const std::string& codecName) {
  lseek(written.descriptor, 0, SEEK_SET);
  constexpr int bufferBytes = 1 << 16;
  auto* buffer = static_cast<unsigned char*>(av_malloc(bufferBytes));
  AVIOContext* file = buffer ? avio_alloc_context(buffer, bufferBytes, 0, &written, readFromFile, nullptr, seekInFile)
                             : nullptr;
  AVFormatContext* demuxer = avformat_alloc_context();
  AVCodecContext* codec = nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::optional<std::pair<int, int>> halves;
  bool opened = false;
  if (file && demuxer && packet && frame) {
    demuxer->pb = file;
    opened = avformat_open_input(&demuxer, nullptr, nullptr, nullptr) >= 0;
  }
  if (opened && avformat_find_stream_info(demuxer, nullptr) >= 0 && demuxer->nb_streams == 1) {
    const AVCodecParameters& parameters = *demuxer->streams[0]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder_by_name(codecName.c_str());
    if (!decoder || decoder->id != parameters.codec_id) {
      decoder = avcodec_find_decoder(parameters.codec_id);
    }
    codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    bool decoding = codec && avcodec_parameters_to_context(codec, &parameters) >= 0 &&
                    avcodec_open2(codec, decoder, nullptr) >= 0;
    bool decoded = false;
    while (decoding && !decoded) {
      const bool more = av_read_frame(demuxer, packet) >= 0;
      avcodec_send_packet(codec, more ? packet : nullptr);
      av_packet_unref(packet);
      decoded = avcodec_receive_frame(codec, frame) >= 0;
      decoding = more;
    }
    const AVPixFmtDescriptor* desc = decoded ? av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format)) : nullptr;
    if (desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA)) {
      std::vector<uint16_t> line(static_cast<size_t>(frame->width));
      av_read_image_line2(line.data(), const_cast<const uint8_t**>(frame->data), frame->linesize, desc, 0,
                          frame->height / 2, 3, frame->width, 0, 2);
      const int full = (1 << desc->comp[3].depth) - 1;
      const auto eighths = [&](int x) { return (line[static_cast<size_t>(x)] * 8 + full / 2) / full; };
      halves = std::pair{eighths(frame->width / 4), eighths(frame->width * 3 / 4)};
    }
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&codec);
  if (opened) {
    avformat_close_input(&demuxer);
  } else {
    avformat_free_context(demuxer);
  }
  if (file) {
    av_freep(&file->buffer);
    avio_context_free(&file);
  } else {
    av_free(buffer);
  }
  return halves;
}

// Whether alpha written through this encoder into this container comes back: a small frame, its
// left half clear and its right half opaque, is written into memory as a movie would be, then
// demuxed and decoded. The encoder's pixel format is not enough to go by: a muxer may drop what
// an encoder keeps beside the picture (VP9's alpha in MP4), and an encoder's own settings may
// drop what its pixel format holds.
bool alphaSurvives(MovieContainer container, const std::string& codecName, const MovieCodecChoice& choice,
                   int bitDepth) {
  constexpr int width = 128;
  constexpr int height = 64;
  MovieFile::Encoder probe;
  probe.path = "the alpha probe";
  probe.frames = MovieFrames{width, height, bitDepth, PF_RationalScale{24, 1}};
  probe.descriptor = memfd_create("vortelline-alpha-probe", MFD_CLOEXEC);
  if (probe.descriptor < 0) {
    throw RunError(std::string("cannot try the movie's alpha in memory: ") + std::strerror(errno));
  }
  const int sampleBits = bitDepth == 8 ? 8 : 16;
  RgbaSamples samples{width, height, sampleBits, std::vector<uint16_t>(static_cast<size_t>(width) * height * 4, 0)};
  const uint16_t full = static_cast<uint16_t>((1u << sampleBits) - 1);
  for (size_t pixel = 0; pixel < samples.values.size() / 4; ++pixel) {
    if (static_cast<int>(pixel % width) >= width / 2) {
      std::fill_n(samples.values.begin() + static_cast<std::ptrdiff_t>(pixel * 4), 4, full);
    }
  }
  const QuietFfmpegLog quiet;
  std::optional<std::pair<int, int>> halves;
  try {
    openMovie(probe, container, codecName, choice);
    startMovie(probe);
    addSamples(probe, samples);
    endMovie(probe);
    halves = decodedAlphaHalves(probe, codecName);
  } catch (const RunError&) {
  }
  return halves && halves->first <= 1 && halves->second >= 7;
}

}  // namespace

MovieFile::MovieFile(const std::string& path, MovieContainer container, const MovieCodecChoice& choice,
                     const MovieFrames& frames)
    : encoder_(std::make_unique<Encoder>()) {
  const std::string codecName = chooseMovieCodec(container, choice);
  // Encoders chat at the info level (libx264 lists its settings); only failures are of interest.
  av_log_set_level(AV_LOG_ERROR);
  Encoder& encoder = *encoder_;
  encoder.path = path;
  encoder.frames = frames;
  openMovie(encoder, container, codecName, choice);
  createTemporaryFile(encoder);
  startMovie(encoder);
  keepsAlpha_ = hasAlpha(encoder.codec->pix_fmt) && alphaSurvives(container, codecName, choice, frames.bitDepth);
}

MovieFile::~MovieFile() = default;

void MovieFile::addFrame(const PF_EffectWorld& world) {
  addSamples(*encoder_, rgbaSamplesFromWorld(world, encoder_->frames.bitDepth, keepsAlpha_));
}

void MovieFile::finish() {
  Encoder& encoder = *encoder_;
  endMovie(encoder);
  renameWhenOnDisk(encoder.descriptor, encoder.temporary, encoder.path);
  encoder.finished = true;
}

bool MovieFile::keepsAlpha() const { return keepsAlpha_; }
