// Video files read back through FFmpeg's decoders: a lossless .mkv returns
// every picture and every sample exactly, whatever the size and the row order
// it was given; an .mp4 of an odd size is padded by repeating the last row and
// column, and lasts as long as its pictures.
#include <gtest/gtest.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cstdlib>
#include <string>
#include <vector>

#include "app/video_writer.h"

namespace {

constexpr int kFps = 10;
constexpr int kRate = 44100;

struct Decoded {
  int width = 0;
  int height = 0;
  std::vector<std::vector<uint8_t>> pictures;  // RGB rows from the top
  std::vector<int16_t> sound;                  // interleaved stereo (FLAC streams)
  double seconds = 0.0;
};

// A smooth picture whose every pixel tells its frame, row and column apart.
std::vector<uint8_t> pattern(int frame, int width, int height) {
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &rgba[(y * width + x) * 4];
      p[0] = static_cast<uint8_t>(6 * x + frame);
      p[1] = static_cast<uint8_t>(15 * y);
      p[2] = static_cast<uint8_t>(100 + 20 * frame + x + y);
      p[3] = 255;
    }
  }
  return rgba;
}

std::string scratchPath(const char* extension) {
  return std::string(::testing::TempDir()) + "orb-video-" + std::to_string(::getpid()) + extension;
}

// Writes `frames` pictures (handed over bottom-up, as the GL reads them) and
// `samples` stereo frames of a ramp.
void writeVideo(const std::string& path, VideoFormat format, int width, int height, int frames,
                int samples) {
  VideoWriter writer;
  ASSERT_TRUE(writer.open(path, VideoSettings{format, width, height, kFps, kRate}))
      << writer.error();
  const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(width) * 4;
  std::vector<int16_t> sound(2 * static_cast<size_t>(samples));
  for (size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<int16_t>(i * 37 - 20000);
  for (int k = 0; k < frames; ++k) {
    std::vector<uint8_t> topDown = pattern(k, width, height), bottomUp(topDown.size());
    for (int y = 0; y < height; ++y) {
      std::copy_n(&topDown[y * row], row, &bottomUp[(height - 1 - y) * row]);
    }
    ASSERT_TRUE(writer.writeFrame(&bottomUp[(height - 1) * row], -row)) << writer.error();
    const int from = samples * k / frames, to = samples * (k + 1) / frames;
    ASSERT_TRUE(writer.writeAudio(&sound[2 * from], to - from)) << writer.error();
  }
  ASSERT_TRUE(writer.finish()) << writer.error();
}

Decoded decode(const std::string& path) {
  Decoded out;
  AVFormatContext* file = nullptr;
  if (avformat_open_input(&file, path.c_str(), nullptr, nullptr) < 0) return out;
  avformat_find_stream_info(file, nullptr);
  out.seconds = file->duration / double(AV_TIME_BASE);
  std::vector<AVCodecContext*> codecs(file->nb_streams);
  for (unsigned i = 0; i < file->nb_streams; ++i) {
    const AVCodec* codec = avcodec_find_decoder(file->streams[i]->codecpar->codec_id);
    codecs[i] = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(codecs[i], file->streams[i]->codecpar);
    avcodec_open2(codecs[i], codec, nullptr);
  }
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  const auto take = [&](AVCodecContext* codec) {
    while (avcodec_receive_frame(codec, frame) == 0) {
      if (codec->codec_type == AVMEDIA_TYPE_VIDEO) {
        out.width = frame->width;
        out.height = frame->height;
        std::vector<uint8_t> rgb(static_cast<size_t>(frame->width) * frame->height * 3);
        SwsContext* sws = sws_getContext(
            frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
            frame->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr);
        uint8_t* planes[1] = {rgb.data()};
        const int strides[1] = {frame->width * 3};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
        sws_freeContext(sws);
        out.pictures.push_back(std::move(rgb));
      } else if (frame->format == AV_SAMPLE_FMT_S16) {
        const auto* s = reinterpret_cast<const int16_t*>(frame->data[0]);
        out.sound.insert(out.sound.end(), s, s + 2 * frame->nb_samples);
      }
    }
  };
  while (av_read_frame(file, packet) >= 0) {
    AVCodecContext* codec = codecs[packet->stream_index];
    avcodec_send_packet(codec, packet);
    av_packet_unref(packet);
    take(codec);
  }
  for (AVCodecContext* codec : codecs) {
    avcodec_send_packet(codec, nullptr);
    take(codec);
    avcodec_free_context(&codec);
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avformat_close_input(&file);
  return out;
}

TEST(VideoWriter, LosslessFileReturnsEveryPictureAndSample) {
  const std::string path = scratchPath(".mkv");
  constexpr int kWidth = 7, kHeight = 5, kFrames = 3, kSamples = 10000;  // odd sizes, part frames
  writeVideo(path, VideoFormat::Mkv, kWidth, kHeight, kFrames, kSamples);
  const Decoded video = decode(path);
  std::remove(path.c_str());
  ASSERT_EQ(video.width, kWidth);
  ASSERT_EQ(video.height, kHeight);
  ASSERT_EQ(video.pictures.size(), size_t{kFrames});
  for (int k = 0; k < kFrames; ++k) {
    const std::vector<uint8_t> rgba = pattern(k, kWidth, kHeight);
    for (int i = 0; i < kWidth * kHeight; ++i) {
      for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(video.pictures[k][3 * i + c], rgba[4 * i + c])
            << "frame " << k << " pixel " << i << " channel " << c;
      }
    }
  }
  ASSERT_EQ(video.sound.size(), size_t{2 * kSamples});
  for (size_t i = 0; i < video.sound.size(); ++i) {
    ASSERT_EQ(video.sound[i], static_cast<int16_t>(i * 37 - 20000)) << "sample " << i;
  }
}

TEST(VideoWriter, SharedFilePadsOddSidesWithTheirLastRowAndColumn) {
  const std::string path = scratchPath(".mp4");
  constexpr int kWidth = 33, kHeight = 17, kFrames = 5;
  writeVideo(path, VideoFormat::Mp4, kWidth, kHeight, kFrames, kRate * kFrames / kFps);
  const Decoded video = decode(path);
  std::remove(path.c_str());
  ASSERT_EQ(video.width, kWidth + 1);
  ASSERT_EQ(video.height, kHeight + 1);
  ASSERT_EQ(video.pictures.size(), size_t{kFrames});
  EXPECT_NEAR(video.seconds, double(kFrames) / kFps, 1.0 / kFps);
  // The padding repeats its neighbours, and the picture keeps its pattern,
  // within the lossy coding's error at this tiny size (upside down or shifted
  // by a row, the mean error would be 30 and more).
  const std::vector<uint8_t>& rgb = video.pictures.back();
  const int stride = (kWidth + 1) * 3;
  double padError = 0.0, pictureError = 0.0;
  const std::vector<uint8_t> want = pattern(kFrames - 1, kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int c = 0; c < 3; ++c) {
      padError +=
          std::abs(rgb[y * stride + kWidth * 3 + c] - rgb[y * stride + (kWidth - 1) * 3 + c]);
    }
    for (int x = 0; x < kWidth; ++x) {
      for (int c = 0; c < 3; ++c) {
        pictureError += std::abs(rgb[y * stride + x * 3 + c] - want[(y * kWidth + x) * 4 + c]);
      }
    }
  }
  for (int x = 0; x < kWidth * 3; ++x) {
    padError += std::abs(rgb[kHeight * stride + x] - rgb[(kHeight - 1) * stride + x]);
  }
  EXPECT_LT(padError / (3 * kHeight + 3 * kWidth), 8.0);
  EXPECT_LT(pictureError / (3 * kWidth * kHeight), 16.0);
}

}  // namespace
