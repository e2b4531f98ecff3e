#include "app/video_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kChannels = 2;
constexpr int kRgbaBytes = 4;
constexpr int kVariableAudioFrame = 4096;  // frames per audio packet when the encoder takes any
constexpr int kAacBitRate = 192000;        // bits per second, stereo
constexpr const char* kH264Preset = "medium";
constexpr const char* kH264Quality = "18";  // constant rate factor: visually lossless
constexpr int kFfv1Level = 3;               // intra-only with per-slice checksums

struct Names {
  const char* muxer;
  AVCodecID video;
  AVPixelFormat pixels;
  AVCodecID audio;
  AVSampleFormat samples;
};

Names namesFor(VideoFormat format) {
  if (format == VideoFormat::Mp4) {
    return {"mp4", AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P, AV_CODEC_ID_AAC, AV_SAMPLE_FMT_FLTP};
  }
  // FFV1 stores 8-bit RGB losslessly as packed B, G, R, unused.
  return {"matroska", AV_CODEC_ID_FFV1, AV_PIX_FMT_BGR0, AV_CODEC_ID_FLAC, AV_SAMPLE_FMT_S16};
}

std::string describe(const char* what, int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return std::string(what) + ": " + text;
}

bool endsWith(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  return std::equal(tail.begin(), tail.end(), text.end() - tail.size(), [](char a, char b) {
    return a == std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace

std::optional<VideoFormat> videoFormatFor(std::string_view path) {
  if (endsWith(path, ".mp4")) return VideoFormat::Mp4;
  if (endsWith(path, ".mkv")) return VideoFormat::Mkv;
  return std::nullopt;
}

int encodedSide(VideoFormat format, int side) {
  return format == VideoFormat::Mp4 ? side + (side & 1) : side;
}

struct VideoWriter::State {
  VideoSettings settings;
  std::string error;
  AVFormatContext* file = nullptr;
  bool fileOpen = false;  // the output's I/O context exists
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  SwsContext* scaler = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* packet = nullptr;
  int encodedWidth = 0;
  int encodedHeight = 0;
  std::vector<uint8_t> padded;   // the picture with its repeated edge (odd H.264 sides)
  std::vector<int16_t> pending;  // interleaved samples not yet a whole audio frame
  int audioFrameSize = 0;
  int64_t nextPicture = 0;  // in frames
  int64_t nextSample = 0;   // in sample frames

  ~State() {
    sws_freeContext(scaler);
    av_frame_free(&picture);
    av_frame_free(&sound);
    av_packet_free(&packet);
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    if (file && fileOpen) avio_closep(&file->pb);
    avformat_free_context(file);
  }

  bool fail(const char* what, int code) {
    error = describe(what, code);
    return false;
  }

  bool openVideo(const Names& names) {
    const AVCodec* codec = avcodec_find_encoder(names.video);
    if (!codec) {
      error = std::string("this FFmpeg has no ") + avcodec_get_name(names.video) + " encoder";
      return false;
    }
    video = avcodec_alloc_context3(codec);
    video->width = encodedWidth;
    video->height = encodedHeight;
    video->time_base = AVRational{1, settings.fps};
    video->framerate = AVRational{settings.fps, 1};
    video->pix_fmt = names.pixels;
    if (settings.format == VideoFormat::Mp4) {
      av_opt_set(video->priv_data, "preset", kH264Preset, 0);
      av_opt_set(video->priv_data, "crf", kH264Quality, 0);
      // Full-range RGB goes to studio-range BT.709, and the stream says so.
      video->color_range = AVCOL_RANGE_MPEG;
      video->colorspace = AVCOL_SPC_BT709;
      video->color_primaries = AVCOL_PRI_BT709;
      video->color_trc = AVCOL_TRC_IEC61966_2_1;
    } else {
      video->level = kFfv1Level;
      video->gop_size = 1;
      av_opt_set_int(video->priv_data, "slicecrc", 1, 0);
    }
    if (file->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(video, codec, nullptr);
    if (rc < 0) return fail("the video encoder refused its settings", rc);
    videoStream = avformat_new_stream(file, nullptr);
    if (!videoStream) return fail("no video stream", AVERROR(ENOMEM));
    videoStream->time_base = video->time_base;
    videoStream->avg_frame_rate = video->framerate;
    rc = avcodec_parameters_from_context(videoStream->codecpar, video);
    if (rc < 0) return fail("the video stream", rc);

    picture = av_frame_alloc();
    picture->format = video->pix_fmt;
    picture->width = encodedWidth;
    picture->height = encodedHeight;
    rc = av_frame_get_buffer(picture, 0);
    if (rc < 0) return fail("no picture buffer", rc);
    scaler = sws_getContext(
        encodedWidth, encodedHeight, AV_PIX_FMT_RGBA, encodedWidth, encodedHeight, names.pixels,
        SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
    if (!scaler) return fail("no colour conversion to the video's pixels", AVERROR(EINVAL));
    if (settings.format == VideoFormat::Mp4) {
      const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
      sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    }
    return true;
  }

  bool openAudio(const Names& names) {
    const AVCodec* codec = avcodec_find_encoder(names.audio);
    if (!codec) {
      error = std::string("this FFmpeg has no ") + avcodec_get_name(names.audio) + " encoder";
      return false;
    }
    audio = avcodec_alloc_context3(codec);
    audio->sample_fmt = names.samples;
    audio->sample_rate = settings.sampleRate;
    av_channel_layout_default(&audio->ch_layout, kChannels);
    audio->time_base = AVRational{1, settings.sampleRate};
    if (settings.format == VideoFormat::Mp4) audio->bit_rate = kAacBitRate;
    if (file->oformat->flags & AVFMT_GLOBALHEADER) audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(audio, codec, nullptr);
    if (rc < 0) return fail("the audio encoder refused its settings", rc);
    audioStream = avformat_new_stream(file, nullptr);
    if (!audioStream) return fail("no audio stream", AVERROR(ENOMEM));
    audioStream->time_base = audio->time_base;
    rc = avcodec_parameters_from_context(audioStream->codecpar, audio);
    if (rc < 0) return fail("the audio stream", rc);
    audioFrameSize = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || !audio->frame_size
                         ? kVariableAudioFrame
                         : audio->frame_size;
    sound = av_frame_alloc();
    return true;
  }

  // Sends one frame (null: the end) to an encoder and writes what comes out.
  bool encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame) {
    int rc = avcodec_send_frame(codec, frame);
    if (rc < 0) return fail("encoding failed", rc);
    for (;;) {
      rc = avcodec_receive_packet(codec, packet);
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (rc < 0) return fail("encoding failed", rc);
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      rc = av_interleaved_write_frame(file, packet);
      if (rc < 0) return fail("writing failed", rc);
    }
  }

  // One audio frame of `frames` sample frames from the front of `pending`.
  bool encodeSound(int frames) {
    av_frame_unref(sound);
    sound->format = audio->sample_fmt;
    sound->sample_rate = audio->sample_rate;
    sound->nb_samples = frames;
    av_channel_layout_copy(&sound->ch_layout, &audio->ch_layout);
    int rc = av_frame_get_buffer(sound, 0);
    if (rc < 0) return fail("no sound buffer", rc);
    const int16_t* in = pending.data();
    if (audio->sample_fmt == AV_SAMPLE_FMT_S16) {
      std::memcpy(sound->data[0], in, sizeof(int16_t) * kChannels * frames);
    } else {  // planar float, as the 16-bit values scaled to -1..1
      for (int c = 0; c < kChannels; ++c) {
        float* plane = reinterpret_cast<float*>(sound->data[c]);
        for (int i = 0; i < frames; ++i) plane[i] = in[kChannels * i + c] / 32768.0f;
      }
    }
    sound->pts = nextSample;
    nextSample += frames;
    pending.erase(pending.begin(), pending.begin() + kChannels * frames);
    return encode(audio, audioStream, sound);
  }
};

VideoWriter::VideoWriter() : state_(std::make_unique<State>()) {}

VideoWriter::~VideoWriter() = default;

const std::string& VideoWriter::error() const {
  return state_->error;
}

bool VideoWriter::open(const std::string& path, const VideoSettings& settings) {
  State& s = *state_;
  s.settings = settings;
  const Names names = namesFor(settings.format);
  s.encodedWidth = encodedSide(settings.format, settings.width);
  s.encodedHeight = encodedSide(settings.format, settings.height);
  // The libraries' own log lines would break the tool's one-line messages;
  // failures reach the user through error() instead.
  av_log_set_level(AV_LOG_QUIET);
  int rc = avformat_alloc_output_context2(&s.file, nullptr, names.muxer, path.c_str());
  if (rc < 0) return s.fail("no video file", rc);
  s.packet = av_packet_alloc();
  if (!s.openVideo(names) || !s.openAudio(names)) return false;
  rc = avio_open(&s.file->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (rc < 0) return s.fail("cannot open the file", rc);
  s.fileOpen = true;
  AVDictionary* options = nullptr;
  // The index goes to the front once the file is complete, so that players
  // can start before they have it all.
  if (settings.format == VideoFormat::Mp4) av_dict_set(&options, "movflags", "+faststart", 0);
  rc = avformat_write_header(s.file, &options);
  av_dict_free(&options);
  if (rc < 0) return s.fail("cannot write the file header", rc);
  return true;
}

bool VideoWriter::writeFrame(const uint8_t* top, std::ptrdiff_t stride) {
  State& s = *state_;
  const int width = s.settings.width, height = s.settings.height;
  if (s.encodedWidth != width || s.encodedHeight != height) {
    // The padding repeats the last column and row.
    const size_t row = static_cast<size_t>(s.encodedWidth) * kRgbaBytes;
    s.padded.resize(row * s.encodedHeight);
    for (int y = 0; y < s.encodedHeight; ++y) {
      const uint8_t* from = top + std::min(y, height - 1) * stride;
      uint8_t* to = &s.padded[y * row];
      std::memcpy(to, from, static_cast<size_t>(width) * kRgbaBytes);
      for (int x = width; x < s.encodedWidth; ++x) {
        std::memcpy(to + x * kRgbaBytes, from + (width - 1) * kRgbaBytes, kRgbaBytes);
      }
    }
    top = s.padded.data();
    stride = static_cast<std::ptrdiff_t>(row);
  }
  int rc = av_frame_make_writable(s.picture);
  if (rc < 0) return s.fail("no picture buffer", rc);
  const uint8_t* planes[1] = {top};
  const int strides[1] = {static_cast<int>(stride)};
  sws_scale(s.scaler, planes, strides, 0, s.encodedHeight, s.picture->data, s.picture->linesize);
  s.picture->pts = s.nextPicture++;
  return s.encode(s.video, s.videoStream, s.picture);
}

bool VideoWriter::writeAudio(const int16_t* samples, int frames) {
  State& s = *state_;
  s.pending.insert(s.pending.end(), samples, samples + kChannels * frames);
  while (static_cast<int>(s.pending.size()) >= kChannels * s.audioFrameSize) {
    if (!s.encodeSound(s.audioFrameSize)) return false;
  }
  return true;
}

bool VideoWriter::finish() {
  State& s = *state_;
  const int rest = static_cast<int>(s.pending.size()) / kChannels;
  if (rest > 0 && !s.encodeSound(rest)) return false;
  if (!s.encode(s.video, s.videoStream, nullptr) || !s.encode(s.audio, s.audioStream, nullptr)) {
    return false;
  }
  int rc = av_write_trailer(s.file);
  if (rc < 0) return s.fail("cannot finish the file", rc);
  s.fileOpen = false;
  rc = avio_closep(&s.file->pb);
  if (rc < 0) return s.fail("cannot close the file", rc);
  return true;
}
